#include "platform/qt/Edit.h"

#include <QFocusEvent>

namespace tarnwick {

TEdit::TEdit(QWidget* parent) : QLineEdit(parent) {}

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
