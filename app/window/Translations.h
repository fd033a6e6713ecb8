#pragma once
// Qt's own texts (context menus, standard buttons) in Japanese, like the rest of the window.
class QCoreApplication;

namespace tarnwick {

// Loads qtbase_ja from Qt's translations folder into the application (the translator is its
// child). False when the file is not there: Qt's texts then stay English.
bool InstallQtJapanese(QCoreApplication& app);

}  // namespace tarnwick
