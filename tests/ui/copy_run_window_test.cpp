// The window's long commands on real folders: the copy run with its question, progress,
// completion and error paths, the emptying option and the immediate emptying.
#include <unistd.h>

#include <QCheckBox>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>

#include "ui/Unit1.h"
#include "ui_test_support.h"

using ostrivane::TForm1;
using ostrivane::ToPath;
using ostrivane::test::ReadFile;
using ostrivane::test::WindowFixture;
using ostrivane::test::WriteFile;

namespace {

const QString kCopyDone = QStringLiteral("复制工作完成！");
const QString kCopyEnded = QStringLiteral("复制因错误而中止。");
const QString kCloseDuringRun = QStringLiteral("复制正在进行。要停止复制并退出吗？");
const QString kEmptyingWarning =
    QStringLiteral("清空（删除）操作是不可撤消（恢复）的，您确这要继续吗？");

// What the window looked like while a question of the run was open.
struct SeenDuringQuestion {
    bool startEnabled = true;
    bool busy = false;
    int cursorShape = -1;
    int progress = -1;
    bool closed = true;
    bool stillVisible = false;
    int currentRowAfterKeyDown = -1;
};

bool NoOverrideCursor() {
    return QGuiApplication::overrideCursor() == nullptr;
}

QStringList FolderContent(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

}  // namespace

class CopyRunWindowTest : public QObject, protected WindowFixture<> {
    Q_OBJECT

  private slots:
    void init() { StartWindow(); }

    void cleanup() {
        FinishWindow();
        QVERIFY(NoOverrideCursor());
    }

    void emptyListsOnlyShowTheMessage_data() {
        QTest::addColumn<bool>("withSource");
        QTest::addColumn<bool>("withDestination");
        QTest::newRow("no destination") << true << false;
        QTest::newRow("no source") << false << true;
        QTest::newRow("neither") << false << false;
    }

    void emptyListsOnlyShowTheMessage() {
        QFETCH(bool, withSource);
        QFETCH(bool, withDestination);
        if (withSource) form_->SourceModel().append(ToPath(Path("a.txt")));
        if (withDestination) form_->DestinationModel().append(ToPath(Path("out/")));
        form_->ProgressBar1->setValue(37);
        form_->BtnCopyClick();
        QCOMPARE(prompts_->Texts("information"),
                 QStringList({QStringLiteral("没有需要复制的文件或文件夹!")}));
        QCOMPARE(form_->ProgressBar1->value(), 37);
        QVERIFY(form_->BtnCopy->isEnabled());
        QVERIFY(!QFileInfo::exists(Path("out")));
    }

    void runCopiesEverySourceIntoEveryDestination() {
        WriteFile(Path("src/a.txt"), "A");
        WriteFile(Path("src/tree/sub/b.txt"), "B");
        QDir().mkpath(Path("one"));
        QDir().mkpath(Path("two"));
        form_->SourceModel().append(ToPath(Path("src/a.txt")));
        form_->SourceModel().append(ToPath(Path("src/tree/")));
        form_->DestinationModel().append(ToPath(Path("one/")));
        form_->DestinationModel().append(ToPath(Path("two")));  // as a list import may bring it
        form_->Rb1->setChecked(true);

        form_->BtnCopy->click();

        for (const QString destination : {"one", "two"}) {
            QCOMPARE(ReadFile(Path(destination + "/a.txt")), QByteArray("A"));
            QCOMPARE(ReadFile(Path(destination + "/tree/sub/b.txt")), QByteArray("B"));
        }
        QCOMPARE(prompts_->Texts("information"), QStringList({kCopyDone}));
        QCOMPARE(form_->ProgressBar1->value(), 0);
        QVERIFY(form_->BtnCopy->isEnabled());
        QVERIFY(!form_->IsBusy());
    }

