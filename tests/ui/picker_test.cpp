// The destination folder picker: option coupling, the depth box's key filter, the tree's
// contents and refresh, and the add command on real temporary folders.
#include <QAbstractItemModel>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <QtTest>
#include <algorithm>
#include <string>
#include <vector>

#include "core/path_list.h"
#include "core/settings.h"
#include "ui/Unit2.h"
#include "ui_test_support.h"

using namespace ostrivane;
using ostrivane::test::IsPreOrder;

namespace {

// The tests may run as an unprivileged user without a home folder: home, configuration and
// runtime folders are temporary, set before the application object exists.
struct TestEnvironment {
    QTemporaryDir base;
    QString home = base.path() + "/home";
    QString config = base.path() + "/config";
    TestEnvironment() {
        for (const QString& dir :
             {home, home + "/Desktop", config, base.path() + "/data", base.path() + "/runtime"})
            QDir().mkpath(dir);
        QFile::setPermissions(base.path() + "/runtime",
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("HOME", QFile::encodeName(home));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config));
        qputenv("XDG_DATA_HOME", QFile::encodeName(base.path() + "/data"));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(base.path() + "/runtime"));
        qunsetenv("XDG_CURRENT_DESKTOP");
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    }
};
TestEnvironment environment;

// A temporary folder tree:  根目录/{A/A1/A2, B, .hidden, file.txt}.
struct Tree {
    QTemporaryDir dir;
    QString root = dir.path() + QStringLiteral("/根目录");
    Tree() {
        for (const char* folder : {"A/A1/A2", "B", ".hidden"}) QDir().mkpath(root + '/' + folder);
        QFile file(root + "/file.txt");
        file.open(QIODevice::WriteOnly);
    }
    // The path as the destination list holds it: file-name bytes ending with "/".
    std::string entry(const QString& relative = {}) const {
        const QString path = relative.isEmpty() ? root : root + '/' + relative;
        return QFile::encodeName(path).toStdString() + '/';
    }
};

// Waits until the tree has read the folders of its last rebuild.
#define WAIT_FOR_TREE(form) QTRY_VERIFY_WITH_TIMEOUT(!(form).IsTreeLoading(), 10000)

void ExpandFolder(TForm2& form, const QString& folder) {
    const auto* fs = static_cast<const QFileSystemModel*>(form.ShellTreeView1->model());
    form.ShellTreeView1->expand(fs->index(folder));
}

// Names of the folders the tree shows directly below `folder`.
QStringList ShownSubfolders(const TForm2& form, const QString& folder) {
    const auto* model = form.ShellTreeView1->model();
    const auto* fs = static_cast<const QFileSystemModel*>(model);
    const QModelIndex parent = fs->index(folder);
    QStringList names;
    for (int row = 0; row < model->rowCount(parent); ++row)
        names << model->index(row, 0, parent).data().toString();
    names.sort();
    return names;
}

std::vector<std::string> Sorted(std::vector<std::string> entries) {
    std::sort(entries.begin(), entries.end());
    return entries;
}

}  // namespace

class PickerTest : public QObject {
    Q_OBJECT
  private slots:
    void controlsCaptionsAndTabOrder();
    void firstUseProposesTheDesktopAlone();
    void firstUseFallsBackToHomeWithoutDesktop();
    void couplingOfTheOptions_data();
    void couplingOfTheOptions();
    void depthBoxTakesDigitsOnly();
    void enterConfirmsAndEscapeCancels();
    void treeShowsFoldersOnlyAndHidesDotFolders();
    void fileManagerSettingForHiddenFolders();
    void refreshKeepsOptionsAndExistingSelection();
    void firstVisibleRowIsKept();
    void busyCursorDuringRebuildOnly();
    void rightClickSelects();
    void addWithEachOption();
    void depthErrorsAddNothing();
    void existingEntryIsNotAddedTwice();
    void cancelOrVanishedFolderChangesNothing();
};

