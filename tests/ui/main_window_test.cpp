// The main window's list commands, list files, settings and error box, driven through the
// handlers with every dialog answered from a script.
#include <QAction>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFileIconProvider>
#include <QGroupBox>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include "core/fsops.h"
#include "core/list_files.h"
#include "ui/Messages.h"
#include "ui/Startup.h"
#include "ui/Unit1.h"
#include "ui_test_support.h"

using ostrivane::FromPath;
using ostrivane::TForm1;
using ostrivane::ToPath;
using ostrivane::test::ReadFile;
using ostrivane::test::WindowFixture;
using ostrivane::test::WriteFile;
namespace messages = ostrivane::messages;

namespace {

QStringList Entries(const ostrivane::PathList& list) {
    QStringList entries;
    for (const std::string& entry : list.entries()) entries << FromPath(entry);
    return entries;
}

// The caption a control shows: a group's title, a button's, label's or menu item's text.
QString CaptionOf(const QObject* control) {
    if (const auto* group = qobject_cast<const QGroupBox*>(control)) return group->title();
    if (const auto* button = qobject_cast<const QAbstractButton*>(control)) return button->text();
    if (const auto* label = qobject_cast<const QLabel*>(control)) return label->text();
    if (const auto* action = qobject_cast<const QAction*>(control)) return action->text();
    return {};
}

void Select(QListView* view, int row) {
    view->setCurrentIndex(view->model()->index(row, 0));
    QCOMPARE(view->selectionModel()->selectedRows().size(), 1);
}

}  // namespace

class MainWindowTest : public QObject, protected WindowFixture<> {
    Q_OBJECT

  private slots:
    void init() { StartWindow(); }

    void cleanup() { FinishWindow(); }

    void startsWithTheDesignState() {
        QCOMPARE(form_->windowTitle(), QStringLiteral("Ostrivane"));
        QCOMPARE(form_->PageControl1->currentWidget(), form_->TabSheet1);
        QCOMPARE(form_->PageControl1->tabText(0), QStringLiteral("开始使用"));
        QCOMPARE(form_->PageControl1->tabText(1), QStringLiteral("帮助及使用技巧"));
        // Every control under its design name, with its caption where it has one.
        const std::pair<const char*, const char*> controls[] = {
            {"PageControl1", ""},
            {"TabSheet1", ""},
            {"TabSheet2", ""},
            {"WebBrowser1", ""},
            {"GroupBox1", "要复制的文件或文件夹"},
            {"ListBox1", ""},
            {"Button1", "添加文件"},
            {"Button5", "添加文件夹"},
            {"Button2", "移除文件(夹)"},
            {"Button6", "清空列表"},
            {"BtnSaveFileList", "导出列表"},
            {"BtnImpFileList", "导入列表"},
            {"GroupBox2", "复制到的文件夹(目录)"},
            {"ListBox2", ""},
            {"Button3", "添加文件夹"},
            {"Button4", "移除文件夹"},
            {"Button7", "清空列表"},
            {"BtnSaveDirLst", "导出列表"},
            {"BtnImpDirLst", "导入列表"},
            {"ListBox3", ""},
            {"GroupBox3", "复制选项"},
            {"Label1", " 目标目录下已有同名文件存在时："},
            {"Rb1", "覆盖"},
            {"Rb2", "跳过"},
            {"Rb3", "询问"},
            {"RbRename", "自动编号同名文件"},
            {"CheckBox1", "复制时先清空（删除）目标文件夹中的原有内容"},
            {"CheckVerify", "复制后校验副本"},
            {"BtnEmptyDestFolder", "..."},
            {"PopupMenu1", ""},
            {"N1", "立即清空（删除）目标文件夹中的原有内容"},
            {"GroupBox4", "进度"},
            {"ProgressBar1", ""},
            {"Panel1", ""},
            {"BtnCopy", "开始复制"},
        };
        for (const auto& [name, caption] : controls) {
            const QObject* control = form_->findChild<QObject*>(QString::fromLatin1(name));
            QVERIFY2(control, name);
            QCOMPARE(CaptionOf(control), QString::fromUtf8(caption));
        }
        QCOMPARE(form_->BtnEmptyDestFolder->toolTip(),
                 QStringLiteral("立即清空（删除）目标文件夹中的原有内容"));
        QVERIFY(form_->BtnEmptyDestFolder->isHidden());
        QVERIFY(form_->BtnEmptyDestFolder->isEnabled());
        // Reachable with Tab, unlike the design's speed button: the keyboard opens its menu.
        QCOMPARE(form_->BtnEmptyDestFolder->focusPolicy(), Qt::TabFocus);
        QVERIFY(form_->ListBox3->isHidden());
        QVERIFY(!form_->CheckBox1->isChecked());
        QVERIFY(!form_->CheckVerify->isChecked());
        // The options group holds its controls whole, none over another.
        const QList<QWidget*> options = {form_->Label1, form_->Rb1, form_->CheckBox1,
                                         form_->CheckVerify};
        for (int i = 0; i < options.size(); ++i) {
            QVERIFY(form_->GroupBox3->rect().contains(options[i]->geometry()));
            for (int j = i + 1; j < options.size(); ++j)
                QVERIFY(!options[i]->geometry().intersects(options[j]->geometry()));
        }
        QCOMPARE(form_->ProgressBar1->minimum(), 0);
        QCOMPARE(form_->ProgressBar1->maximum(), 100);
        QCOMPARE(form_->ProgressBar1->value(), 0);
        // No settings file: the numbered-name policy, not the design's first button.
        QVERIFY(form_->RbRename->isChecked());
        QVERIFY(!(form_->windowFlags() & Qt::WindowMaximizeButtonHint));
    }

