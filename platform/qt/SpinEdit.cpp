#include "platform/qt/SpinEdit.h"

#include <QApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <algorithm>
#include <climits>

#include "platform/Exception.h"
#include "platform/qt/QtText.h"

namespace tarnwick {

namespace {
constexpr int ButtonWidth = 15;
constexpr int ButtonHeight = 17;

int Stepped(int value, long long step) {
    return static_cast<int>(std::clamp<long long>(value + step, INT_MIN, INT_MAX));
}
}  // namespace

TSpinButton::TSpinButton(TSpinEdit* edit) : QWidget(edit), edit_(edit) {
    setCursor(Qt::ArrowCursor);
    setFocusPolicy(Qt::NoFocus);
    repeat_.setTimerType(Qt::PreciseTimer);
    connect(&repeat_, &QTimer::timeout, this, [this] { Repeat(); });
}

void TSpinButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const int half = height() / 2;
    const QRect halves[2] = {QRect(0, 0, width(), half), QRect(0, half, width(), height() - half)};
    for (int i = 0; i < 2; ++i) {
        QStyleOptionButton button;
        button.initFrom(this);
        button.rect = halves[i];
        button.state |= QStyle::State_Raised;
        if ((i == 0 && held_ == 1) || (i == 1 && held_ == -1)) button.state |= QStyle::State_Sunken;
        style()->drawPrimitive(QStyle::PE_PanelButtonBevel, &button, &painter, this);
        QStyleOption arrow;
        arrow.initFrom(this);
        arrow.rect = halves[i].adjusted(3, 1, -3, -1);
        style()->drawPrimitive(i == 0 ? QStyle::PE_IndicatorArrowUp : QStyle::PE_IndicatorArrowDown, &arrow,
                               &painter, this);
    }
}

void TSpinButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    if (edit_->isEnabled() && !edit_->hasFocus()) edit_->setFocus(Qt::MouseFocusReason);
    held_ = event->position().y() < height() / 2 ? 1 : -1;
    update();
    held_ == 1 ? edit_->UpClick() : edit_->DownClick();
    repeat_.start(InitRepeatPause);
}

void TSpinButton::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    repeat_.stop();
    held_ = 0;
    update();
}

void TSpinButton::Repeat() {
    if (held_ == 0) {
        repeat_.stop();
        return;
    }
    repeat_.setInterval(RepeatPause);
    held_ == 1 ? edit_->UpClick() : edit_->DownClick();
}

TSpinEdit::TSpinEdit(QWidget* parent) : TEdit(parent), button_(new TSpinButton(this)) {
    button_->resize(ButtonWidth, ButtonHeight);
    setTextMargins(0, 0, ButtonWidth, 0);
}

void TSpinEdit::SetRange(int minValue, int maxValue) {
    minValue_ = minValue;
    maxValue_ = maxValue;
}

int TSpinEdit::CheckValue(int value) const {
    if (maxValue_ == minValue_) return value;
    if (value < minValue_) return minValue_;
    if (value > maxValue_) return maxValue_;
    return value;
}

int TSpinEdit::Value() const {
    int value = 0;
    if (TryStrToInt(FromQString(Folded(text())), value)) return value;
    return minValue_;
}

void TSpinEdit::SetValue(int value) { setText(QString::number(CheckValue(value))); }

void TSpinEdit::UpClick() {
    if (isReadOnly()) {
        Beep();
        return;
    }
    SetValue(Stepped(Value(), Increment));
}

void TSpinEdit::DownClick() {
    if (isReadOnly()) {
        Beep();
        return;
    }
    SetValue(Stepped(Value(), -static_cast<long long>(Increment)));
}

// A Japanese input method types full-width digits: taken as the ASCII ones.
QString TSpinEdit::Folded(const QString& text) { return text.normalized(QString::NormalizationForm_KC); }

bool TSpinEdit::IsValidChar(QChar c) const {
    if (c >= u'0' && c <= u'9') return true;
    if (c == u'+' || c == u'-') return true;
    const QString separator = QLocale::system().decimalPoint();
    if (!separator.isEmpty() && c == separator.front()) return true;
    return c.unicode() < 0x20 && c != u'\r';
}

void TSpinEdit::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Up) {
        UpClick();
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Down) {
        DownClick();
        event->accept();
        return;
    }
    const QString text = Folded(event->text());
    if (!text.isEmpty() && !IsValidChar(text.front())) {
        Beep();
        event->accept();
        return;
    }
    if (text != event->text() && !isReadOnly()) {
        insert(text);
        event->accept();
        return;
    }
    TEdit::keyPressEvent(event);
}

void TSpinEdit::inputMethodEvent(QInputMethodEvent* event) {
    const QString commit = Folded(event->commitString());
    for (QChar c : commit) {
        if (!IsValidChar(c)) {
            Beep();
            // Drop the composed text but let the edit close the composition.
            QInputMethodEvent cleared(QString(), {});
            TEdit::inputMethodEvent(&cleared);
            event->accept();
            return;
        }
    }
    if (commit != event->commitString()) {
        QInputMethodEvent folded(event->preeditString(), event->attributes());
        folded.setCommitString(commit, event->replacementStart(), event->replacementLength());
        TEdit::inputMethodEvent(&folded);
        event->accept();
        return;
    }
    TEdit::inputMethodEvent(event);
}

void TSpinEdit::resizeEvent(QResizeEvent* event) {
    TEdit::resizeEvent(event);
    button_->move(width() - ButtonWidth - 2, (height() - ButtonHeight) / 2);
}

void TSpinEdit::DoExit() {
    // Pasted full-width digits stay only until the box is left.
    if (const QString folded = Folded(text()); folded != text()) setText(folded);
    const int value = Value();
    if (CheckValue(value) != value) SetValue(value);
    TEdit::DoExit();
}

}  // namespace tarnwick
