#pragma once
// A one-line edit box that reports when the focus leaves it for another control. Losing the focus
// because the whole window was deactivated, or to a popup, does not count as leaving.
// Characters that code page 932 cannot hold are refused with a beep: the program keeps its texts in
// that code page and would otherwise store them as "?".
#include <QLineEdit>
#include <functional>

namespace tarnwick {

// Refuses, with a beep, input that code page 932 cannot hold (see TEdit).
void RestrictToCodePage932(QLineEdit* edit, std::function<void()> beep);

class TEdit : public QLineEdit {
public:
    explicit TEdit(QWidget* parent = nullptr);

    std::function<void()> OnExit;
    // Called for every refused character; sounds the system bell unless replaced.
    std::function<void()> OnBeep;

    void Beep();

protected:
    void focusOutEvent(QFocusEvent* event) override;
    virtual void DoExit();
};

}  // namespace tarnwick
