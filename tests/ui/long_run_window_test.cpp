// The window during and after long work: the Stop button and Esc, the live figures, the
// failure details and report file, and a stopped folder walk (the figures' texts: tests/app).
#include <sys/stat.h>
#include <unistd.h>

#include <QDirIterator>
#include <QLabel>
#include <QListView>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSemaphore>
#include <QStorageInfo>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "ui/RunFigures.h"
#include "ui/Startup.h"
#include "ui/Unit1.h"
#include "ui_test_support.h"

using ostrivane::DeviceFigures;
using ostrivane::ToPath;
using ostrivane::TransferFigures;
using ostrivane::test::ReadFile;
using ostrivane::test::WindowFixture;
using ostrivane::test::WriteFile;

namespace {

constexpr int kBigFile = 20 << 20;  // three pieces of a controlled copy

// Every file below `folder`, relative, with the folder's own entries first.
QStringList FilesBelow(const QString& folder) {
    QStringList found;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) found << QDir(folder).relativeFilePath(it.next());
    return found;
}

}  // namespace

class LongRunWindowTest : public QObject, protected WindowFixture<> {
    Q_OBJECT

  private slots:
    void initTestCase() { chineseMessages_ = ostrivane::UseChineseSystemMessages(); }

    void init() {
        StartWindow();
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
    }

    void cleanup() { FinishWindow(); }

    // The view estimates the remaining time only from a total known before the run or the
    // engine's estimate, shows
    // the devices only when there are several, and is empty again at the end.
    void figuresView() {
        QLabel status;
        QTreeWidget devices;
        ostrivane::RunFiguresView view(&status, &devices);
        view.setEstimateAfter(0);
        view.begin();
        TransferFigures run;
        run.bytesDone = run.bytesPlanned = 1 << 20;
        run.devices.resize(1);
        QTest::qWait(20);
        view.show(run);
        QVERIFY2(!status.text().contains(QStringLiteral("剩余")), qPrintable(status.text()));
        QVERIFY(devices.isHidden());
        // The engine's estimate serves where no total was known before the run.
        run.bytesExpected = 3 << 20;
        QTest::qWait(20);
        view.show(run);
        QVERIFY2(status.text().contains(QStringLiteral("1.0 MB / 3.0 MB，")) &&
                     status.text().contains(QStringLiteral("，剩余约 ")),
                 qPrintable(status.text()));
        run.bytesExpected = 0;

        view.setTotal(4 << 20);
        run.devices = {{"/media/a/", 1 << 20, DeviceFigures::State::Copying},
                       {"/media/b/", 0, DeviceFigures::State::Waiting}};
        QTest::qWait(20);
        view.show(run);
        QVERIFY2(status.text().contains(QStringLiteral("1.0 MB / 4.0 MB")),
                 qPrintable(status.text()));
        QVERIFY2(status.text().contains(QStringLiteral("，剩余约 ")), qPrintable(status.text()));
        QVERIFY(!devices.isHidden());
        QCOMPARE(devices.topLevelItemCount(), 2);
        QCOMPARE(devices.topLevelItem(0)->text(0), QStringLiteral("/media/a/"));
        QCOMPARE(devices.topLevelItem(0)->text(3), QStringLiteral("复制中"));
        QCOMPARE(devices.topLevelItem(1)->text(3), QStringLiteral("等待中"));
        view.end();
        QVERIFY(status.text().isEmpty());
        QVERIFY(devices.isHidden());
    }

    // Stop during a run, by the button or by Esc, while a big file is half copied: the run
    // ends with the stopped message, nothing partial anywhere, and no new file started.
    // Meanwhile every other input stays blocked and the status line shows the figures.
    void stopEndsTheRunWithNothingPartial_data() {
        QTest::addColumn<bool>("byEscape");
        QTest::newRow("Stop button") << false;
        QTest::newRow("Esc") << true;
    }

