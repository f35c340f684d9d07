// What the program sets up before its first window: names and the Chinese texts of Qt's
// own dialogs.
#pragma once

class QApplication;
class QCoreApplication;

namespace ostrivane {

// Lets the system's error texts (strerror, shown as the reasons of failed copies) speak the
// window's language: the message category of the C library is set to the Chinese locale
// (zh_CN.UTF-8, generated on Debian by the package "locales"), with a UTF-8 character set
// so the translations come out as UTF-8. Where that locale is not installed the messages
// stay as the environment sets them (English for C and POSIX). True when Chinese is set.
bool UseChineseSystemMessages();

// Sets the application title, version, desktop entry name and window icon, and installs
// Qt's Simplified Chinese translation when it is installed (the file dialogs then speak
// Chinese). Returns whether the translation was found.
bool PrepareApplication(QApplication& app);

// Installs the Chinese texts of Qt's file dialogs that its own translation lacks (the file
// types of the dialog's list: "Folder", "%1 File", ...). PrepareApplication calls it.
void InstallMissingQtTexts(QCoreApplication& app);

}  // namespace ostrivane
