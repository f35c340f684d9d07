// The desktop notification and the launcher progress of a long run, seen on a private
// session bus started by the test with a stand-in notification service on it.
#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <QVariantMap>
#include <unistd.h>

#include "ui/DesktopNotifier.h"
#include "ui/Unit1.h"
#include "ui_test_support.h"

using ostrivane::DesktopNotifier;
using ostrivane::ToPath;
using ostrivane::TransferFigures;
using ostrivane::test::WindowFixture;
using ostrivane::test::WriteFile;

namespace {

// Answers Notify as a desktop's notification service would, and keeps what it was told.
class NotificationService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

  public:
    struct Notice {
        QString app, icon, summary, body;
        QVariantMap hints;
    };
    std::vector<Notice> notices;

  public slots:
    uint Notify(const QString& app, uint /*replaces*/, const QString& icon, const QString& summary,
                const QString& body, const QStringList& /*actions*/, const QVariantMap& hints,
                int /*timeout*/) {
        notices.push_back({app, icon, summary, body, hints});
        return static_cast<uint>(notices.size());
    }
};

// Receives the launcher entry signals, as a dock does.
class LauncherListener : public QObject {
    Q_OBJECT

  public:
    std::vector<std::pair<QString, QVariantMap>> updates;

  public slots:
    void Update(const QString& appUri, const QVariantMap& properties) {
        updates.emplace_back(appUri, properties);
    }
};

// A session bus of the test's own: a socket in `%1`, everyone may talk and own names.
const char* const kBusConfig =
    "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
    " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
    "<busconfig>\n"
    "  <type>session</type>\n"
    "  <listen>unix:dir=%1</listen>\n"
    "  <auth>EXTERNAL</auth>\n"
    "  <policy context=\"default\">\n"
    "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
    "    <allow eavesdrop=\"true\"/>\n"
    "    <allow own=\"*\"/>\n"
    "  </policy>\n"
    "</busconfig>\n";

}  // namespace

class DesktopNotifyTest : public QObject, protected WindowFixture<> {
    Q_OBJECT

  private slots:
    void initTestCase() {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty()) QSKIP("dbus-daemon is not installed");
        QVERIFY(busFolder_.isValid());
        const QString config = busFolder_.filePath(QStringLiteral("session.conf"));
        WriteFile(config, QString::fromLatin1(kBusConfig).arg(busFolder_.path()).toUtf8());
        bus_.start(daemon, {QStringLiteral("--config-file=") + config,
                            QStringLiteral("--print-address"), QStringLiteral("--nofork")});
        QVERIFY(bus_.waitForStarted());
        QTRY_VERIFY(bus_.canReadLine());
        address_ = QString::fromUtf8(bus_.readLine()).trimmed();
        QVERIFY(!address_.isEmpty());