void PickerTest::controlsCaptionsAndTabOrder() {
    TForm2 form;
    QCOMPARE(form.windowTitle(), QStringLiteral("选择要添加的目录（文件夹）"));
    QVERIFY(form.isModal());
    QCOMPARE(form.minimumSize(), form.maximumSize());  // not resizable
    QCOMPARE(form.CheckBox1->text(), QStringLiteral("添加包括选定文件夹下的所有子文件夹"));
    QCOMPARE(form.CheckBox2->text(), QStringLiteral("添加包括选定文件夹下"));
    QCOMPARE(form.Label1->text(), QStringLiteral("级子目录"));
    QCOMPARE(form.BitBtn1->text(), QStringLiteral("确定"));
    QCOMPARE(form.BitBtn2->text(), QStringLiteral("取消"));
    QVERIFY(form.BitBtn1->isDefault());
    QVERIFY(!form.CheckBox1->isChecked() && !form.CheckBox2->isChecked());
    QStringList items;
    for (int i = 0; i < form.ComboBox1->count(); ++i) items << form.ComboBox1->itemText(i);
    QCOMPARE(items, QStringList({"1", "2", "3"}));

    // The depth box is a stop once its option enables it; the label never is.
    form.CheckBox2->click();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.ShellTreeView1->setFocus();
    QStringList reached{QApplication::focusWidget()->objectName()};
    for (int i = 0; i < 6; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget* focus = QApplication::focusWidget();
        // The depth box's line edit holds the focus on the box's behalf.
        reached << (focus == form.ComboBox1->lineEdit() ? form.ComboBox1 : focus)->objectName();
    }
    QCOMPARE(reached, QStringList({"ShellTreeView1", "CheckBox1", "BitBtn1", "BitBtn2", "CheckBox2",
                                   "ComboBox1", "ShellTreeView1"}));
    form.hide();
}

void PickerTest::firstUseProposesTheDesktopAlone() {
    TForm2 form;
    const QString desktop = environment.home + "/Desktop";
    QCOMPARE(form.SelectedFolder(), desktop);
    const auto* fs = static_cast<const QFileSystemModel*>(form.ShellTreeView1->model());
    QVERIFY(form.ShellTreeView1->isExpanded(fs->index(desktop)));
    QVERIFY(!form.ComboBox1->isEnabled());
    QCOMPARE(form.DepthText(), QString("1"));

    PathList destinations, scratch;
    QVERIFY(app::AddPickedFolder(form.CurrentPick(true), destinations, scratch));
    QCOMPARE(destinations.entries(),
             std::vector<std::string>{QFile::encodeName(desktop).toStdString() + '/'});
}

void PickerTest::firstUseFallsBackToHomeWithoutDesktop() {
    QTemporaryDir otherHome;
    const QByteArray savedHome = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(otherHome.path()));
    TForm2 form;
    qputenv("HOME", savedHome);
    QCOMPARE(form.SelectedFolder(), QDir::cleanPath(otherHome.path()));
}

// Start state, the box the user clicks, then CheckBox1, CheckBox2 and the depth box's
// enabled state afterwards.
void PickerTest::couplingOfTheOptions_data() {
    QTest::addColumn<int>("checkedBefore");  // 0 neither, 1 CheckBox1 only, 2 CheckBox2 only
    QTest::addColumn<int>("clicked");
    QTest::addColumn<bool>("box1");
    QTest::addColumn<bool>("box2");
    QTest::addColumn<bool>("depthEnabled");
    QTest::newRow("start, check 1") << 0 << 1 << true << false << false;
    QTest::newRow("start, check 2") << 0 << 2 << false << true << true;
    QTest::newRow("1 only, uncheck 1") << 1 << 1 << false << true << true;
    QTest::newRow("1 only, check 2") << 1 << 2 << false << true << true;
    QTest::newRow("2 only, uncheck 2") << 2 << 2 << true << false << false;
    QTest::newRow("2 only, check 1") << 2 << 1 << true << false << false;
}