    void stopEndsTheRunWithNothingPartial() {
        QFETCH(bool, byEscape);
        // The source and one target on tmpfs (no clone copies the big file in one piece),
        // the other target in the test's folder, usually another device.
        QTemporaryDir shm(QStringLiteral("/dev/shm/ostrivane-test-XXXXXX"));
        if (!shm.isValid()) QSKIP("no /dev/shm");
        const QString source = shm.filePath(QStringLiteral("src"));
        WriteFile(source + QStringLiteral("/big.bin"), QByteArray(kBigFile, 'b'));
        WriteFile(source + QStringLiteral("/later1.txt"), "1");
        WriteFile(source + QStringLiteral("/later2.txt"), "2");
        const QStringList targets{shm.filePath(QStringLiteral("out1")),
                                  files_->filePath(QStringLiteral("out2"))};
        for (const QString& target : targets) QVERIFY(QDir().mkpath(target));
        for (const QString name : {"big.bin", "later1.txt", "later2.txt"})
            form_->SourceModel().append(ToPath(source + QLatin1Char('/') + name));
        for (const QString& target : targets)
            form_->DestinationModel().append(ToPath(target + QLatin1Char('/')));
        const bool twoDevices =
            QStorageInfo(targets[0]).device() != QStorageInfo(targets[1]).device();

        // One writer: the run stands still while a report is held.
        form_->runWriters = 1;
        std::atomic<int> halfCopiedReports{0};
        QString statusSeen;
        bool stopShown = false, devicesShown = false, sourcesKept = false;
        form_->runFiguresHook = [&](const TransferFigures& run) {
            if (halfCopiedReports >= 2) return;
            const bool halfCopied = run.bytesDone > 0 && run.filesDone == 0;
            if (!halfCopied || ++halfCopiedReports < 2) {
                // Time enough for the next piece of the copy to bring a report.
                QThread::msleep(120);
                return;
            }
            // Held on the run's thread while the window takes the user's input.
            QSemaphore answered;
            QMetaObject::invokeMethod(
                form_.get(),
                [&] {
                    statusSeen = form_->StatusLabel->text();
                    stopShown = form_->BtnStop->isVisible() && form_->BtnStop->isEnabled();
                    devicesShown = form_->DeviceView->isVisible() &&
                                   form_->DeviceView->topLevelItemCount() == 2;
                    QTest::mouseClick(form_->Button6, Qt::LeftButton);  // "清空列表": blocked
                    sourcesKept = form_->Sources().count() == 3;
                    if (byEscape) {
                        QTest::keyClick(form_->ListBox1, Qt::Key_Escape);
                    } else {
                        QTest::mouseClick(form_->BtnStop, Qt::LeftButton);
                    }
                    answered.release();
                },
                Qt::QueuedConnection);
            answered.acquire();
        };
        form_->BtnCopyClick();

        QCOMPARE(halfCopiedReports.load(), 2);
        QVERIFY(form_->StopRequested());
        QVERIFY(stopShown);
        QVERIFY(sourcesKept);
        QVERIFY2(
            QRegularExpression(
                QStringLiteral("^已复制 0 个文件，[0-9.]+ MB / [0-9.]+ MB，[0-9.]+ [KMG]?B/s$"))
                .match(statusSeen)
                .hasMatch(),
            qPrintable(statusSeen));
        if (twoDevices) QVERIFY(devicesShown);

        const QStringList information = prompts_->Texts(QStringLiteral("information"));
        QCOMPARE(information.size(), 1);
        QVERIFY2(information[0].startsWith(QStringLiteral("复制已停止。")),
                 qPrintable(information[0]));
        // Six copies were asked for: the abandoned one is a failure, the five never started
        // are told apart from it.
        QVERIFY2(information[0].contains(QStringLiteral("有 1 项未能完成")) &&
                     information[0].endsWith(QStringLiteral("有 5 个文件未复制。")),
                 qPrintable(information[0]));
        QCOMPARE(form_->ProgressBar1->value(), 0);
        QVERIFY(!form_->BtnStop->isVisible());
        QVERIFY(form_->StatusLabel->text().isEmpty());
        QVERIFY(!form_->DeviceView->isVisible());
        // Whatever is there is a whole copy under its name; the later files never started.
        int copies = 0;
        for (const QString& target : targets) {
            for (const QString& file : FilesBelow(target)) {
                ++copies;
                QCOMPARE(ReadFile(target + QLatin1Char('/') + file),
                         ReadFile(source + QLatin1Char('/') + file));
            }
        }
        QVERIFY(copies < 2);
    }