    // The Tab key goes through the window from top to bottom and left to right; the policy
    // buttons are one stop, the checked one, also when the program checked it;
    // BtnEmptyDestFolder is a stop while it is shown.
    void tabKeyGoesThroughTheWindowInReadingOrder_data() {
        QTest::addColumn<QString>("checked");
        QTest::addColumn<bool>("withDestination");
        QTest::newRow("stored policy") << "RbRename" << false;
        QTest::newRow("first button") << "Rb1" << false;
        QTest::newRow("third button, emptying button shown") << "Rb3" << true;
    }

    void tabKeyGoesThroughTheWindowInReadingOrder() {
        QFETCH(QString, checked);
        QFETCH(bool, withDestination);
        form_->findChild<QRadioButton*>(checked)->setChecked(true);
        if (withDestination) form_->BtnEmptyDestFolder->setVisible(true);
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
        QStringList expected{"ListBox1",     "Button1",         "Button5",        "Button2",
                             "Button6",      "BtnSaveFileList", "BtnImpFileList", "ListBox2",
                             "Button3",      "Button4",         "Button7",        "BtnSaveDirLst",
                             "BtnImpDirLst", checked,           "CheckBox1"};
        if (withDestination) expected << "BtnEmptyDestFolder";
        expected << "CheckVerify" << "BtnCopy";
        form_->ListBox1->setFocus();
        QStringList reached{QApplication::focusWidget()->objectName()};
        while (reached.size() < expected.size()) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            reached << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(reached, expected);
        if (!withDestination) return;
        // Space on the focused BtnEmptyDestFolder opens its menu.
        form_->BtnEmptyDestFolder->setFocus();
        QTest::keyClick(form_->BtnEmptyDestFolder, Qt::Key_Space);
        QTRY_VERIFY(form_->PopupMenu1->isVisible());
        form_->PopupMenu1->close();
    }

