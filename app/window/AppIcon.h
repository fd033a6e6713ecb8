#pragma once
// The program's 32 x 32 picture, for the window and the tray.
#include <QIcon>

namespace tarnwick {

QIcon MakeAppIcon();
// The same picture with a warning sign: the last cycle failed.
QIcon MakeWarningIcon();

}  // namespace tarnwick
