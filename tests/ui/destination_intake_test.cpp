// The window's other ways of filling its lists: the destination picker command
// (Button3Click) and drops of files and folders onto both lists, on real temporary folders,
// with every dialog and the picker answered from a script.
#include <QCheckBox>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QListView>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>

#include "ui/Messages.h"
#include "ui/Unit1.h"
#include "ui/Unit2.h"
#include "ui_test_support.h"

using ostrivane::FromPath;
using ostrivane::TForm1;
using ostrivane::TForm2;
using ostrivane::ToPath;
using ostrivane::test::IsPreOrder;
using ostrivane::test::ScriptedPrompts;
using ostrivane::test::WindowFixture;
using ostrivane::test::WriteFile;
namespace messages = ostrivane::messages;
using Entries = std::vector<std::string>;

namespace {

// A temporary tree: 根目录/{A/A1/A2, B, .hidden} with two files in 根目录.
struct Tree {
    QTemporaryDir dir;
    QString root = dir.path() + QStringLiteral("/根目录");
    QString fileA = root + QStringLiteral("/说明.txt");
    QString fileB = root + QStringLiteral("/data.bin");

    Tree() {
        for (const char* folder : {"A/A1/A2", "B", ".hidden"}) QDir().mkpath(root + '/' + folder);
        WriteFile(fileA, "a");
        WriteFile(fileB, "b");
    }
    QString path(const QString& relative) const { return root + '/' + relative; }
    // A folder as the destination list holds it: file-name bytes ending with "/".
    std::string entry(const QString& relative = {}) const {
        return ToPath(relative.isEmpty() ? root : path(relative)) + '/';
    }
};

Entries Sorted(Entries entries) {
    std::sort(entries.begin(), entries.end());
    return entries;
}

// Records the state of the window whenever a box is shown.
class WatchingPrompts : public ScriptedPrompts {
  public:
    std::function<void()> onBox;
    // Whether an override cursor (the busy one) was set when each error box came up.
    std::vector<bool> busyCursorAtError;

