// The main window: both path lists, the same-name policy, the emptying option, the progress
// bar and the Start command. Every command is one of its public handlers.
#pragma once

#include <QElapsedTimer>
#include <QMainWindow>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/copy_run.h"
#include "core/intake.h"
#include "core/path_list.h"
#include "ui/PathListModel.h"
#include "ui/Prompts.h"

class QAction;
class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QListView;
class QMenu;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QToolButton;
class QTreeWidget;

namespace ostrivane {

class DesktopNotifier;
class FileDropIntake;
class RunFiguresView;
class TForm2;

// How a window is built; the defaults make the program's window.
struct WindowOptions {
    // The help tab holds the add-on's web browser when ostrivane-web-help is installed;
    // false puts the link view there without looking for it (the start-up benchmark's
    // baseline, a program without any web engine).
    bool webHelp = true;
};

class TForm1 : public QMainWindow {
    Q_OBJECT
  public:
    // A complete window with the real dialogs.
    explicit TForm1(QWidget* parent = nullptr);
    // A window whose message boxes and dialogs all go to `prompts`, which must outlive it.
    explicit TForm1(Prompts& prompts, QWidget* parent = nullptr);
    // A window built with `options`; its dialogs go to `prompts`, or are the real ones when
    // `prompts` is null.
    TForm1(Prompts* prompts, const WindowOptions& options, QWidget* parent = nullptr);
    ~TForm1() override;

    // The source, destination and scratch lists, as the views show them.
    PathListModel& SourceModel() { return *sourceModel_; }
    PathListModel& DestinationModel() { return *destinationModel_; }
    PathListModel& ScratchModel() { return *scratchModel_; }
    const PathList& Sources() const { return sources_; }
    const PathList& Destinations() const { return destinations_; }

    // Where every message box and dialog of the window goes.
    Prompts& prompts() { return *prompts_; }

    // The policy of the checked radio button.
    SameFilePolicy CheckedPolicy() const;

    // True while a long operation (copy run, emptying, folder walk) runs; no command starts
    // meanwhile.
    bool IsBusy() const { return busy_; }

    // Runs `work` on a worker thread while this thread keeps the window painted, shows the
    // busy cursor and swallows the user's input to the window; returns when `work` ends and
    // rethrows what it threw. `work` must not touch widgets.
    void RunLongOperation(const std::function<void()>& work);

    // True once BtnStop or Esc asked the running operation to stop; reset when the next
    // stoppable operation starts.
    bool StopRequested() const { return stopRequest_.load(); }

    // A copy run that lasts longer than this (milliseconds) shows its progress on the
    // launcher entry and, ending while the window is not active, a desktop notification.
    int longRunMs = 10000;

    // Writers of a copy run: 0 lets the engine choose; 1 makes the run one thread in the
    // described order, which stands still while runFiguresHook holds it (tests).
    int runWriters = 0;

    // Called on the run's thread with every figures report of a copy run, before the window
    // shows it (tests hold a run here).
    std::function<void(const TransferFigures&)> runFiguresHook;

    // The desktop's notifications and launcher entry; the session bus by default.
    void SetDesktopNotifier(std::unique_ptr<DesktopNotifier> notifier);

    // Shows an error that ended a handler, in the error box (see messages::ErrorBoxText).
    void ShowUnexpectedError(const std::string& message);

    // A folder walk shows the growing destination list at most this often (milliseconds).
    int walkRepaintIntervalMs = 30;

    // True once the help view has been pointed at the help page. FormCreate asks for it, and
    // it happens right after the window's first paint, so the web engine's start never holds
    // up the window.
    bool HelpPageRequested() const { return helpRequested_; }

