#include "platform/qt/Edit.h"

#include <QApplication>
#include <QFocusEvent>
#include <QValidator>

#include "platform/Locale.h"

namespace tarnwick {

namespace {

class TCodePageValidator : public QValidator {
public:
    explicit TCodePageValidator(TEdit* edit) : QValidator(edit), edit_(edit) {}
    State validate(QString& input, int&) const override {
        const QByteArray utf8 = input.toUtf8();
        std::string converted;
        if (TryConvert("UTF-8", "CP932", std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())),
                       converted))
            return Acceptable;
        edit_->Beep();
        return Invalid;
    }

private:
    TEdit* edit_;
};

}  // namespace

TEdit::TEdit(QWidget* parent) : QLineEdit(parent) { setValidator(new TCodePageValidator(this)); }

void TEdit::Beep() {
    if (OnBeep)
        OnBeep();
    else
        QApplication::beep();
}

void TEdit::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    const Qt::FocusReason reason = event->reason();
    if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason) return;
    DoExit();
}

void TEdit::DoExit() {
    if (OnExit) OnExit();
}

}  // namespace tarnwick