    void information(const QString& text) override {
        if (onBox) onBox();
        ScriptedPrompts::information(text);
    }
    void error(const QString& text) override {
        busyCursorAtError.push_back(QGuiApplication::overrideCursor() != nullptr);
        ScriptedPrompts::error(text);
    }
};

enum class Option { FolderAlone, AllSubfolders, Depth };

// An answer to the picker: selects `folder` and sets the option as a user clicking the boxes
// would, then OK.
std::function<bool(TForm2&)> PickFolder(const QString& folder, Option option,
                                        const QString& depth = {}) {
    return [=](TForm2& picker) {
        if (!picker.SelectFolder(folder)) return false;
        if (option == Option::AllSubfolders && !picker.CheckBox1->isChecked())
            picker.CheckBox1->click();
        if (option == Option::Depth) {
            if (!picker.CheckBox2->isChecked()) picker.CheckBox2->click();
            picker.ComboBox1->setEditText(depth);
        }
        return true;
    };
}

bool NoBusyCursor() {
    return QGuiApplication::overrideCursor() == nullptr;
}

QList<QUrl> LocalUrls(const QStringList& paths) {
    QList<QUrl> urls;
    for (const QString& path : paths) urls << QUrl::fromLocalFile(path);
    return urls;
}

// What the list did with a drag: whether it took the drag and with which action.
struct DragOutcome {
    bool entered = false;
    bool dropped = false;
    Qt::DropAction action = Qt::IgnoreAction;
};

// Drags `data` over `list` and drops it there, as the file manager would, then lets the
// drop's handler run.
DragOutcome DragAndDrop(QListView* list, const QMimeData& data,
                        Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction) {
    QWidget* target = list->viewport();
    const QPoint at = target->rect().center();
    DragOutcome outcome;
    QDragEnterEvent enter(at, offered, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    outcome.entered = enter.isAccepted();
    QDropEvent drop(QPointF(at), offered, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    outcome.dropped = drop.isAccepted();
    outcome.action = drop.dropAction();
    QCoreApplication::processEvents();
    return outcome;
}

DragOutcome DropPaths(QListView* list, const QStringList& paths) {
    QMimeData data;
    data.setUrls(LocalUrls(paths));
    return DragAndDrop(list, data);
}

QStringList Texts(const ostrivane::PathList& list) {
    QStringList texts;
    for (const std::string& entry : list.entries()) texts << FromPath(entry);
    return texts;
}

}  // namespace

class DestinationIntakeTest : public QObject, protected WindowFixture<WatchingPrompts> {
    Q_OBJECT

  private slots:
    void init() {
        StartWindow();
        tree_ = std::make_unique<Tree>();
    }

    void cleanup() {
        tree_.reset();
        FinishWindow();
    }

    void pickerAddsTheFolderWithEachOption() {
        const Tree& tree = *tree_;
        QVERIFY(form_->Form2 && form_->Form2->isHidden());
        std::vector<bool> depthOptionKept;
        prompts_->pickerAnswers = {
            PickFolder(tree.root, Option::FolderAlone),
            PickFolder(tree.root, Option::AllSubfolders),
            PickFolder(tree.root, Option::Depth, "0"),
            [&](TForm2& picker) {
                // The same dialog again, with the options of the last use.
                depthOptionKept.push_back(&picker == form_->Form2 && picker.LimitedDepth() &&
                                          picker.DepthText() == "0");
                return PickFolder(tree.root, Option::Depth, "2")(picker);
            },
        };
        form_->ScratchModel().append("/left/over/");

        // Neither option: the folder alone, with the separator, through the scratch list.
        form_->Button3Click();
        QCOMPARE(form_->Destinations().entries(), Entries{tree.entry()});
        QCOMPARE(form_->ScratchModel().list().entries(), Entries{tree.entry()});
        QVERIFY(!form_->BtnEmptyDestFolder->isHidden());
        QVERIFY(NoBusyCursor());

        // All subfolders, hidden ones included, the folder first and each subtree in one run.
        form_->Button7Click();
        form_->Button3Click();
        const Entries& all = form_->Destinations().entries();
        QCOMPARE(Sorted(all),
                 Sorted({tree.entry(), tree.entry("A"), tree.entry("A/A1"), tree.entry("A/A1/A2"),
                         tree.entry("B"), tree.entry(".hidden")}));
        QCOMPARE(all.front(), tree.entry());
        QVERIFY(IsPreOrder(all));
        QCOMPARE(form_->ListBox2->model()->rowCount(), 6);
        QCOMPARE(form_->ScratchModel().list().count(), 0);
        QVERIFY(!form_->BtnEmptyDestFolder->isHidden());
        QVERIFY(NoBusyCursor());

        // Depth "0" is the folder alone; "2" stops above A2.
        form_->Button7Click();
        form_->Button3Click();
        QCOMPARE(form_->Destinations().entries(), Entries{tree.entry()});
        form_->Button7Click();
        form_->Button3Click();
        QCOMPARE(Sorted(form_->Destinations().entries()),
                 Sorted({tree.entry(), tree.entry("A"), tree.entry("A/A1"), tree.entry("B"),
                         tree.entry(".hidden")}));
        QVERIFY(IsPreOrder(form_->Destinations().entries()));
        QCOMPARE(form_->ListBox2->model()->rowCount(), 5);
        QCOMPARE(depthOptionKept, std::vector<bool>{true});
        QCOMPARE(prompts_->pickerShown, 4);
        QVERIFY(prompts_->shown.empty());
    }

    void depthThatIsNoNumberAddsNothing() {
        form_->DestinationModel().addIfAbsent("/kept/");
        prompts_->pickerAnswers = {PickFolder(tree_->root, Option::Depth, ""),
                                   PickFolder(tree_->root, Option::Depth, "99999999999")};

        form_->Button3Click();
        QCOMPARE(prompts_->Texts("error"),
                 QStringList{QStringLiteral("'' is not a valid integer value.")});
        QCOMPARE(form_->Destinations().entries(), Entries{"/kept/"});
        // Hidden before, so still hidden: the command ended before showing it.
        QVERIFY(form_->BtnEmptyDestFolder->isHidden());
        QCOMPARE(prompts_->busyCursorAtError, std::vector<bool>{false});
        QVERIFY(NoBusyCursor());

        // Shown before, so still shown.
        form_->BtnEmptyDestFolder->setVisible(true);
        form_->Button3Click();
        QCOMPARE(prompts_->Texts("error").last(),
                 QStringLiteral("'99999999999' is not a valid integer value."));
        QCOMPARE(form_->Destinations().entries(), Entries{"/kept/"});
        QVERIFY(!form_->BtnEmptyDestFolder->isHidden());
        QVERIFY(NoBusyCursor());
    }

    // The tree's top row is "/"; picked with any option, it adds nothing and says why, and so
    // does a link to it.
    void pickerRefusesTheFileSystemRoot() {
        QTemporaryDir links;
        const QString toRoot = links.filePath("to-root");
        QVERIFY(QFile::link("/", toRoot));
        form_->DestinationModel().addIfAbsent("/d/");
        form_->ScratchModel().append("/s/");
        prompts_->pickerAnswers = {
            PickFolder("/", Option::FolderAlone),
            PickFolder("/", Option::AllSubfolders),
            PickFolder("/", Option::Depth, "1"),
            PickFolder(toRoot, Option::AllSubfolders),
        };
        for (int use = 1; use <= 4; ++use) {
            form_->Button3Click();
            QCOMPARE(form_->Destinations().entries(), Entries{"/d/"});
            QCOMPARE(form_->ScratchModel().list().entries(), Entries{"/s/"});
            QCOMPARE(prompts_->Texts("information"),
                     QStringList(qsizetype(use), messages::kDriveRootRefused));
            QVERIFY(form_->BtnEmptyDestFolder->isHidden());
            QVERIFY(NoBusyCursor());
        }
        QCOMPARE(prompts_->pickerShown, 4);

        // Cancel with "/" selected says nothing.
        prompts_->pickerAnswers = {[](TForm2& picker) {
            PickFolder("/", Option::FolderAlone)(picker);
            return false;
        }};
        form_->Button3Click();
        QCOMPARE(prompts_->Texts("information").size(), 4);
    }

    void folderAlreadyListedIsNotAddedTwice() {
        const Tree& tree = *tree_;
        prompts_->pickerAnswers = {PickFolder(tree.root, Option::FolderAlone),
                                   PickFolder(tree.root, Option::FolderAlone),
                                   PickFolder(tree.root, Option::AllSubfolders)};
        form_->Button3Click();
        form_->BtnEmptyDestFolder->setVisible(false);
        form_->Button3Click();
        QCOMPARE(form_->Destinations().entries(), Entries{tree.entry()});
        QVERIFY(!form_->BtnEmptyDestFolder->isHidden());

        // The walk adds only what is new, after what was there.
        form_->Button3Click();
        QCOMPARE(form_->Destinations().count(), 6);
        QCOMPARE(form_->Destinations().at(0), tree.entry());
        QCOMPARE(form_->ListBox2->model()->rowCount(), 6);
    }

    void cancelOrNoExistingFolderChangesNothing() {
        const Tree& tree = *tree_;
        form_->DestinationModel().addIfAbsent("/d/");
        form_->ScratchModel().append("/s/");
        prompts_->pickerAnswers = {
            [&](TForm2& picker) {
                PickFolder(tree.root, Option::AllSubfolders)(picker);
                return false;  // Cancel
            },
            [&](TForm2& picker) {
                // Deleted by another program while the dialog was open.
                PickFolder(tree.path("A"), Option::AllSubfolders)(picker);
                return QDir(tree.path("A")).removeRecursively();
            },
            [&](TForm2& picker) {
                picker.ShellTreeView1->selectionModel()->clear();
                return true;
            },
        };
        for (int use = 0; use < 3; ++use) {
            form_->Button3Click();
            QCOMPARE(form_->Destinations().entries(), Entries{"/d/"});
            QCOMPARE(form_->ScratchModel().list().entries(), Entries{"/s/"});
            QVERIFY(form_->BtnEmptyDestFolder->isHidden());
            QVERIFY(NoBusyCursor());
        }
        QCOMPARE(prompts_->pickerShown, 3);
        QVERIFY(prompts_->shown.empty());
    }

    // With no throttling every folder is shown as it is added; meanwhile the cursor is busy
    // and clicks, keys and drops that arrive are swallowed, not run after the walk.
    void walkShowsTheGrowingListAndSwallowsInput() {
        const Tree& tree = *tree_;
        form_->walkRepaintIntervalMs = 0;
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
        prompts_->pickerAnswers = {PickFolder(tree.root, Option::AllSubfolders)};
        QMimeData dragged;
        dragged.setUrls(LocalUrls({tree.fileA}));

        std::vector<int> shownRows;
        bool busyThroughout = true;
        connect(
            &form_->DestinationModel(), &QAbstractItemModel::rowsInserted, this,
            [&](const QModelIndex&, int, int last) {
                shownRows.push_back(last + 1);
                busyThroughout = busyThroughout && form_->IsBusy() && !NoBusyCursor();
                if (shownRows.size() != 1) return;
                const QPoint center = form_->Button7->rect().center();
                for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
                    QCoreApplication::postEvent(
                        form_->Button7,
                        new QMouseEvent(type, center, form_->Button7->mapToGlobal(center),
                                        Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
                }
                QCoreApplication::postEvent(form_->ListBox1->viewport(),
                                            new QDropEvent(QPointF(5, 5), Qt::CopyAction, &dragged,
                                                           Qt::LeftButton, Qt::NoModifier));
            });
        form_->Button3Click();
        QCoreApplication::processEvents();

        QCOMPARE(shownRows, (std::vector<int>{1, 2, 3, 4, 5, 6}));
        QVERIFY(busyThroughout);
        QCOMPARE(form_->Destinations().count(), 6);
        QCOMPARE(form_->Sources().count(), 0);
        QVERIFY(NoBusyCursor());
        QVERIFY(!form_->IsBusy());
    }

    // With the usual interval the list learns of new folders in batches, not per folder.
    void walkRepaintsAreThrottled() {
        QTemporaryDir wide;
        constexpr int kFolders = 1500;
        for (int i = 0; i < kFolders; ++i) QVERIFY(QDir(wide.path()).mkdir(QString::number(i)));
        prompts_->pickerAnswers = {PickFolder(wide.path(), Option::AllSubfolders)};
        QSignalSpy batches(&form_->DestinationModel(), &QAbstractItemModel::rowsInserted);
        QElapsedTimer walk;
        walk.start();
        form_->Button3Click();
        const qint64 elapsed = walk.elapsed();
        QCOMPARE(form_->Destinations().count(), kFolders + 1);
        QCOMPARE(form_->ListBox2->model()->rowCount(), kFolders + 1);
        QVERIFY(batches.count() >= 1);
        QVERIFY2(batches.count() <= elapsed / form_->walkRepaintIntervalMs + 2,
                 qPrintable(QString("%1 batches in %2 ms").arg(batches.count()).arg(elapsed)));
    }

    void sourceDropAppendsEachPathUnchanged() {
        const Tree& tree = *tree_;
        const QStringList dropped{tree.fileA, tree.fileB, tree.path("A")};
        const DragOutcome outcome = DropPaths(form_->ListBox1, dropped);
        QVERIFY(outcome.entered);
        QVERIFY(outcome.dropped);
        QCOMPARE(outcome.action, Qt::CopyAction);
        QCOMPARE(Texts(form_->Sources()), dropped);

        // The same drop again: no duplicate test.
        DropPaths(form_->ListBox1, dropped);
        QCOMPARE(Texts(form_->Sources()), dropped + dropped);
        QCOMPARE(form_->ListBox1->model()->rowCount(), 6);

        // The folder chooser's form of the same folder names what is listed already, to be
        // copied under the same name: it is not added again.
        prompts_->folderResults = {tree.path("A")};
        form_->Button5Click();
        QCOMPARE(form_->Sources().count(), 6);
        QVERIFY(prompts_->shown.empty());
        QVERIFY(form_->BtnEmptyDestFolder->isHidden());
    }

    void wholeDriveIsRefusedOnBothLists() {
        const Tree& tree = *tree_;
        std::vector<int> sourcesAtMessage;
        prompts_->onBox = [&] { sourcesAtMessage.push_back(form_->Sources().count()); };
        DropPaths(form_->ListBox1, {tree.fileA, "/", tree.fileB, "/"});
        QCOMPARE(Texts(form_->Sources()), (QStringList{tree.fileA, tree.fileB}));
        QCOMPARE(prompts_->Texts("information"),
                 (QStringList{messages::kDriveRootRefused, messages::kDriveRootRefused}));
        // Each message comes in its place between the others.
        QCOMPARE(sourcesAtMessage, (std::vector<int>{1, 2}));

        prompts_->shown.clear();
        prompts_->answers = {false};
        DropPaths(form_->ListBox2, {"/", tree.path("B")});
        QCOMPARE(prompts_->shown.size(), size_t(2));
        QCOMPARE(prompts_->shown[0].kind, QStringLiteral("question"));
        QCOMPARE(prompts_->shown[1].text, messages::kDriveRootRefused);
        QCOMPARE(form_->Destinations().entries(), Entries{tree.entry("B")});
        QVERIFY(!form_->BtnEmptyDestFolder->isHidden());
    }

    // The root is known by what it is, not by how the drop spells it.
    void destinationDropRefusesTheRootThroughALink() {
        const Tree& tree = *tree_;
        const QString toRoot = tree.dir.filePath("to-root");
        const QString toB = tree.dir.filePath("to-B");
        QVERIFY(QFile::link("/", toRoot));
        QVERIFY(QFile::link(tree.path("B"), toB));
        prompts_->answers = {false};
        DropPaths(form_->ListBox2, {toRoot, toB, "/tmp/..", tree.path("A")});
        QCOMPARE(prompts_->Texts("question"), QStringList{messages::kAddSubfoldersQuestion});
        QCOMPARE(prompts_->Texts("information"),
                 (QStringList{messages::kDriveRootRefused, messages::kDriveRootRefused}));
        QCOMPARE(form_->Destinations().entries(), (Entries{ToPath(toB) + '/', tree.entry("A")}));
    }

    void destinationDropAsksOnceForTheWholeDrop() {
        const Tree& tree = *tree_;
        form_->DestinationModel().addIfAbsent(tree.entry("B"));

        // Yes: each folder walked whole, one after the other in drop order; a file ignored.
        prompts_->answers = {true};
        DropPaths(form_->ListBox2, {tree.fileA, tree.path("A"), tree.path("B")});
        QCOMPARE(prompts_->Texts("question"), QStringList{messages::kAddSubfoldersQuestion});
        QCOMPARE(
            form_->Destinations().entries(),
            (Entries{tree.entry("B"), tree.entry("A"), tree.entry("A/A1"), tree.entry("A/A1/A2")}));
        QCOMPARE(form_->ListBox2->model()->rowCount(), 4);
        QVERIFY(!form_->BtnEmptyDestFolder->isHidden());
        QVERIFY(NoBusyCursor());

        // No: each folder alone with its separator, only when absent; vanished names ignored.
        form_->Button7Click();
        form_->DestinationModel().addIfAbsent(tree.entry("B"));
        prompts_->answers = {false};
        DropPaths(form_->ListBox2, {tree.path("A"), tree.path("B"), tree.path("gone"),
                                    tree.path(".hidden"), tree.path("A")});
        QCOMPARE(prompts_->Texts("question").size(), 2);
        QCOMPARE(form_->Destinations().entries(),
                 (Entries{tree.entry("B"), tree.entry("A"), tree.entry(".hidden")}));
        QVERIFY(prompts_->Texts("information").isEmpty());
    }

    void destinationDropOfFilesOnlyStillShowsTheButton() {
        const Tree& tree = *tree_;
        prompts_->answers = {true};
        DropPaths(form_->ListBox2, {tree.fileA, tree.fileB});
        QCOMPARE(prompts_->Texts("question"), QStringList{messages::kAddSubfoldersQuestion});
        QCOMPARE(form_->Destinations().count(), 0);
        QVERIFY(!form_->BtnEmptyDestFolder->isHidden());
        QVERIFY(NoBusyCursor());

        // A drop without names asks nothing and leaves the button as it was.
        form_->BtnEmptyDestFolder->setVisible(false);
        form_->AddDroppedDestinations({});
        form_->AddDroppedSources({});
        QCOMPARE(prompts_->shown.size(), size_t(1));
        QVERIFY(form_->BtnEmptyDestFolder->isHidden());
    }

    // One folder dropped in several spellings, through a link, and met again by a walk, is
    // one destination; so is a line of an imported list file.
    void oneFolderInSeveralSpellingsIsOneDestination() {
        const Tree& tree = *tree_;
        QVERIFY(QFile::link(tree.path("A"), tree.path("A-link")));
        prompts_->answers = {false};
        DropPaths(form_->ListBox2, {tree.path("A"), tree.path("A") + '/', tree.path("A-link"),
                                    tree.path("B/../A"), tree.path("A/A1")});
        QCOMPARE(form_->Destinations().entries(), (Entries{tree.entry("A"), tree.entry("A/A1")}));

        prompts_->answers = {true};
        DropPaths(form_->ListBox2, {tree.path("A-link")});
        QCOMPARE(form_->Destinations().entries(),
                 (Entries{tree.entry("A"), tree.entry("A/A1"), tree.entry("A-link/A1/A2")}));

        WriteFile(tree.path("dirs.lst"), (tree.path("A-link") + "\r\n" + tree.path("A//") +
                                          "\r\n" + tree.path("B") + "\r\n")
                                             .toUtf8());
        prompts_->fileResults = {tree.path("dirs.lst")};
        form_->BtnImpDirLstClick();
        QCOMPARE(form_->Destinations().count(), 4);
        QCOMPARE(FromPath(form_->Destinations().at(3)), tree.path("B"));
        QCOMPARE(prompts_->Texts("information"), QStringList{messages::kSomeFoldersNotImported});
    }

    void onlyLocalFilesCanBeDropped() {
        const Tree& tree = *tree_;
        const auto refused = [&](const QMimeData& data, Qt::DropActions offered) {
            const DragOutcome outcome = DragAndDrop(form_->ListBox1, data, offered);
            return !outcome.entered && !outcome.dropped && form_->Sources().count() == 0;
        };
        QMimeData web;
        web.setUrls({QUrl("http://example.org/a.txt")});
        QVERIFY(refused(web, Qt::CopyAction));
        QMimeData mixed;
        mixed.setUrls({QUrl::fromLocalFile(tree.fileA), QUrl("http://example.org/a.txt")});
        QVERIFY(refused(mixed, Qt::CopyAction));
        QMimeData text;
        text.setText(tree.fileA);
        QVERIFY(refused(text, Qt::CopyAction));
        QMimeData local;
        local.setUrls(LocalUrls({tree.fileA}));
        // Taking a move would have the file manager delete the dragged file.
        QVERIFY(refused(local, Qt::MoveAction));

        QCOMPARE(DragAndDrop(form_->ListBox1, local, Qt::MoveAction | Qt::CopyAction).action,
                 Qt::CopyAction);
        QCOMPARE(form_->Sources().count(), 1);
        prompts_->answers = {false};
        QCOMPARE(DragAndDrop(form_->ListBox2, local, Qt::MoveAction | Qt::LinkAction).action,
                 Qt::LinkAction);
        QCOMPARE(prompts_->Texts("question").size(), 1);
    }

    void listsKeepMouseSelectionAndDeleteKey() {
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
        for (QListView* list : {form_->ListBox1, form_->ListBox2}) {
            auto& model =
                list == form_->ListBox1 ? form_->SourceModel() : form_->DestinationModel();
            model.append("/first/");
            model.append("/second/");
            const QRect second = list->visualRect(model.index(1, 0));
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, second.center());
            QCOMPARE(list->currentIndex().row(), 1);
            QTest::keyClick(list, Qt::Key_Delete);
            QCOMPARE(model.list().entries(), Entries{"/first/"});
        }
    }

  private:
    std::unique_ptr<Tree> tree_;
};

int main(int argc, char** argv) {
    return ostrivane::test::RunTests<DestinationIntakeTest>(argc, argv);
}

#include "destination_intake_test.moc"
