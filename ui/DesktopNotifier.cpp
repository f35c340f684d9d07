#include "ui/DesktopNotifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFileInfo>
#include <QVariantMap>
#include <algorithm>

#include "ui/Prompts.h"

namespace ostrivane {
namespace {

const QString kNotificationsService = QStringLiteral("org.freedesktop.Notifications");
const QString kNotificationsPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kLauncherInterface = QStringLiteral("com.canonical.Unity.LauncherEntry");
// Any object path will do for the launcher signal; this one is the program's own.
const QString kLauncherPath = QStringLiteral("/com/ostrivane/Ostrivane/LauncherEntry");
const QString kIconName = QStringLiteral("com.ostrivane.Ostrivane");

// True when a session bus can be reached without starting one: an address in the
// environment or the per-user bus socket of a systemd session.
bool SessionBusNamed() {
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo(runtime + QStringLiteral("/bus")).exists();
}

}  // namespace

DesktopNotifier::DesktopNotifier() = default;

DesktopNotifier::DesktopNotifier(const QDBusConnection& bus)
    : bus_(std::make_unique<QDBusConnection>(bus)), looked_(true) {}

DesktopNotifier::~DesktopNotifier() = default;

QDBusConnection* DesktopNotifier::bus() {
    if (!looked_) {
        looked_ = true;
        // QDBusConnection::sessionBus() would try to start a bus when none is named.
        if (SessionBusNamed())
            bus_ = std::make_unique<QDBusConnection>(QDBusConnection::sessionBus());
    }
    return bus_ && bus_->isConnected() ? bus_.get() : nullptr;
}

void DesktopNotifier::notify(const QString& body) {
    QDBusConnection* connection = bus();
    if (!connection) return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        kNotificationsService, kNotificationsPath, kNotificationsService, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), kIconName);
    call << kApplicationTitle << 0u << kIconName << kApplicationTitle << body << QStringList()
         << hints << -1;
    // Sent without waiting for the answer: a desktop without the service answers with an
    // error nobody needs to see.
    connection->send(call);
}

void DesktopNotifier::showProgress(double fraction) {
    QDBusConnection* connection = bus();
    if (!connection) return;
    QDBusMessage update =
        QDBusMessage::createSignal(kLauncherPath, kLauncherInterface, QStringLiteral("Update"));
    QVariantMap properties;
    properties.insert(QStringLiteral("progress"), std::clamp(fraction, 0.0, 1.0));
    properties.insert(QStringLiteral("progress-visible"), true);
    update << kLauncherAppUri << properties;
    progressShown_ = connection->send(update) || progressShown_;
}

void DesktopNotifier::hideProgress() {
    if (!progressShown_) return;
    progressShown_ = false;
    QDBusConnection* connection = bus();
    if (!connection) return;
    QDBusMessage update =
        QDBusMessage::createSignal(kLauncherPath, kLauncherInterface, QStringLiteral("Update"));
    QVariantMap properties;
    properties.insert(QStringLiteral("progress"), 0.0);
    properties.insert(QStringLiteral("progress-visible"), false);
    update << kLauncherAppUri << properties;
    connection->send(update);
}

}  // namespace ostrivane
