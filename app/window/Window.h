#pragma once
// The settings window, its tray icon and what they show: the one door the desktop uses.
// What the other rooms may use of this one.
#include "app/window/MainForm.h"
#include "app/window/AppIcon.h"
#include "app/window/EndSignals.h"
#include "app/window/Translations.h"