    // At a large size and at the smallest the window allows, every control of the working
    // page lies inside its group and the window, no two controls of one group overlap, every
    // caption fits its control, and the lists take the extra room.
    void layoutHoldsAtALargeAndAtTheSmallestSize() {
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
        const QSize design = form_->size();
        QVERIFY(form_->minimumWidth() >= 752 && form_->minimumHeight() >= 543);
        const QRect sourceListAtDesign = form_->ListBox1->geometry();
        for (const QSize& size : {QSize(1600, 1100), QSize(100, 40)}) {
            form_->resize(size);
            QTRY_VERIFY(form_->size() == size.expandedTo(form_->minimumSize()));
            QApplication::processEvents();
            const QRect page = form_->TabSheet1->rect();
            const QList<QWidget*> groups{form_->GroupBox1, form_->GroupBox2, form_->GroupBox3,
                                         form_->GroupBox4, form_->Panel1};
            for (QWidget* group : groups) {
                QVERIFY2(page.contains(group->geometry()), qPrintable(group->objectName()));
                QList<QWidget*> inside;
                for (QWidget* child : group->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
                    if (child->isVisibleTo(form_.get())) inside << child;
                for (int i = 0; i < inside.size(); ++i) {
                    const QWidget* a = inside[i];
                    QVERIFY2(group->rect().contains(a->geometry()), qPrintable(a->objectName()));
                    // Whole captions: a control is never narrower than its text needs.
                    if (qobject_cast<const QAbstractButton*>(a) || qobject_cast<const QLabel*>(a))
                        QVERIFY2(a->width() >= a->minimumSizeHint().width(),
                                 qPrintable(a->objectName()));
                    for (int j = i + 1; j < inside.size(); ++j)
                        QVERIFY2(!a->geometry().intersects(inside[j]->geometry()),
                                 qPrintable(a->objectName() + " / " + inside[j]->objectName()));
                }
            }
            for (int i = 0; i < groups.size(); ++i)
                for (int j = i + 1; j < groups.size(); ++j)
                    QVERIFY(!groups[i]->geometry().intersects(groups[j]->geometry()));
            if (size.width() > design.width()) {
                QVERIFY(form_->ListBox1->width() > sourceListAtDesign.width() + 700);
                QVERIFY(form_->ListBox1->height() > sourceListAtDesign.height() + 150);
                QVERIFY(form_->ListBox2->height() > sourceListAtDesign.height() + 100);
            }
        }
    }

    // The file dialogs' list names the types of its entries in Chinese, also those that
    // Qt's own translation lacks.
    void fileDialogTypesSpeakChinese() {
        ostrivane::InstallMissingQtTexts(*QCoreApplication::instance());
        QTemporaryDir folder;
        const QFileIconProvider types;
        QCOMPARE(types.type(QFileInfo(folder.path())), QStringLiteral("文件夹"));
        QCOMPARE(QCoreApplication::translate("QAbstractFileIconProvider", "%1 File"),
                 QStringLiteral("%1 文件"));
    }

    void addFilesKeepsDialogOrderAndAddsEachOnce() {
        prompts_->openFilesResults = {
            {"/data/b.txt", "/data/a.txt"}, {"/data/a.txt", "/data/c.txt"}, {}};
        form_->Button1Click();
        form_->Button1Click();
        QCOMPARE(Entries(form_->Sources()),
                 QStringList({"/data/b.txt", "/data/a.txt", "/data/c.txt"}));
        // The scratch list holds what the last dialog returned.
        QCOMPARE(form_->ScratchModel().rowCount(), 2);
        QCOMPARE(form_->ListBox1->model()->rowCount(), 3);

        form_->Button1Click();  // cancelled
        QCOMPARE(form_->Sources().count(), 3);

        QCOMPARE(prompts_->fileRequests.size(), size_t{3});
        QCOMPARE(prompts_->fileRequests[0].name, QStringLiteral("OpenDialog1"));
        QCOMPARE(prompts_->fileRequests[0].filter, QStringLiteral("*.* (*)"));
        QVERIFY(prompts_->shown.empty());
    }

    void addFolderAppendsSeparatorAndRefusesTheWholeDrive() {
        prompts_->folderResults = {"/srv/data", "/srv/data/", "/", "", "/srv/Data"};
        for (int i = 0; i < 5; ++i) form_->Button5Click();
        QCOMPARE(Entries(form_->Sources()), QStringList({"/srv/data/", "/srv/Data/"}));
        QCOMPARE(prompts_->Texts("information"),
                 QStringList({QStringLiteral("不能对整个驱动器（磁盘）进行复制！")}));
        QCOMPARE(prompts_->folderPrompts.front(), QStringLiteral("请选择文件夹"));
    }

    void removeAndDeleteKeyActOnTheSelectedSource() {
        for (const char* path : {"/a", "/b", "/c", "/d"}) form_->SourceModel().append(path);
        form_->Button2Click();  // nothing selected
        QCOMPARE(form_->Sources().count(), 4);

        Select(form_->ListBox1, 1);
        form_->Button2Click();
        QCOMPARE(Entries(form_->Sources()), QStringList({"/a", "/c", "/d"}));

        Select(form_->ListBox1, 0);
        QTest::keyClick(form_->ListBox1, Qt::Key_A);
        QCOMPARE(form_->Sources().count(), 3);
        QTest::keyClick(form_->ListBox1, Qt::Key_Delete, Qt::ShiftModifier);
        QCOMPARE(Entries(form_->Sources()), QStringList({"/c", "/d"}));

        form_->Button6Click();
        QCOMPARE(form_->Sources().count(), 0);
        QCOMPARE(form_->ListBox1->model()->rowCount(), 0);
    }

    void emptyingButtonHidesWithTheLastDestination() {
        const QString one = files_->filePath("one/"), two = files_->filePath("two/");
        QDir().mkpath(one);
        QDir().mkpath(two);
        const QString list = files_->filePath("dirs.lst");
        WriteFile(list, (one + "\r\n" + two + "\r\n").toUtf8());
        prompts_->fileResults = {list};
        form_->BtnImpDirLstClick();
        QVERIFY(form_->BtnEmptyDestFolder->isVisibleTo(form_.get()));

        Select(form_->ListBox2, 0);
        form_->Button4Click();
        QCOMPARE(Entries(form_->Destinations()), QStringList({two}));
        QVERIFY(form_->BtnEmptyDestFolder->isVisibleTo(form_.get()));

        Select(form_->ListBox2, 0);
        QTest::keyClick(form_->ListBox2, Qt::Key_Delete);
        QCOMPARE(form_->Destinations().count(), 0);
        QVERIFY(form_->BtnEmptyDestFolder->isHidden());

        // Shown on an empty list (as a drop of files alone leaves it), the Delete key with
        // nothing selected still hides it.
        form_->BtnEmptyDestFolder->setVisible(true);
        QTest::keyClick(form_->ListBox2, Qt::Key_Delete);
        QVERIFY(form_->BtnEmptyDestFolder->isHidden());

        prompts_->fileResults = {list};
        form_->BtnImpDirLstClick();
        QCOMPARE(form_->Destinations().count(), 2);
        form_->Button7Click();
        QCOMPARE(form_->Destinations().count(), 0);
        QVERIFY(form_->BtnEmptyDestFolder->isHidden());
        QVERIFY(prompts_->shown.empty());
    }

    void exportsRefuseEmptyListsAndWriteOneLinePerEntry() {
        form_->BtnSaveFileListClick();
        form_->BtnSaveDirLstClick();
        QCOMPARE(prompts_->Texts("information"),
                 QStringList(
                     {QStringLiteral("当前文件列表为空！"), QStringLiteral("当前目录列表为空！")}));
        QVERIFY(prompts_->fileRequests.empty());

        form_->SourceModel().append("/a");
        form_->SourceModel().append("/报告.txt");
        form_->DestinationModel().append("/out/");
        const QString sourceFile = files_->filePath("mine");
        const QString destinationFile = files_->filePath("dest.lst");
        prompts_->fileResults = {sourceFile, destinationFile, ""};
        form_->BtnSaveFileListClick();
        form_->BtnSaveDirLstClick();
        form_->BtnSaveDirLstClick();  // cancelled
        QCOMPARE(ReadFile(sourceFile), QByteArray("/a\r\n/报告.txt\r\n"));
        QCOMPARE(ReadFile(destinationFile), QByteArray("/out/\r\n"));

        QCOMPARE(prompts_->fileRequests.size(), size_t{3});
        QCOMPARE(prompts_->fileRequests[0].name, QStringLiteral("SaveDialog1"));
        QCOMPARE(prompts_->fileRequests[0].proposedName, QStringLiteral("file.lst"));
        QCOMPARE(prompts_->fileRequests[0].filter, QStringLiteral("列表文件(*.lst)"));
        QCOMPARE(prompts_->fileRequests[1].proposedName, QStringLiteral("dir.lst"));
        QCOMPARE(prompts_->shown.size(), size_t{2});
    }

    void sourceImportTakesExistingPathsOnceAndSilently() {
        const QString file = files_->filePath("a.txt");
        const QString folder = files_->filePath("sub");
        WriteFile(file, "x");
        QDir().mkpath(folder);
        form_->SourceModel().append(ToPath(folder));
        const QString list = files_->filePath("sources.lst");
        WriteFile(list, (file + "\r\n" + files_->filePath("missing") + "\n" + folder + "\r" + file +
                         "\r\n\r\n" + folder + "/")
                            .toUtf8());
        prompts_->fileResults = {list, ""};
        form_->BtnImpFileListClick();
        form_->BtnImpFileListClick();  // cancelled
        // The folder with "/" is the listed folder, copied under the same name.
        QCOMPARE(Entries(form_->Sources()), QStringList({folder, file}));
        QVERIFY(prompts_->shown.empty());
        QCOMPARE(prompts_->fileRequests[0].name, QStringLiteral("OpenDialog2"));
        QCOMPARE(prompts_->fileRequests[0].filter, QStringLiteral("*.lst (*.lst)"));
    }

    void destinationImportSaysWhenLinesWereNotTaken() {
        const QString one = files_->filePath("one/");
        QDir().mkpath(one);
        const QString complete = files_->filePath("complete.lst");
        const QString partial = files_->filePath("partial.lst");
        const QString empty = files_->filePath("empty.lst");
        WriteFile(complete, (one + "\r\n").toUtf8());
        WriteFile(partial, (files_->filePath("gone/") + "\r\n" + one + "\r\n").toUtf8());
        WriteFile(empty, "");

        prompts_->fileResults = {empty};
        form_->BtnImpDirLstClick();
        QVERIFY(prompts_->shown.empty());
        QVERIFY(form_->BtnEmptyDestFolder->isHidden());

        prompts_->fileResults = {complete};
        form_->BtnImpDirLstClick();
        QVERIFY(prompts_->shown.empty());
        QVERIFY(form_->BtnEmptyDestFolder->isVisibleTo(form_.get()));

        // One line names no folder, the other is listed already: one message.
        prompts_->fileResults = {partial};
        form_->BtnImpDirLstClick();
        QCOMPARE(Entries(form_->Destinations()), QStringList({one}));
        QCOMPARE(prompts_->Texts("information"),
                 QStringList({QStringLiteral("列表文件中所保存某些目录已不存在，未能导入。")}));
    }

    // Emptying the root before a copy would delete everything the user may delete: no line
    // that names it becomes a destination, and the window says so once per file.
    void destinationImportRefusesTheFileSystemRoot() {
        const QString one = files_->filePath("one/");
        QDir().mkpath(one);
        const QString toRoot = files_->filePath("to-root");
        QVERIFY(QFile::link("/", toRoot));
        const QString roots = files_->filePath("roots.lst");
        const QString mixed = files_->filePath("mixed.lst");
        WriteFile(roots, "/\r\n/tmp/..\r\n");
        WriteFile(
            mixed,
            (toRoot + "\r\n" + one + "\r\n/\r\n" + files_->filePath("gone/") + "\r\n").toUtf8());

        prompts_->fileResults = {roots};
        form_->BtnImpDirLstClick();
        QCOMPARE(form_->Destinations().count(), 0);
        QCOMPARE(prompts_->Texts("information"), QStringList{messages::kDriveRootRefused});
        QVERIFY(form_->BtnEmptyDestFolder->isHidden());

        // With a folder taken and a line skipped: the root's message, then the other.
        prompts_->shown.clear();
        prompts_->fileResults = {mixed};
        form_->BtnImpDirLstClick();
        QCOMPARE(Entries(form_->Destinations()), QStringList({one}));
        QCOMPARE(prompts_->Texts("information"),
                 QStringList({messages::kDriveRootRefused, messages::kSomeFoldersNotImported}));
        QVERIFY(form_->BtnEmptyDestFolder->isVisibleTo(form_.get()));
    }

    void failedImportShowsTheErrorAndTheWindowGoesOn() {
        form_->SourceModel().append("/kept");
        prompts_->fileResults = {files_->filePath("no-such.lst")};
        form_->BtnImpFileListClick();
        const QStringList errors = prompts_->Texts("error");
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors[0].startsWith("Cannot open file"), qPrintable(errors[0]));
        QVERIFY2(errors[0].endsWith('.'), qPrintable(errors[0]));
        QCOMPARE(Entries(form_->Sources()), QStringList({"/kept"}));

        prompts_->fileResults = {files_->filePath("no-such-folder/out.lst")};
        form_->BtnSaveFileListClick();
        const QStringList laterErrors = prompts_->Texts("error");
        QCOMPARE(laterErrors.size(), 2);
        QVERIFY2(laterErrors[1].startsWith("Cannot create file"), qPrintable(laterErrors[1]));
        QVERIFY2(laterErrors[1].endsWith('.'), qPrintable(laterErrors[1]));

        prompts_->folderResults = {"/srv"};
        form_->Button5Click();
        QCOMPARE(Entries(form_->Sources()), QStringList({"/kept", "/srv/"}));
    }

