// The destination folder picker: a modal dialog with a folder tree and the options that say
// how much of the tree below the chosen folder becomes destinations. Its answer is an
// app::PickedFolder, which the add command (app/picker.h) turns into destination entries.
#pragma once

#include <QDialog>
#include <QSet>
#include <QString>
#include <QTimer>
#include <atomic>
#include <functional>
#include <optional>
#include <string>

#include "app/picker.h"

class QCheckBox;
class QComboBox;
class QFileSystemModel;
class QKeyEvent;
class QLabel;
class QPushButton;
class QTreeView;

namespace ostrivane {

// Whether the desktop's file manager shows dot-folders: read from KDE's, GNOME's or Xfce's
// settings for the desktop named by XDG_CURRENT_DESKTOP; false when nothing says so.
bool FileManagerShowsHiddenFolders();

// The dialog. Created once, hidden; every Execute() shows the same object again, so the
// options and the tree's expansion, selection and scroll position carry over between uses.
class TForm2 : public QDialog {
    Q_OBJECT
  public:
    explicit TForm2(QWidget* parent = nullptr);
    ~TForm2() override;

    // Shows the dialog modally; true when it was closed with OK.
    bool Execute();
    // Execute() and then the answer with the options.
    app::PickedFolder Pick();
    // The dialog's present state as an answer `accepted`.
    app::PickedFolder CurrentPick(bool accepted) const;

    // Full path of the selected folder, without a trailing separator except for "/"; empty
    // when nothing is selected.
    QString SelectedFolder() const;
    bool AllSubfolders() const;
    bool LimitedDepth() const;
    QString DepthText() const;

    // Selects `path` in the tree (expanding its parents) if it is a folder below the root;
    // otherwise clears the selection. Returns whether it selected.
    bool SelectFolder(const QString& path);
    // The folder at the top of the tree ("/" by default). Changing it rebuilds the tree.
    void SetRootFolder(const QString& path);
    // Overrides the file manager's hidden-folder setting (for tests and callers that know
    // better); std::nullopt follows the file manager again. Applies at the next refresh.
    void SetShowHiddenFolders(std::optional<bool> shown) { hiddenOverride_ = shown; }
    bool ShowsHiddenFolders() const;

    // Rebuilds the tree from the file system, keeping the expanded folders, the selection
    // and the first visible row where they still exist. Runs on every show.
    void RefreshTree();
    // True while folders of the last rebuild are still being read in the background.
    bool IsTreeLoading() const { return refreshing_; }

    // The controls, under the names the rest of the program and the tests know them by.
    QTreeView* ShellTreeView1 = nullptr;
    QCheckBox* CheckBox1 = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* BitBtn2 = nullptr;
    QCheckBox* CheckBox2 = nullptr;
    QComboBox* ComboBox1 = nullptr;
    QLabel* Label1 = nullptr;

  signals:
    // Emitted when a rebuild has finished reading the folders it shows.
    void treeRefreshed();

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // What a rebuild keeps: paths of the selected folder, the expanded folders and the folder
    // in the first visible row.
    struct TreeState {
        QString selected;
        QStringList expanded;
        QString firstVisible;
    };

    void CreateControls();
    void ConnectOptionRules();
    void CheckBox1Click(bool checked);
    void CheckBox2Click(bool checked);
    bool ComboBox1KeyPress(const QKeyEvent& key) const;

    TreeState CaptureTreeState() const;
    TreeState InitialTreeState() const;
    void BuildModel();
    void RestoreTreeState(const TreeState& state, bool showBusy);
    void WaitForLoad(const QString& folder);
    void OnDirectoryLoaded(const QString& folder);
    void FinishRefresh();
    void BeginBusyCursor();
    void EndBusyCursor();
    bool IsShownFolder(const QString& path) const;

    QFileSystemModel* model_ = nullptr;
    QString rootFolder_ = QStringLiteral("/");
    std::optional<bool> hiddenOverride_;
    bool hiddenShown_ = false;
    // Folders whose contents the rebuild still waits for.
    QSet<QString> pendingLoads_;
    // The first visible row to bring back once the folders have been read.
    QString pendingFirstVisible_;
    bool busyCursor_ = false;
    // A rebuild is waiting for its folders.
    bool refreshing_ = false;
    // The dialog has been shown and closed at least once, so its scroll position counts.
    bool everShown_ = false;
    // The folder first proposed; the dot-folders on its own path stay visible.
    QString startFolder_;
    // Ends the busy cursor if a folder never reports back (an unreadable mount, say).
    QTimer loadTimeout_;
};

}  // namespace ostrivane
