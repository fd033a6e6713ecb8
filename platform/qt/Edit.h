#pragma once
// A one-line edit box that reports when the focus leaves it for another control. Losing the focus
// because the whole window was deactivated, or to a popup, does not count as leaving.
#include <QLineEdit>
#include <functional>

namespace tarnwick {

class TEdit : public QLineEdit {
public:
    explicit TEdit(QWidget* parent = nullptr);

    std::function<void()> OnExit;

protected:
    void focusOutEvent(QFocusEvent* event) override;
    virtual void DoExit();
};

}  // namespace tarnwick