        QDBusConnection service =
            QDBusConnection::connectToBus(address_, QStringLiteral("standin"));
        QVERIFY(service.isConnected());
        QVERIFY(service.registerService(QStringLiteral("org.freedesktop.Notifications")));
        QVERIFY(service.registerObject(QStringLiteral("/org/freedesktop/Notifications"),
                                       &notifications_, QDBusConnection::ExportAllSlots));
        QVERIFY(service.connect(
            QString(), QString(), QStringLiteral("com.canonical.Unity.LauncherEntry"),
            QStringLiteral("Update"), &launcher_, SLOT(Update(QString, QVariantMap))));
    }

    void cleanupTestCase() {
        QDBusConnection::disconnectFromBus(QStringLiteral("standin"));
        QDBusConnection::disconnectFromBus(QStringLiteral("window"));
        bus_.kill();
        bus_.waitForFinished();
    }

    void init() {
        StartWindow();
        const QString source = files_->filePath(QStringLiteral("a.txt"));
        WriteFile(source, "a");
        QVERIFY(QDir().mkpath(files_->filePath(QStringLiteral("out"))));
        form_->SourceModel().append(ToPath(source));
        form_->DestinationModel().append(ToPath(files_->filePath(QStringLiteral("out/"))));
        // Every run of these tests lasts a little while.
        form_->runFiguresHook = [](const TransferFigures&) { QThread::msleep(20); };
    }

    void cleanup() { FinishWindow(); }

    // A long run that ends while the window is not active: the launcher shows its progress
    // meanwhile and takes it off at the end, and one notification says how it ended.
    void longRunEndingInTheBackgroundNotifies() {
        form_->SetDesktopNotifier(std::make_unique<DesktopNotifier>(
            QDBusConnection::connectToBus(address_, QStringLiteral("window"))));
        form_->longRunMs = 0;
        QVERIFY(!form_->isActiveWindow());
        form_->BtnCopyClick();
        QTRY_COMPARE(notifications_.notices.size(), size_t(1));
        const NotificationService::Notice& notice = notifications_.notices[0];
        QCOMPARE(notice.app, QStringLiteral("Ostrivane"));
        QCOMPARE(notice.summary, QStringLiteral("Ostrivane"));
        QCOMPARE(notice.body, QStringLiteral("复制工作完成！"));
        QCOMPARE(notice.icon, QStringLiteral("com.ostrivane.Ostrivane"));
        QCOMPARE(notice.hints.value(QStringLiteral("desktop-entry")).toString(),
                 QStringLiteral("com.ostrivane.Ostrivane"));

        QTRY_VERIFY(launcher_.updates.size() >= 2);
        for (const auto& [uri, properties] : launcher_.updates)
            QCOMPARE(uri, QStringLiteral("application://com.ostrivane.Ostrivane.desktop"));
        const QVariantMap& shown = launcher_.updates.front().second;
        QCOMPARE(shown.value(QStringLiteral("progress-visible")).toBool(), true);
        const double progress = shown.value(QStringLiteral("progress")).toDouble();
        QVERIFY(progress >= 0.0 && progress <= 1.0);
        QCOMPARE(launcher_.updates.back().second.value(QStringLiteral("progress-visible")).toBool(),
                 false);

        // A run shorter than the limit leaves the desktop alone.
        notifications_.notices.clear();
        launcher_.updates.clear();
        form_->longRunMs = 60000;
        form_->BtnCopyClick();
        QTest::qWait(200);
        QVERIFY(notifications_.notices.empty());
        QVERIFY(launcher_.updates.empty());
    }

    // A long run that a folder which cannot be entered ends is notified as such, with the
    // failures before it.
    void runEndedByAnErrorNotifiesToo() {
        if (geteuid() == 0) QSKIP("root enters every folder; run the suite as another user");
        form_->SetDesktopNotifier(std::make_unique<DesktopNotifier>(
            QDBusConnection::connectToBus(address_, QStringLiteral("window"))));
        const QString locked = files_->filePath(QStringLiteral("locked"));
        WriteFile(locked + QStringLiteral("/inner.txt"), "i");
        QVERIFY(QFile::setPermissions(locked, QFileDevice::Permissions()));
        form_->SourceModel().append(ToPath(files_->filePath(QStringLiteral("missing.txt"))));
        form_->SourceModel().append(ToPath(locked + QLatin1Char('/')));
        form_->longRunMs = 0;
        form_->BtnCopyClick();
        QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner);
        QTRY_COMPARE(notifications_.notices.size(), size_t(1));
        QCOMPARE(notifications_.notices[0].body,
                 QStringLiteral("复制因错误而中止。有 1 项未能完成。"));
        QCOMPARE(prompts_->Texts(QStringLiteral("error")).size(), 1);
        // The launcher's progress is taken off on this way out too.
        QTRY_VERIFY(!launcher_.updates.empty() &&
                    !launcher_.updates.back()
                         .second.value(QStringLiteral("progress-visible"))
                         .toBool());
        notifications_.notices.clear();
        launcher_.updates.clear();
    }

    // Without a session bus in the environment, a long run sends nothing and says nothing.
    void withoutASessionBusNothingIsSent() {
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
        form_->longRunMs = 0;
        form_->BtnCopyClick();
        QTest::qWait(100);
        QCOMPARE(prompts_->Texts(QStringLiteral("information")),
                 QStringList{QStringLiteral("复制工作完成！")});
        QVERIFY(prompts_->Texts(QStringLiteral("error")).isEmpty());
        QVERIFY(notifications_.notices.empty());
        QVERIFY(launcher_.updates.empty());
    }

  private:
    QTemporaryDir busFolder_;
    QProcess bus_;
    QString address_;
    NotificationService notifications_;
    LauncherListener launcher_;
};

int main(int argc, char** argv) {
    return ostrivane::test::RunTests<DesktopNotifyTest>(argc, argv);
}

#include "desktop_notify_test.moc"