    // With the check box the run reads its copies back, and the box says how many were
    // found equal; a copy the run did not make (Skip) is not counted.
    void verifiedRunCountsItsCopiesInTheCompletionBox() {
        WriteFile(Path("src/a.txt"), "A");
        WriteFile(Path("src/tree/sub/b.txt"), "B");
        WriteFile(Path("one/a.txt"), "kept");
        QDir().mkpath(Path("two"));
        form_->SourceModel().append(ToPath(Path("src/a.txt")));
        form_->SourceModel().append(ToPath(Path("src/tree/")));
        form_->DestinationModel().append(ToPath(Path("one/")));
        form_->DestinationModel().append(ToPath(Path("two/")));
        form_->Rb2->setChecked(true);
        form_->CheckVerify->setChecked(true);

        form_->BtnCopy->click();

        QCOMPARE(ReadFile(Path("one/a.txt")), QByteArray("kept"));
        QCOMPARE(
            prompts_->Texts("information"),
            QStringList(
                {kCopyDone + QStringLiteral("\n已校验 3 个副本：从目标设备读回，与源文件一致。"
                                            "\n已跳过 1 个同名文件。")}));
    }

    void askAnswersDecideWhileTheWindowWaits() {
        WriteFile(Path("src/a.txt"), "new a");
        WriteFile(Path("src/b.txt"), "new b");
        WriteFile(Path("out/a.txt"), "old a");
        WriteFile(Path("out/b.txt"), "old b");
        form_->SourceModel().append(ToPath(Path("src/a.txt")));
        form_->SourceModel().append(ToPath(Path("src/b.txt")));
        form_->DestinationModel().append(ToPath(Path("out/")));
        form_->Rb3->setChecked(true);
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
        form_->ListBox1->setCurrentIndex(form_->ListBox1->model()->index(0, 0));

        std::vector<SeenDuringQuestion> seen;
        bool inside = false;  // the close question asked inside the file's question
        prompts_->duringQuestion = [&] {
            if (inside) return;
            inside = true;
            SeenDuringQuestion now;
            now.startEnabled = form_->BtnCopy->isEnabled();
            now.busy = form_->IsBusy();
            if (const QCursor* cursor = QGuiApplication::overrideCursor()) {
                now.cursorShape = cursor->shape();
            }
            now.progress = form_->ProgressBar1->value();
            now.closed = form_->close();
            now.stillVisible = form_->isVisible();
            QTest::keyClick(form_->ListBox1, Qt::Key_Down);
            QTest::mouseClick(form_->Button6, Qt::LeftButton);
            now.currentRowAfterKeyDown = form_->ListBox1->currentIndex().row();
            seen.push_back(now);
            inside = false;
        };
        // Each close during a question asks whether to stop and quit: No keeps the run.
        prompts_->answers = {false, true, false, false};

        form_->BtnCopyClick();

        QCOMPARE(ReadFile(Path("out/a.txt")), QByteArray("new a"));
        QCOMPARE(ReadFile(Path("out/b.txt")), QByteArray("old b"));
        const QString out = Path("out/");
        QCOMPARE(prompts_->Texts("question"),
                 QStringList({"文件" + out + "a.txt已存在，是否覆盖？", kCloseDuringRun,
                              "文件" + out + "b.txt已存在，是否覆盖？", kCloseDuringRun}));
        QCOMPARE(seen.size(), size_t{2});
        for (const SeenDuringQuestion& now : seen) {
            QVERIFY(!now.startEnabled);
            QVERIFY(now.busy);
            QCOMPARE(now.cursorShape, int(Qt::WaitCursor));
            QVERIFY(!now.closed);
            QVERIFY(now.stillVisible);
            QCOMPARE(now.currentRowAfterKeyDown, 0);  // the keyboard did not reach the list
        }
        QCOMPARE(seen[0].progress, 0);
        // The bar follows the bytes as the figures report them (at most ten times a second):
        // never full before the end.
        QVERIFY(seen[1].progress >= 0 && seen[1].progress < 100);
        QCOMPARE(form_->Sources().count(), 2);  // the click on "清空列表" was swallowed
        QCOMPARE(prompts_->Texts("information"),
                 QStringList({kCopyDone + QStringLiteral("\n已跳过 1 个同名文件。")}));
        QCOMPARE(form_->ProgressBar1->value(), 0);
        QVERIFY(form_->BtnCopy->isEnabled());

        // Input reaches the window again after the run.
        QTest::keyClick(form_->ListBox1, Qt::Key_Down);
        QCOMPARE(form_->ListBox1->currentIndex().row(), 1);
    }

