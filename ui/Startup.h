// What the program sets up before its first window: names and the Chinese texts of Qt's
// own dialogs.
#pragma once

class QApplication;

namespace ostrivane {

// Sets the application title, version, desktop entry name and window icon, and installs
// Qt's Simplified Chinese translation when it is installed (the file dialogs then speak
// Chinese). Returns whether the translation was found.
bool PrepareApplication(QApplication& app);

}  // namespace ostrivane