void PickerTest::couplingOfTheOptions() {
    QFETCH(int, checkedBefore);
    QFETCH(int, clicked);
    TForm2 form;
    QCheckBox* boxes[] = {nullptr, form.CheckBox1, form.CheckBox2};
    if (checkedBefore != 0) boxes[checkedBefore]->click();
    QCOMPARE(form.CheckBox1->isChecked(), checkedBefore == 1);
    QCOMPARE(form.CheckBox2->isChecked(), checkedBefore == 2);

    boxes[clicked]->click();
    QTEST(form.CheckBox1->isChecked(), "box1");
    QTEST(form.CheckBox2->isChecked(), "box2");
    QTEST(form.ComboBox1->isEnabled(), "depthEnabled");
}

void PickerTest::depthBoxTakesDigitsOnly() {
    TForm2 form;
    form.CheckBox2->click();
    QLineEdit* edit = form.ComboBox1->lineEdit();
    edit->clear();
    QTest::keyClicks(edit, "a1-b 2x+3.,");
    QCOMPARE(form.DepthText(), QString("123"));
    QTest::keyClick(edit, Qt::Key_Backspace);
    QCOMPARE(form.DepthText(), QString("12"));
    // Keys that type nothing still edit: move left, then type between the digits.
    QTest::keyClick(edit, Qt::Key_Left);
    QTest::keyClicks(edit, "9");
    QCOMPARE(form.DepthText(), QString("192"));
    QTest::keyClick(edit, Qt::Key_End);
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClick(edit, Qt::Key_Backspace);
    QCOMPARE(form.DepthText(), QString(""));

    // Text pasted with letters in it is refused as a whole.
    QApplication::clipboard()->setText("4a");
    edit->paste();
    QCOMPARE(form.DepthText(), QString(""));
    QApplication::clipboard()->setText("45");
    edit->paste();
    QCOMPARE(form.DepthText(), QString("45"));
}

void PickerTest::enterConfirmsAndEscapeCancels() {
    TForm2 form;
    form.CheckBox2->click();
    bool enterAccepted = false;
    QTimer::singleShot(0, &form, [&] {
        form.ComboBox1->lineEdit()->setFocus();
        QTest::keyClicks(form.ComboBox1->lineEdit(), "7");
        QTest::keyClick(form.ComboBox1->lineEdit(), Qt::Key_Return);
        // Still open here would mean Enter did not reach the default button.
        if (form.isVisible()) form.reject();
    });
    enterAccepted = form.Execute();
    QVERIFY(enterAccepted);
    QCOMPARE(form.ComboBox1->count(), 3);  // the typed depth is not added to the drop-down

    QTimer::singleShot(0, &form, [&] { QTest::keyClick(&form, Qt::Key_Escape); });
    const app::PickedFolder cancelled = form.Pick();
    QVERIFY(!cancelled.accepted);
    QVERIFY(cancelled.limitedDepth);
    QCOMPARE(cancelled.depthText, std::string("17"));

    QTimer::singleShot(0, &form, [&] { form.BitBtn1->click(); });
    QVERIFY(form.Pick().accepted);
}

void PickerTest::treeShowsFoldersOnlyAndHidesDotFolders() {
    Tree tree;
    TForm2 form;
    form.SetShowHiddenFolders(false);
    form.SetRootFolder(tree.dir.path());
    WAIT_FOR_TREE(form);
    QVERIFY(form.SelectFolder(tree.root));
    ExpandFolder(form, tree.root);
    QTRY_COMPARE(ShownSubfolders(form, tree.root), QStringList({"A", "B"}));

    form.SetShowHiddenFolders(true);
    form.RefreshTree();
    WAIT_FOR_TREE(form);
    QTRY_COMPARE(ShownSubfolders(form, tree.root), QStringList({".hidden", "A", "B"}));
    // A dot-folder selected while they were shown is no longer selected once they are not.
    QVERIFY(form.SelectFolder(tree.root + "/.hidden"));
    form.SetShowHiddenFolders(false);
    form.RefreshTree();
    WAIT_FOR_TREE(form);
    QCOMPARE(form.SelectedFolder(), QString());
    QTRY_COMPARE(ShownSubfolders(form, tree.root), QStringList({"A", "B"}));
    // Outside the root nothing can be selected.
    QVERIFY(!form.SelectFolder(QDir::tempPath()));
    QCOMPARE(form.SelectedFolder(), QString());
}