    void failuresAreListedInTheCompletionMessage() {
        WriteFile(Path("src/a.txt"), "A");
        form_->SourceModel().append(ToPath(Path("src/a.txt")));
        for (int i = 1; i <= 12; ++i) {
            form_->SourceModel().append(
                ToPath(Path(QString("src/missing%1").arg(i, 2, 10, QChar('0')))));
        }
        form_->DestinationModel().append(ToPath(Path("out/")));
        QDir().mkpath(Path("out"));
        form_->Rb1->setChecked(true);

        form_->BtnCopyClick();

        QCOMPARE(ReadFile(Path("out/a.txt")), QByteArray("A"));
        const QStringList information = prompts_->Texts("information");
        QCOMPARE(information.size(), 1);
        const QString& message = information[0];
        QVERIFY(message.startsWith(kCopyDone));
        QVERIFY2(message.contains(QStringLiteral("有 12 项未能完成")), qPrintable(message));
        for (int i = 1; i <= 10; ++i) {
            // The sources that are gone are named, not the targets they never reached.
            QVERIFY2(message.contains(Path(QString("src/missing%1: ").arg(i, 2, 10, QChar('0')))),
                     qPrintable(message));
        }
        QVERIFY(!message.contains("missing11"));
        QVERIFY(!message.contains("a.txt"));
        QCOMPARE(form_->ProgressBar1->value(), 0);
    }

    void folderThatCannotBeEnteredEndsTheRun() {
        if (geteuid() == 0) QSKIP("root enters every folder; run the suite as another user");
        WriteFile(Path("src/a.txt"), "A");
        WriteFile(Path("src/locked/inner.txt"), "I");
        WriteFile(Path("src/z.txt"), "Z");
        QVERIFY(QFile::setPermissions(Path("src/locked"), QFileDevice::Permissions()));
        form_->SourceModel().append(ToPath(Path("src/a.txt")));
        form_->SourceModel().append(ToPath(Path("src/locked/")));
        form_->SourceModel().append(ToPath(Path("src/z.txt")));
        form_->SourceModel().append(ToPath(Path("src/a.txt")));
        form_->DestinationModel().append(ToPath(Path("out/")));
        QDir().mkpath(Path("out"));
        form_->Rb2->setChecked(true);

        form_->BtnCopyClick();
        QFile::setPermissions(Path("src/locked"), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                      QFileDevice::ExeOwner);

        // The message with its full stop, then the folder on a line of its own.
        QCOMPARE(prompts_->Texts("error"),
                 QStringList({QStringLiteral("File access denied.\n") + Path("src/locked/")}));
        QVERIFY(prompts_->Texts("information").isEmpty());
        // Where the bytes had got: the first file copied, the others not.
        QVERIFY(form_->ProgressBar1->value() > 0 && form_->ProgressBar1->value() < 100);
        QVERIFY(form_->BtnCopy->isEnabled());
        QVERIFY(NoOverrideCursor());
        QVERIFY(!form_->IsBusy());
        QVERIFY(QFileInfo::exists(Path("out/a.txt")));
        QVERIFY(!QFileInfo::exists(Path("out/z.txt")));
    }

    // With the emptying option, the folder that would end the run is found before anything
    // is deleted; the error box names it below the message.
    void emptyFirstFindsAFolderThatCannotBeEnteredBeforeDeleting() {
        if (geteuid() == 0) QSKIP("root enters every folder; run the suite as another user");
        WriteFile(Path("src/tree/ok.txt"), "A");
        WriteFile(Path("src/tree/locked/inner.txt"), "I");
        WriteFile(Path("out/old.txt"), "old");
        QVERIFY(QFile::setPermissions(Path("src/tree/locked"), QFileDevice::Permissions()));
        form_->SourceModel().append(ToPath(Path("src/tree")));
        form_->DestinationModel().append(ToPath(Path("out/")));
        prompts_->answers = {true, true};
        form_->CheckBox1->click();

        form_->BtnCopyClick();
        QFile::setPermissions(Path("src/tree/locked"), QFileDevice::ReadOwner |
                                                           QFileDevice::WriteOwner |
                                                           QFileDevice::ExeOwner);

        QCOMPARE(prompts_->Texts("error"),
                 QStringList({QStringLiteral("File access denied.\n") + Path("src/tree/locked")}));
        QCOMPARE(FolderContent(Path("out")), QStringList({"old.txt"}));
        QVERIFY(form_->BtnCopy->isEnabled());
    }

