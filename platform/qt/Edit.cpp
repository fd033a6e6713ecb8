#include "platform/qt/Edit.h"

#include <QApplication>
#include <QFocusEvent>
#include <QValidator>

#include "platform/Locale.h"

namespace tarnwick {

namespace {

class TCodePageValidator : public QValidator {
public:
    TCodePageValidator(QObject* parent, std::function<void()> beep) : QValidator(parent), beep_(std::move(beep)) {}
    State validate(QString& input, int&) const override {
        const QByteArray utf8 = input.toUtf8();
        std::string converted;
        if (TryConvert("UTF-8", "CP932", std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())),
                       converted))
            return Acceptable;
        if (beep_)
            beep_();
        else
            QApplication::beep();
        return Invalid;
    }

private:
    std::function<void()> beep_;
};

}  // namespace

void RestrictToCodePage932(QLineEdit* edit, std::function<void()> beep) {
    edit->setValidator(new TCodePageValidator(edit, std::move(beep)));
}

TEdit::TEdit(QWidget* parent) : QLineEdit(parent) {
    RestrictToCodePage932(this, [this] { Beep(); });
}

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