void PickerTest::fileManagerSettingForHiddenFolders() {
    QVERIFY(!FileManagerShowsHiddenFolders());  // no desktop named: dot-folders stay hidden

    qputenv("XDG_CURRENT_DESKTOP", "KDE");
    const QString kdeglobals = environment.config + "/kdeglobals";
    auto writeSetting = [&](const char* value) {
        QFile file(kdeglobals);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QByteArray("[General]\nShow hidden files=true\n[KFileDialog Settings]\n") +
                   "Show hidden files[$e]=" + value + "\n[Other]\n");
    };
    QVERIFY(!FileManagerShowsHiddenFolders());
    writeSetting("true");
    QVERIFY(FileManagerShowsHiddenFolders());
    writeSetting("false");
    QVERIFY(!FileManagerShowsHiddenFolders());

    // Dolphin's own default view setting comes first.
    const QString dolphin = environment.base.path() + "/data/dolphin/view_properties/global";
    QDir().mkpath(dolphin);
    QFile view(dolphin + "/.directory");
    QVERIFY(view.open(QIODevice::WriteOnly));
    view.write("[Settings]\nHiddenFilesShown=true\n");
    view.close();
    QVERIFY(FileManagerShowsHiddenFolders());

    QFile::remove(dolphin + "/.directory");
    QFile::remove(kdeglobals);
    qunsetenv("XDG_CURRENT_DESKTOP");
}

void PickerTest::refreshKeepsOptionsAndExistingSelection() {
    Tree tree;
    TForm2 form;
    form.SetRootFolder(tree.dir.path());
    WAIT_FOR_TREE(form);

    form.open();
    WAIT_FOR_TREE(form);
    form.CheckBox2->click();
    form.ComboBox1->lineEdit()->clear();
    QTest::keyClicks(form.ComboBox1->lineEdit(), "5");
    QVERIFY(form.SelectFolder(tree.root + "/A/A1"));
    form.accept();

    // A folder made while the dialog is closed shows at the next use.
    QDir().mkpath(tree.root + "/C");
    form.open();
    WAIT_FOR_TREE(form);
    QVERIFY(form.LimitedDepth());
    QVERIFY(!form.AllSubfolders());
    QVERIFY(form.ComboBox1->isEnabled());
    QCOMPARE(form.DepthText(), QString("5"));
    QCOMPARE(form.SelectedFolder(), tree.root + "/A/A1");
    const auto* fs = static_cast<const QFileSystemModel*>(form.ShellTreeView1->model());
    QVERIFY(form.ShellTreeView1->isExpanded(fs->index(tree.root + "/A")));
    QTRY_COMPARE(ShownSubfolders(form, tree.root), QStringList({"A", "B", "C"}));
    form.reject();

    // A folder deleted meanwhile is gone from the tree, and so is the selection in it.
    QVERIFY(QDir(tree.root + "/A").removeRecursively());
    form.open();
    WAIT_FOR_TREE(form);
    QCOMPARE(form.SelectedFolder(), QString());
    QTRY_COMPARE(ShownSubfolders(form, tree.root), QStringList({"B", "C"}));
    form.reject();
}