    void failuresBeforeTheErrorAreReportedAfterIt() {
        if (geteuid() == 0) QSKIP("root enters every folder; run the suite as another user");
        WriteFile(Path("src/locked/inner.txt"), "I");
        QVERIFY(QFile::setPermissions(Path("src/locked"), QFileDevice::Permissions()));
        form_->SourceModel().append(ToPath(Path("src/missing.txt")));
        form_->SourceModel().append(ToPath(Path("src/locked/")));
        form_->DestinationModel().append(ToPath(Path("out/")));
        QDir().mkpath(Path("out"));

        form_->BtnCopyClick();
        QFile::setPermissions(Path("src/locked"), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                      QFileDevice::ExeOwner);

        // The error box first, then the report of what failed before it.
        QCOMPARE(prompts_->shown.size(), size_t{2});
        QCOMPARE(prompts_->shown[0].kind, QString("error"));
        QCOMPARE(prompts_->shown[1].kind, QString("information"));
        const QString& report = prompts_->shown[1].text;
        QVERIFY2(report.startsWith(kCopyEnded), qPrintable(report));
        QVERIFY2(report.contains(QStringLiteral("有 1 项未能完成")), qPrintable(report));
        QVERIFY2(report.contains(Path("src/missing.txt: ")), qPrintable(report));
        QCOMPARE(prompts_->reportDetails.size(), size_t{1});
        QVERIFY(prompts_->reportDetails[0].startsWith(Path("src/missing.txt: ")));
        QVERIFY(form_->BtnCopy->isEnabled());
        QVERIFY(!form_->IsBusy());
    }

    void emptyOptionAsksBeforeItIsSet() {
        prompts_->answers = {false, true};
        form_->CheckBox1->click();
        QVERIFY(!form_->CheckBox1->isChecked());
        form_->CheckBox1->click();
        QVERIFY(form_->CheckBox1->isChecked());
        form_->CheckBox1->click();
        QVERIFY(!form_->CheckBox1->isChecked());
        QCOMPARE(prompts_->Texts("warning"), QStringList({kEmptyingWarning, kEmptyingWarning}));
    }

    void copyRunEmptiesEachDestinationFirstWhenAsked() {
        WriteFile(Path("src/a.txt"), "A");
        WriteFile(Path("out/old.txt"), "old");
        WriteFile(Path("out/sub/older.txt"), "older");
        form_->SourceModel().append(ToPath(Path("src/a.txt")));
        form_->DestinationModel().append(ToPath(Path("out/")));
        prompts_->answers = {true, true};
        form_->CheckBox1->click();
        form_->BtnCopyClick();
        QCOMPARE(FolderContent(Path("out")), QStringList({"a.txt"}));
        QCOMPARE(prompts_->Texts("information"), QStringList({kCopyDone}));
    }

    // The option stays checked after a run; every later run that empties warns again, and
    // No cancels that run without touching anything, the option left as it is. The window
    // says under the option how many folders the next run empties.
    void everyEmptyingRunWarnsAndNoCancelsIt() {
        WriteFile(Path("src/a.txt"), "A");
        WriteFile(Path("out/saved since.txt"), "the user's new document");
        form_->SourceModel().append(ToPath(Path("src/a.txt")));
        form_->DestinationModel().append(ToPath(Path("out/")));
        QVERIFY(form_->EmptyingNote->isHidden());
        prompts_->answers = {true, false};
        form_->CheckBox1->click();
        QVERIFY(!form_->EmptyingNote->isHidden());
        QVERIFY2(form_->EmptyingNote->text().contains(QStringLiteral("1 个目标文件夹")),
                 qPrintable(form_->EmptyingNote->text()));
        form_->DestinationModel().append(ToPath(Path("other/")));
        QVERIFY(form_->EmptyingNote->text().contains(QStringLiteral("2 个目标文件夹")));
        form_->BtnCopyClick();
        QCOMPARE(prompts_->Texts("warning"), QStringList({kEmptyingWarning, kEmptyingWarning}));
        QCOMPARE(FolderContent(Path("out")), QStringList({"saved since.txt"}));
        QVERIFY(form_->CheckBox1->isChecked());
        QVERIFY(prompts_->Texts("information").isEmpty());
        QVERIFY(form_->BtnCopy->isEnabled());
        QVERIFY(prompts_->unexpected.isEmpty());
        form_->CheckBox1->setChecked(false);
        QVERIFY(form_->EmptyingNote->isHidden());
    }