    // Widgets, under their design names.
    QTabWidget* PageControl1 = nullptr;
    QWidget* TabSheet1 = nullptr;
    QWidget* TabSheet2 = nullptr;
    QWidget* WebBrowser1 = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    QGroupBox* GroupBox3 = nullptr;
    QGroupBox* GroupBox4 = nullptr;
    QListView* ListBox1 = nullptr;
    QListView* ListBox2 = nullptr;
    QListView* ListBox3 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button3 = nullptr;
    QPushButton* Button4 = nullptr;
    QPushButton* Button5 = nullptr;
    QPushButton* Button6 = nullptr;
    QPushButton* Button7 = nullptr;
    QPushButton* BtnSaveFileList = nullptr;
    QPushButton* BtnImpFileList = nullptr;
    QPushButton* BtnSaveDirLst = nullptr;
    QPushButton* BtnImpDirLst = nullptr;
    QLabel* Label1 = nullptr;
    QRadioButton* Rb1 = nullptr;
    QRadioButton* Rb2 = nullptr;
    QRadioButton* Rb3 = nullptr;
    QRadioButton* RbRename = nullptr;
    QCheckBox* CheckBox1 = nullptr;
    // "复制后校验副本": every copy is read back from its device after the run.
    QCheckBox* CheckVerify = nullptr;
    QToolButton* BtnEmptyDestFolder = nullptr;
    // While CheckBox1 is checked: how many destination folders the next run empties.
    QLabel* EmptyingNote = nullptr;
    QMenu* PopupMenu1 = nullptr;
    QAction* N1 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QFrame* Panel1 = nullptr;
    QPushButton* BtnCopy = nullptr;
    // Shown beside BtnCopy while a copy run, an emptying or a folder walk runs.
    QPushButton* BtnStop = nullptr;
    // The run's figures under the progress bar: files, bytes, speed, remaining time.
    QLabel* StatusLabel = nullptr;
    // One row per destination device, over the options group while a run writes to
    // several devices.
    QTreeWidget* DeviceView = nullptr;
    // The destination folder picker, created hidden with the window; every Button3Click
    // shows this same dialog again, so its options carry over.
    TForm2* Form2 = nullptr;

  public slots:
    // Adds files chosen in OpenDialog1 to the source list, in the dialog's order, each only
    // when absent.
    void Button1Click();
    // Removes the selected source; nothing without a selection.
    void Button2Click();
    // Shows the picker; on OK with an existing folder adds it to the destination list alone,
    // with all its subfolders or down to the chosen depth (busy cursor meanwhile), then shows
    // BtnEmptyDestFolder. A depth text that is no number ends it with the error box, nothing
    // added and BtnEmptyDestFolder untouched. The file-system root is refused with a message,
    // nothing added.
    void Button3Click();
    // Removes the selected destination; hides BtnEmptyDestFolder when the list is empty.
    void Button4Click();
    // Adds a folder chosen in the folder chooser to the source list (with a trailing
    // separator, only when absent); the whole drive is refused with a message.
    void Button5Click();
    // Clears the source list.
    void Button6Click();
    // Clears the destination list and hides BtnEmptyDestFolder.
    void Button7Click();
    // Exports the source list to a list file chosen in SaveDialog1 (proposed "file.lst").
    void BtnSaveFileListClick();
    // Adds the existing files and folders named in a list file to the source list.
    void BtnImpFileListClick();
    // Exports the destination list to a list file chosen in SaveDialog1 (proposed "dir.lst").
    void BtnSaveDirLstClick();
    // Adds the existing folders named in a list file to the destination list; says so when
    // some lines were not taken, and once more when some named the file-system root, which
    // is never added.
    void BtnImpDirLstClick();
    // The Delete key (with any modifiers) removes the selected source and sets `key` to 0;
    // other keys are left to the list.
    void ListBox1KeyDown(int& key, Qt::KeyboardModifiers shift);
    // The Delete key (with any modifiers) removes the selected destination, as Button4Click.
    void ListBox2KeyDown(int& key, Qt::KeyboardModifiers shift);
    // Appends the paths of one drop, in order and unchanged, to the source list (no duplicate
    // test); "/" is refused with a message, once for each time it was dropped.
    void AddDroppedSources(const QStringList& paths);
    // Asks once whether subfolders are wanted, then adds each dropped folder (with a trailing
    // separator) alone when absent, or with all its subfolders; "/" and anything else that
    // names the file-system root (a link to it) is refused with a message, files and
    // vanished names are passed over. A non-empty drop shows
    // BtnEmptyDestFolder.
    void AddDroppedDestinations(const QStringList& paths);
    // When CheckBox1 has become checked, asks the emptying warning; No unchecks it again.
    void CheckBox1Click();
    // Opens PopupMenu1 at the pressed point (x, y relative to the button), for any button.
    void BtnEmptyDestFolderMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x,
                                     int y);
    // Asks the emptying warning and on Yes empties every destination at once, then disables
    // BtnEmptyDestFolder for good.
    void N1Click();
    // Copies every source into every destination under the checked policy; shows the live
    // figures meanwhile and, when items failed, offers their whole list and a report file.
    void BtnCopyClick();
    // Asks the running copy run, emptying or folder walk to stop (Esc does the same);
    // nothing while none runs. The one command that takes input during a long operation.
    void BtnStopClick();
    // Start-up of the window: caption, stored policy, drop intake of both lists, first page,
    // then the help page asked for (loaded once the window has been painted).
    void FormCreate();
    // Stores the checked policy. False when the window must stay open: a long operation is
    // running, or the settings could not be written (the error has been shown).
    bool FormClose();

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    class InputBlocker;
    class BusyScope;
    class StopScope;

