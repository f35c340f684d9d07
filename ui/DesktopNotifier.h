// Tells the desktop about long runs over the session's D-Bus: a notification when a run
// ends (org.freedesktop.Notifications) and the run's progress on the program's launcher
// or task bar entry (com.canonical.Unity.LauncherEntry, read by Plasma, Dash to Dock and
// others). Without a session bus nothing is sent and nothing is said.
#pragma once

#include <QString>
#include <memory>

class QDBusConnection;

namespace ostrivane {

// The launcher entry's name: the installed desktop entry of the program.
inline const QString kLauncherAppUri =
    QStringLiteral("application://com.ostrivane.Ostrivane.desktop");

class DesktopNotifier {
  public:
    // Uses the session bus named by DBUS_SESSION_BUS_ADDRESS (or the usual
    // $XDG_RUNTIME_DIR/bus), connected at the first message.
    DesktopNotifier();
    // Uses `bus`.
    explicit DesktopNotifier(const QDBusConnection& bus);
    ~DesktopNotifier();

    // A notification titled with the application title with `body` as its text. Does not
    // wait for the notification service's answer.
    void notify(const QString& body);
    // Shows `fraction` (0 to 1) as the launcher entry's progress.
    void showProgress(double fraction);
    // Takes the progress off the launcher entry (only when showProgress was called).
    void hideProgress();

  private:
    // The bus, or null when there is none.
    QDBusConnection* bus();

    std::unique_ptr<QDBusConnection> bus_;
    bool looked_ = false;
    bool progressShown_ = false;
};

}  // namespace ostrivane