    // "全部是" and "全部否" answer the rest of the run without further boxes; "停止" stops the
    // run there, the file asked about kept.
    void askBoxAnswersForTheRestOfTheRunOrStops_data() {
        QTest::addColumn<QList<int>>("answers");
        QTest::addColumn<QString>("kept");  // the files that keep their old content
        QTest::addColumn<int>("asked");
        QTest::addColumn<bool>("stopped");
        using A = ostrivane::OverwriteAnswer;
        QTest::newRow("no, then yes to all")
            << QList<int>{int(A::No), int(A::YesToAll)} << "a" << 2 << false;
        QTest::newRow("yes, then no to all")
            << QList<int>{int(A::Yes), int(A::NoToAll)} << "bcd" << 2 << false;
        QTest::newRow("stop") << QList<int>{int(A::Yes), int(A::Stop)} << "bcd" << 2 << true;
    }

    void askBoxAnswersForTheRestOfTheRunOrStops() {
        QFETCH(QList<int>, answers);
        QFETCH(QString, kept);
        QFETCH(int, asked);
        QFETCH(bool, stopped);
        for (const char* name : {"a", "b", "c", "d"}) {
            WriteFile(Path(QStringLiteral("src/%1.txt").arg(name)), "new");
            WriteFile(Path(QStringLiteral("out/%1.txt").arg(name)), "old");
            form_->SourceModel().append(ToPath(Path(QStringLiteral("src/%1.txt").arg(name))));
        }
        form_->DestinationModel().append(ToPath(Path("out/")));
        form_->Rb3->setChecked(true);
        for (int answer : answers)
            prompts_->overwriteAnswers.push_back(ostrivane::OverwriteAnswer(answer));
        form_->BtnCopyClick();
        QCOMPARE(prompts_->Texts("ask").size(), asked);
        for (const char* name : {"a", "b", "c", "d"})
            QCOMPARE(ReadFile(Path(QStringLiteral("out/%1.txt").arg(name))),
                     QByteArray(kept.contains(QLatin1String(name)) ? "old" : "new"));
        const QStringList information = prompts_->Texts("information");
        QCOMPARE(information.size(), 1);
        QVERIFY2(information[0].startsWith(stopped ? QStringLiteral("复制已停止。") : kCopyDone),
                 qPrintable(information[0]));
        // A later run asks again: the answer held only for its own run.
        prompts_->overwriteAnswers = {
            ostrivane::OverwriteAnswer::No, ostrivane::OverwriteAnswer::No,
            ostrivane::OverwriteAnswer::No, ostrivane::OverwriteAnswer::No};
        form_->BtnCopyClick();
        QCOMPARE(prompts_->Texts("ask").size(), asked + 4);
    }

    // Closing the window during a run asks whether to stop and quit; Yes stops the run (the
    // file asked about keeps its content, nothing after it starts) and the window closes
    // when the run has ended, without an end-of-run box.
    void closingDuringARunStopsItAndClosesAfterwards() {
        for (const char* name : {"a", "b"}) {
            WriteFile(Path(QStringLiteral("src/%1.txt").arg(name)), "new");
            WriteFile(Path(QStringLiteral("out/%1.txt").arg(name)), "old");
            form_->SourceModel().append(ToPath(Path(QStringLiteral("src/%1.txt").arg(name))));
        }
        form_->DestinationModel().append(ToPath(Path("out/")));
        form_->Rb3->setChecked(true);
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
        bool closedAtOnce = true;
        prompts_->duringQuestion = [&] {
            if (prompts_->shown.size() == 1) closedAtOnce = form_->close();
        };
        prompts_->answers = {true, true};  // stop and quit; then Yes to the file's question
        form_->BtnCopyClick();
        QVERIFY(!closedAtOnce);
        QCOMPARE(prompts_->Texts("question").size(), 2);
        QCOMPARE(prompts_->Texts("question")[1], kCloseDuringRun);
        QCOMPARE(ReadFile(Path("out/a.txt")), QByteArray("old"));
        QCOMPARE(ReadFile(Path("out/b.txt")), QByteArray("old"));
        QVERIFY(prompts_->Texts("information").isEmpty());
        QTRY_VERIFY(!form_->isVisible());
    }