void PickerTest::firstVisibleRowIsKept() {
    Tree tree;
    for (int i = 0; i < 60; ++i)
        QDir().mkpath(tree.root + QString("/F%1").arg(i, 2, 10, QChar('0')));
    TForm2 form;
    form.SetRootFolder(tree.dir.path());
    form.show();
    WAIT_FOR_TREE(form);
    ExpandFolder(form, tree.root);
    QTRY_COMPARE(ShownSubfolders(form, tree.root).size(), 62);
    const auto* fs = static_cast<const QFileSystemModel*>(form.ShellTreeView1->model());
    // The model sorts rows it has just read a moment later: A, B, F00, ... puts F30 at 32.
    QTRY_COMPARE(fs->index(tree.root + "/F30").row(), 32);
    form.ShellTreeView1->scrollTo(fs->index(tree.root + "/F30"), QAbstractItemView::PositionAtTop);
    auto firstVisible = [&] {
        const auto* model = static_cast<const QFileSystemModel*>(form.ShellTreeView1->model());
        return model->filePath(form.ShellTreeView1->indexAt(QPoint(1, 1)));
    };
    QCOMPARE(firstVisible(), tree.root + "/F30");
    form.hide();

    form.show();
    WAIT_FOR_TREE(form);
    QCOMPARE(firstVisible(), tree.root + "/F30");
    form.hide();

    // When that folder is gone, the view starts elsewhere.
    QVERIFY(QDir(tree.root + "/F30").removeRecursively());
    form.show();
    WAIT_FOR_TREE(form);
    QVERIFY(firstVisible() != tree.root + "/F30");
}

void PickerTest::busyCursorDuringRebuildOnly() {
    Tree tree;
    TForm2 form;
    QVERIFY(!QApplication::overrideCursor());
    form.SetRootFolder(tree.dir.path());
    QVERIFY(QApplication::overrideCursor());
    QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    QSignalSpy refreshed(&form, &TForm2::treeRefreshed);
    QVERIFY(refreshed.wait(10000));
    QVERIFY(!QApplication::overrideCursor());

    // Closing the dialog before the folders are read gives the cursor back as well.
    form.RefreshTree();
    form.show();
    form.hide();
    QVERIFY(!form.IsTreeLoading());
    QVERIFY(!QApplication::overrideCursor());
}

void PickerTest::rightClickSelects() {
    Tree tree;
    TForm2 form;
    form.SetRootFolder(tree.dir.path());
    form.show();
    WAIT_FOR_TREE(form);
    QVERIFY(form.SelectFolder(tree.root));
    ExpandFolder(form, tree.root);
    QTRY_COMPARE(ShownSubfolders(form, tree.root).size(), 2);
    const auto* fs = static_cast<const QFileSystemModel*>(form.ShellTreeView1->model());
    const QModelIndex b = fs->index(tree.root + "/B");
    QTRY_VERIFY(form.ShellTreeView1->visualRect(b).isValid());
    QTest::mouseClick(form.ShellTreeView1->viewport(), Qt::RightButton, {},
                      form.ShellTreeView1->visualRect(b).center());
    QCOMPARE(form.SelectedFolder(), tree.root + "/B");
}

void PickerTest::addWithEachOption() {
    Tree tree;
    TForm2 form;
    form.SetRootFolder(tree.dir.path());
    QVERIFY(form.SelectFolder(tree.root));

    // Neither option: the folder alone, through a cleared scratch list, after what was there.
    PathList destinations, scratch;
    destinations.append("/elsewhere/");
    scratch.append("/left/over/");
    QVERIFY(app::AddPickedFolder(form.CurrentPick(true), destinations, scratch));
    QCOMPARE(destinations.entries(), (std::vector<std::string>{"/elsewhere/", tree.entry()}));
    QCOMPARE(scratch.find("/left/over/"), -1);

    // All subfolders, hidden ones included, in walk order, one repaint per folder.
    form.CheckBox1->click();
    destinations.clear();
    int repaints = 0;
    QVERIFY(
        app::AddPickedFolder(form.CurrentPick(true), destinations, scratch, [&] { ++repaints; }));
    QCOMPARE(destinations.at(0), tree.entry());
    QCOMPARE(Sorted(destinations.entries()),
             Sorted({tree.entry(), tree.entry("A"), tree.entry("A/A1"), tree.entry("A/A1/A2"),
                     tree.entry("B"), tree.entry(".hidden")}));
    QVERIFY(IsPreOrder(destinations.entries()));
    QCOMPARE(repaints, 6);

    // Down to a depth: "0" is the folder alone, "2" stops above A2.
    form.CheckBox2->click();
    form.ComboBox1->setEditText("0");
    destinations.clear();
    QVERIFY(app::AddPickedFolder(form.CurrentPick(true), destinations, scratch));
    QCOMPARE(destinations.entries(), std::vector<std::string>{tree.entry()});

    form.ComboBox1->setEditText("2");
    destinations.clear();
    QVERIFY(app::AddPickedFolder(form.CurrentPick(true), destinations, scratch));
    QCOMPARE(Sorted(destinations.entries()),
             Sorted({tree.entry(), tree.entry("A"), tree.entry("A/A1"), tree.entry("B"),
                     tree.entry(".hidden")}));
    QVERIFY(IsPreOrder(destinations.entries()));
}