    // A stopped folder walk keeps the folders it had added and takes no further path.
    void stopEndsAFolderWalk() {
        const QString root = files_->filePath(QStringLiteral("tree"));
        for (const char* folder : {"a/a1", "b/b1", "c"})
            QVERIFY(QDir().mkpath(root + QLatin1Char('/') + QLatin1String(folder)));
        QVERIFY(QDir().mkpath(files_->filePath(QStringLiteral("other/x"))));
        form_->walkRepaintIntervalMs = 0;
        prompts_->answers = {true};  // with all subfolders
        // Clicked at the walk's first repaint, the only moment events run.
        QTimer::singleShot(0, form_.get(),
                           [&] { QTest::mouseClick(form_->BtnStop, Qt::LeftButton); });
        form_->AddDroppedDestinations({root, files_->filePath(QStringLiteral("other"))});
        QCOMPARE(form_->Destinations().entries(), std::vector<std::string>{ToPath(root + "/")});
        QVERIFY(form_->BtnEmptyDestFolder->isVisible());
        QVERIFY(!form_->BtnStop->isVisible());
    }

    // Failed items: the box keeps its text and first ten, its details list every failure
    // with its full path and the system's reason in Chinese, and "保存报告…" writes the CSV.
    void failuresGoToTheDetailsAndTheReport() {
        if (geteuid() == 0) QSKIP("root writes into read-only folders");
        const QString source = files_->filePath(QStringLiteral("src"));
        QStringList names;
        for (int i = 0; i < 11; ++i)
            names << QStringLiteral("文件%1.txt").arg(i, 2, 10, QLatin1Char('0'));
        names << QStringLiteral("a,\"b\".txt");
        for (const QString& name : names) {
            WriteFile(source + QLatin1Char('/') + name, name.toUtf8());
            form_->SourceModel().append(ToPath(source + QLatin1Char('/') + name));
        }
        const QString locked = files_->filePath(QStringLiteral("locked"));
        QVERIFY(QDir().mkpath(locked));
        QVERIFY(::chmod(QFile::encodeName(locked).constData(), 0555) == 0);
        form_->DestinationModel().append(ToPath(locked + QLatin1Char('/')));
        const QString reportFile = files_->filePath(QStringLiteral("报告.csv"));
        prompts_->saveReportPresses = 1;
        prompts_->fileResults = {reportFile};

        form_->BtnCopyClick();

        const QString reason = QString::fromLocal8Bit(std::strerror(EACCES));
        if (chineseMessages_) QCOMPARE(reason, QStringLiteral("权限不够"));
        const QStringList information = prompts_->Texts(QStringLiteral("information"));
        QCOMPARE(information.size(), 1);
        QVERIFY(information[0].startsWith(
            QStringLiteral("复制工作完成！\n\n有 12 项未能完成，以下是前 10 项：\n")));
        QStringList lines;
        QByteArray csv("\xEF\xBB\xBF路径,原因\r\n");
        for (const QString& name : names) {
            const QString target = locked + QLatin1Char('/') + name;
            lines << target + QStringLiteral(": ") + reason;
            const QString field = name.contains(QLatin1Char(','))
                                      ? QStringLiteral("\"%1\"").arg(QString(target).replace(
                                            QStringLiteral("\""), QStringLiteral("\"\"")))
                                      : target;
            csv += field.toUtf8() + ',' + reason.toUtf8() + "\r\n";
        }
        QCOMPARE(prompts_->reportDetails, std::vector<QString>{lines.join(QLatin1Char('\n'))});
        QCOMPARE(prompts_->fileRequests.size(), size_t(1));
        QCOMPARE(prompts_->fileRequests[0].name, QStringLiteral("SaveDialog2"));
        QCOMPARE(prompts_->fileRequests[0].proposedName, QStringLiteral("失败报告.csv"));
        QCOMPARE(ReadFile(reportFile), csv);
    }

  private:
    bool chineseMessages_ = false;
};

int main(int argc, char** argv) {
    return ostrivane::test::RunTests<LongRunWindowTest>(argc, argv);
}

#include "long_run_window_test.moc"