    void errorBoxAppendsAFullStopAboveFullStop_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("shown");
        QTest::newRow("letter") << "Unable to insert a line"
                                << "Unable to insert a line.";
        QTest::newRow("exclamation") << "Stop!"
                                     << "Stop!";
        QTest::newRow("full stop") << "Stream write error."
                                   << "Stream write error.";
        QTest::newRow("parenthesis") << "Error (5)"
                                     << "Error (5)";
        QTest::newRow("comma and blank") << "a, "
                                         << "a, ";
        QTest::newRow("slash") << "Unable to write to /x/"
                               << "Unable to write to /x/.";
        QTest::newRow("chinese") << "目录不存在"
                                 << "目录不存在.";
        QTest::newRow("fullwidth exclamation") << "完成！"
                                               << "完成！.";
        QTest::newRow("empty") << ""
                               << "";
    }

    void errorBoxAppendsAFullStopAboveFullStop() {
        QFETCH(QString, message);
        QFETCH(QString, shown);
        form_->ShowUnexpectedError(message.toStdString());
        QCOMPARE(prompts_->Texts("error"), QStringList({shown}));
    }

    // The real boxes: caption, icon, Chinese buttons, and Enter gives the default answer
    // (No for the warning).
    void realBoxesOfEachKind_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("icon");
        QTest::addColumn<QStringList>("buttons");
        QTest::addColumn<bool>("enterAnswers");
        const QStringList yesNo{QStringLiteral("是"), QStringLiteral("否")};
        const QStringList ok{QStringLiteral("确定")};
        QTest::newRow("information")
            << "information" << int(QMessageBox::Information) << ok << false;
        QTest::newRow("question") << "question" << int(QMessageBox::Question) << yesNo << true;
        QTest::newRow("warning") << "warning" << int(QMessageBox::Warning) << yesNo << false;
        QTest::newRow("error") << "error" << int(QMessageBox::Critical) << ok << false;
    }

    void realBoxesOfEachKind() {
        QFETCH(QString, kind);
        ostrivane::DialogPrompts prompts(form_.get());
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
        QString title, text;
        int icon = -1;
        QStringList shownButtons;
        bool modal = false;
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible()) return;
            poll.stop();
            title = box->windowTitle();
            text = box->text();
            icon = box->icon();
            for (const QAbstractButton* button : box->buttons()) shownButtons << button->text();
            modal = box->windowModality() == Qt::ApplicationModal;
            QTest::keyClick(box, Qt::Key_Return);
        });
        poll.start(10);
        const QString message = QStringLiteral("文本");
        bool answer = false;
        if (kind == "information") prompts.information(message);
        if (kind == "question") answer = prompts.question(message);
        if (kind == "warning") answer = prompts.warning(message);
        if (kind == "error") prompts.error(message);

        QCOMPARE(title, QStringLiteral("Ostrivane"));
        QCOMPARE(text, message);
        QTEST(icon, "icon");
        QTEST(shownButtons, "buttons");
        QVERIFY(modal);
        QTEST(answer, "enterAnswers");
        QVERIFY(!QGuiApplication::overrideCursor());
    }

    void storedPolicyChecksItsRadioButton_data() {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QString>("checked");
        QTest::newRow("1") << QByteArray("1") << "Rb1";
        QTest::newRow("2") << QByteArray("2") << "Rb2";
        QTest::newRow("3") << QByteArray("3") << "Rb3";
        QTest::newRow("4") << QByteArray("4") << "RbRename";
        QTest::newRow("0") << QByteArray("0") << "RbRename";
        QTest::newRow("99") << QByteArray("99") << "RbRename";
        QTest::newRow("text") << QByteArray("two") << "RbRename";
    }

    void storedPolicyChecksItsRadioButton() {
        QFETCH(QByteArray, stored);
        QFETCH(QString, checked);
        WriteFile(environment_->SettingsFile(), "[Parameter]\r\nSameFile=" + stored + "\r\n");
        TForm1 form(*prompts_);
        auto* radio = form.findChild<QRadioButton*>(checked);
        QVERIFY(radio->isChecked());
        QCOMPARE(static_cast<int>(form.CheckedPolicy()),
                 checked == "RbRename" ? 4 : stored.toInt());
    }

    void closingStoresThePolicyForTheNextStart() {
        WriteFile(environment_->SettingsFile(), "[Other]\r\nKey=kept\r\n");
        form_->Rb3->setChecked(true);
        form_->show();
        QVERIFY(form_->close());
        QVERIFY(ReadFile(environment_->SettingsFile()).contains("Key=kept"));

        TForm1 second(*prompts_);
        QVERIFY(second.Rb3->isChecked());
        second.Rb2->setChecked(true);
        QVERIFY(second.FormClose());
        TForm1 third(*prompts_);
        QVERIFY(third.Rb2->isChecked());
        QVERIFY(prompts_->shown.empty());
    }

    // "Verify=1" in [Parameter] checks the box; "0", another value or no key leaves it
    // clear. Closing stores it beside the policy and whatever else the file holds.
    void verifyOptionIsStoredWithThePolicy() {
        const QList<QPair<QByteArray, bool>> stored = {
            {"[Parameter]\r\nSameFile=2\r\nVerify=1\r\n", true},
            {"[Parameter]\r\nVerify=0\r\n", false},
            {"[Parameter]\r\nVerify=yes\r\n", false},
            {"[Parameter]\r\nSameFile=2\r\n", false},
            {"[Other]\r\nVerify=1\r\n", false}};
        for (const auto& [text, checked] : stored) {
            WriteFile(environment_->SettingsFile(), text);
            TForm1 form(*prompts_);
            QVERIFY2(form.CheckVerify->isChecked() == checked, text.constData());
        }
        WriteFile(environment_->SettingsFile(), "[Other]\r\nKey=kept\r\n");
        TForm1 first(*prompts_);
        first.CheckVerify->setChecked(true);
        first.Rb2->setChecked(true);
        QVERIFY(first.FormClose());
        const QByteArray written = ReadFile(environment_->SettingsFile());
        QVERIFY2(written.contains("Key=kept") && written.contains("Verify=1") &&
                     written.contains("SameFile=2"),
                 written.constData());
        TForm1 second(*prompts_);
        QVERIFY(second.CheckVerify->isChecked());
        QVERIFY(second.Rb2->isChecked());
        second.CheckVerify->setChecked(false);
        QVERIFY(second.FormClose());
        QVERIFY(ReadFile(environment_->SettingsFile()).contains("Verify=0"));
        TForm1 third(*prompts_);
        QVERIFY(!third.CheckVerify->isChecked());
    }

    void refusedSettingsWriteKeepsTheWindowOpen() {
        // A settings folder that is a file cannot take the settings file, even for root.
        const QString notAFolder = files_->filePath("not-a-folder");
        WriteFile(notAFolder, "x");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(notAFolder));
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
        QVERIFY(!form_->close());
        QVERIFY(form_->isVisible());
        const QStringList errors = prompts_->Texts("error");
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors[0].startsWith("Unable to write to "), qPrintable(errors[0]));
        QVERIFY2(errors[0].endsWith("Quillmere.ini."), qPrintable(errors[0]));

        // Closing can be tried again once the folder is usable.
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(environment_->ConfigPath()));
        QVERIFY(form_->close());
        QVERIFY(!form_->isVisible());
    }

    void hundredThousandEntriesStayFast() {
        std::vector<std::string> entries;
        for (int i = 0; i < 100000; ++i)
            entries.push_back("/data/folder/" + std::to_string(i) + "/");
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_.get()));

        QElapsedTimer timer;
        timer.start();
        form_->DestinationModel().change([&](ostrivane::PathList& list) { list.assign(entries); });
        form_->ListBox2->scrollToBottom();
        form_->ListBox2->repaint();
        const qint64 fill = timer.restart();
        QVERIFY(form_->DestinationModel().addIfAbsent("/data/new/"));
        QVERIFY(!form_->DestinationModel().addIfAbsent("/data/folder/5/"));
        form_->ListBox2->repaint();
        const qint64 addOne = timer.restart();
        Select(form_->ListBox2, 0);
        QTest::keyClick(form_->ListBox2, Qt::Key_Delete);
        form_->ListBox2->repaint();
        const qint64 removeFirst = timer.restart();
        QCOMPARE(form_->Destinations().count(), 100000);
        QCOMPARE(form_->Destinations().at(0), std::string("/data/folder/1/"));
        qInfo("100000 destinations: show %lld ms, add one %lld ms, remove the first %lld ms", fill,
              addOne, removeFirst);
        QVERIFY(fill < 2000);
        QVERIFY(addOne < 500);
        QVERIFY(removeFirst < 1000);
    }

  private:
};

int main(int argc, char** argv) {
    return ostrivane::test::RunTests<MainWindowTest>(argc, argv);
}

#include "main_window_test.moc"