    void immediateEmptyingAsksThenWorksOncePerRun() {
        WriteFile(Path("one/x.txt"), "x");
        WriteFile(Path("one/sub/y.txt"), "y");
        WriteFile(Path("two/.hidden"), "z");
        form_->DestinationModel().append(ToPath(Path("one/")));
        form_->DestinationModel().append(ToPath(Path("two/")));
        form_->BtnEmptyDestFolder->setVisible(true);
        prompts_->answers = {true, false, true};
        form_->CheckBox1->click();

        form_->N1Click();  // answered No
        QCOMPARE(FolderContent(Path("one")), QStringList({"sub", "x.txt"}));
        QVERIFY(form_->CheckBox1->isChecked());
        QVERIFY(form_->BtnEmptyDestFolder->isEnabled());

        form_->N1->trigger();  // answered Yes
        QVERIFY(QFileInfo(Path("one")).isDir());
        QVERIFY(FolderContent(Path("one")).isEmpty());
        QVERIFY(FolderContent(Path("two")).isEmpty());
        QCOMPARE(prompts_->Texts("information"),
                 QStringList({QStringLiteral("目标文件夹下的内容已完全删除！")}));
        QCOMPARE(prompts_->Texts("warning").size(), 3);
        QVERIFY(!form_->CheckBox1->isChecked());
        QVERIFY(!form_->BtnEmptyDestFolder->isEnabled());

        // Clearing the list and showing the button again does not enable it.
        form_->Button7Click();
        form_->BtnEmptyDestFolder->setVisible(true);
        QVERIFY(!form_->BtnEmptyDestFolder->isEnabled());
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
        QTest::mousePress(form_->BtnEmptyDestFolder, Qt::LeftButton, {}, QPoint(4, 4));
        QVERIFY(!form_->PopupMenu1->isVisible());
    }

    void immediateEmptyingNamesWhatStayed() {
        WriteFile(Path("out/b.txt"), "b");
        // A name that reads as the folder's own entry is never deleted.
        WriteFile(Path("out/ ."), "stays");
        form_->DestinationModel().append(ToPath(Path("out/")));
        prompts_->answers = {true};
        form_->N1Click();
        QCOMPARE(FolderContent(Path("out")), QStringList({" ."}));
        const QStringList information = prompts_->Texts("information");
        QCOMPARE(information.size(), 1);
        QVERIFY2(information[0].startsWith(QStringLiteral("目标文件夹下仍有 1 项未能删除")),
                 qPrintable(information[0]));
        QVERIFY(information[0].contains(Path("out/ .: ")));
        QVERIFY(!form_->BtnEmptyDestFolder->isEnabled());
    }

    void emptyingButtonOpensTheMenuForAnyMouseButton_data() {
        QTest::addColumn<Qt::MouseButton>("button");
        QTest::newRow("left") << Qt::LeftButton;
        QTest::newRow("right") << Qt::RightButton;
        QTest::newRow("middle") << Qt::MiddleButton;
    }

    void emptyingButtonOpensTheMenuForAnyMouseButton() {
        QFETCH(Qt::MouseButton, button);
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
        QTest::mousePress(form_->BtnEmptyDestFolder, button, {}, QPoint(5, 6));
        QVERIFY(!form_->PopupMenu1->isVisible());  // hidden buttons take no input

        form_->BtnEmptyDestFolder->setVisible(true);
        QTest::mousePress(form_->BtnEmptyDestFolder, button, {}, QPoint(5, 6));
        QTRY_VERIFY(form_->PopupMenu1->isVisible());
        QCOMPARE(form_->PopupMenu1->pos(), form_->BtnEmptyDestFolder->mapToGlobal(QPoint(5, 6)));
        form_->PopupMenu1->hide();
        QVERIFY(prompts_->shown.empty());
    }

  private:
    QString Path(const QString& relative) const { return files_->filePath(relative); }
};

int main(int argc, char** argv) {
    return ostrivane::test::RunTests<CopyRunWindowTest>(argc, argv);
}

#include "copy_run_window_test.moc"
