#pragma once
// The interval box: an edit with an up/down button pair at its right edge. Unlike QSpinBox it keeps
// whatever digits are typed (999 reads as 999) until the focus leaves it, then clamps to the range;
// text that is not an integer reads as the minimum. Full-width digits are taken as ASCII ones.
#include <QTimer>
#include <QWidget>
#include <functional>

#include "platform/qt/Edit.h"

namespace tarnwick {

class TSpinEdit;

// The two small buttons; a held button steps again after 400 ms, then every 100 ms.
class TSpinButton : public QWidget {
public:
    static constexpr int InitRepeatPause = 400;
    static constexpr int RepeatPause = 100;

    explicit TSpinButton(TSpinEdit* edit);

    // -1 for no button held, otherwise +1 (up) or -1 (down).
    int HeldDirection() const { return held_; }
    // The pause before the next repeat while held (tests check it instead of timing it).
    int NextRepeatPause() const { return repeat_.isActive() ? repeat_.interval() : 0; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void Repeat();

    TSpinEdit* edit_;
    QTimer repeat_;
    int held_ = 0;
};

class TSpinEdit : public TEdit {
public:
    explicit TSpinEdit(QWidget* parent = nullptr);

    int MinValue() const { return minValue_; }
    int MaxValue() const { return maxValue_; }
    void SetRange(int minValue, int maxValue);
    int Increment = 1;

    // The integer of the text, or MinValue when the text is not an integer; never clamped.
    int Value() const;
    // Clamps to the range and writes the decimal text.
    void SetValue(int value);
    int CheckValue(int value) const;

    void UpClick();
    void DownClick();

    TSpinButton* Button() const { return button_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void DoExit() override;

private:
    static QString Folded(const QString& text);
    bool IsValidChar(QChar c) const;

    TSpinButton* button_;
    int minValue_ = 0;
    int maxValue_ = 0;
};

}  // namespace tarnwick