void PickerTest::depthErrorsAddNothing() {
    Tree tree;
    TForm2 form;
    form.SetRootFolder(tree.dir.path());
    QVERIFY(form.SelectFolder(tree.root));
    form.CheckBox2->click();
    PathList destinations, scratch;
    destinations.append("/kept/");
    for (const char* text : {"", "99999999999"}) {
        form.ComboBox1->setEditText(text);
        try {
            app::AddPickedFolder(form.CurrentPick(true), destinations, scratch);
            QFAIL("no error for a depth that is no number");
        } catch (const EConvertError& error) {
            QCOMPARE(QString(error.what()), QString("'%1' is not a valid integer value").arg(text));
        }
        QCOMPARE(destinations.entries(), std::vector<std::string>{"/kept/"});
    }
}

void PickerTest::existingEntryIsNotAddedTwice() {
    Tree tree;
    TForm2 form;
    form.SetRootFolder(tree.dir.path());
    QVERIFY(form.SelectFolder(tree.root));
    PathList destinations, scratch;
    destinations.append(tree.entry());
    destinations.append(tree.entry("B"));

    // Nothing new, and still a completed command (the caller shows the emptying button).
    QVERIFY(app::AddPickedFolder(form.CurrentPick(true), destinations, scratch));
    QCOMPARE(destinations.count(), 2);

    // A walk adds only the folders that are new, after the existing ones.
    form.CheckBox1->click();
    QVERIFY(app::AddPickedFolder(form.CurrentPick(true), destinations, scratch));
    QCOMPARE(destinations.count(), 6);
    QCOMPARE(destinations.at(0), tree.entry());
    QCOMPARE(destinations.at(1), tree.entry("B"));
}

void PickerTest::cancelOrVanishedFolderChangesNothing() {
    Tree tree;
    TForm2 form;
    form.SetRootFolder(tree.dir.path());
    QVERIFY(form.SelectFolder(tree.root + "/A"));
    form.CheckBox1->click();
    PathList destinations, scratch;
    destinations.append("/d/");
    scratch.append("/s/");
    auto unchanged = [&] {
        return destinations.entries() == std::vector<std::string>{"/d/"} &&
               scratch.entries() == std::vector<std::string>{"/s/"};
    };

    QVERIFY(!app::AddPickedFolder(form.CurrentPick(false), destinations, scratch));
    QVERIFY(unchanged());

    QVERIFY(QDir(tree.root + "/A").removeRecursively());
    QVERIFY(!app::IsAddablePick(form.CurrentPick(true)));
    QVERIFY(!app::AddPickedFolder(form.CurrentPick(true), destinations, scratch));
    QVERIFY(unchanged());

    form.ShellTreeView1->selectionModel()->clear();
    QVERIFY(!app::AddPickedFolder(form.CurrentPick(true), destinations, scratch));
    QVERIFY(unchanged());
}

QTEST_MAIN(PickerTest)
#include "picker_test.moc"