    void BuildWindow();
    void BuildSourceGroup();
    void BuildDestinationGroup();
    void BuildOptionsGroup();
    void KeepCheckedPolicyAsTabStop();
    void BuildProgressGroup();
    void BuildStartPanel();
    void BuildRunFigures();
    void LayOutWorkingPage();
    void BuildHelpPage(bool webHelp);
    void SetTabOrder();
    void ConnectCommands();
    QListView* MakeListView(const char* name, PathListModel& model, QWidget* parent);
    QPushButton* MakeButton(const char* name, const QString& caption, const QRect& geometry,
                            QWidget* parent, void (TForm1::*handler)());

    // Runs a handler's body; an exception it raises is shown in the error box. Does nothing
    // while a long operation runs.
    template <typename Body>
    void Guarded(Body&& body);

    void AddPickedDestination();
    void AddSourcesOfDrop(const QStringList& paths);
    void AddDestinationsOfDrop(const QStringList& paths);
    // Runs walk(destinations, repaint, stop), a folder walk that appends to the destination
    // list, with the busy cursor and the window's input blocked but for BtnStop; `repaint`
    // shows the growing list; the walk ends early once `stop` is set.
    template <typename Walk>
    void WalkIntoDestinations(Walk&& walk);
    void InstallDropIntake();
    void RequestHelpPage();
    void NavigateHelpPage();

    void AddFiles();
    void AddSourceFolder();
    void RemoveSelectedSource();
    void RemoveSelectedDestination();
    void ClearDestinations();
    // Saves `list` through the save dialog, or says why it is not saved (an empty list).
    void ExportList(const PathList& list, ListRole role);
    void ImportSources();
    void ImportDestinations();
    void AskBeforeEmptyingOption();
    // EmptyingNote after a change of CheckBox1 or of the destination list.
    void UpdateEmptyingNote();
    void EmptyDestinationsNow();
    void CopyRun();
    // RunLongOperation with BtnStop shown and the stop request cleared first.
    void RunStoppable(const std::function<void()>& work);
    // The end-of-run box: with failures, their whole list in its details and the report.
    void ShowRunEnd(const QString& text, const std::vector<Failure>& failures);
    void SaveFailureReport(const std::vector<Failure>& failures);
    // The launcher shows the run's progress once the run counts as long.
    void UpdateLauncher();
    DesktopNotifier& Notifier();
    void ReadStoredPolicy();
    void StorePolicy();

    // The copy run's hooks, called on the worker thread and answered on this one.
    bool AskOnGuiThread(const std::string& question);
    ShowProgress ProgressOnGuiThread();
    ShowTransfer FiguresOnGuiThread();
    static int SelectedRow(const QListView* view);

    PathList sources_;
    PathList destinations_;
    PathList scratch_;
    std::unique_ptr<PathListModel> sourceModel_;
    std::unique_ptr<PathListModel> destinationModel_;
    std::unique_ptr<PathListModel> scratchModel_;
    std::unique_ptr<Prompts> ownPrompts_;
    Prompts* prompts_;
    bool busy_ = false;
    // The stop request of the running operation, and whether the running one can stop.
    std::atomic<bool> stopRequest_{false};
    bool stoppable_ = false;
    // The window was closed during a run and closes once it has ended.
    bool closeAfterRun_ = false;
    // The answers "全部是" and "全部否" for the rest of the running copy run.
    app::RunAnswers runAnswers_;
    // The running copy run's last figures, and its bar's value.
    TransferFigures lastFigures_;
    app::RunProgress runBar_;
    std::unique_ptr<RunFiguresView> figuresView_;
    std::unique_ptr<DesktopNotifier> notifier_;
    // Time since the copy run began; invalid while none runs.
    QElapsedTimer runClock_;
    int launcherPercent_ = -1;
    FileDropIntake* sourceDrops_ = nullptr;
    FileDropIntake* destinationDrops_ = nullptr;
    // FormCreate has asked for the help page; it is loaded after the first paint.
    bool helpPending_ = false;
    bool helpRequested_ = false;
};

}  // namespace ostrivane
