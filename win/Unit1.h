// The main window of the Windows program (window class "TForm1"): both path lists, the
// same-name policy, the emptying option, the check after write, the progress bar with the
// run's figures and the Start and Stop commands, built with the Win32 API. Every command is
// one of its public handlers, as in the Linux window; the controls carry the fixed control
// ids below.
#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/figures.h"
#include "app/run_view.h"
#include "core/copy_run.h"
#include "core/intake.h"
#include "core/path_list.h"
#include "win/Prompts.h"
#include "win/Window.h"

struct ITaskbarList3;

namespace ostrivane::win {

class TForm2;

// Control ids; the design names are the contract with tools that drive the window.
enum ControlId : int {
    kIdSourceList = 1001,          // ListBox1
    kIdDestinationList = 1002,     // ListBox2
    kIdScratchList = 1003,         // ListBox3, never visible
    kIdAddFiles = 1011,            // Button1
    kIdRemoveSource = 1012,        // Button2
    kIdAddDestination = 1013,      // Button3
    kIdRemoveDestination = 1014,   // Button4
    kIdAddSourceFolder = 1015,     // Button5
    kIdClearSources = 1016,        // Button6
    kIdClearDestinations = 1017,   // Button7
    kIdExportSources = 1021,       // BtnSaveFileList
    kIdImportSources = 1022,       // BtnImpFileList
    kIdExportDestinations = 1023,  // BtnSaveDirLst
    kIdImportDestinations = 1024,  // BtnImpDirLst
    kIdEmptyNowButton = 1025,      // BtnEmptyDestFolder
    kIdEmptyNow = 1026,            // N1, the one item of PopupMenu1
    kIdOverwrite = 1031,           // Rb1
    kIdSkip = 1032,                // Rb2
    kIdAsk = 1033,                 // Rb3
    kIdNumber = 1034,              // RbRename
    kIdEmptyFirst = 1041,          // CheckBox1
    kIdVerify = 1042,              // CheckVerify
    kIdEmptyingNote = 1043,        // EmptyingNote, beside CheckBox1 while it is checked
    kIdProgress = 1051,            // ProgressBar1
    kIdStart = 1061,               // BtnCopy
    kIdStop = 1062,                // BtnStop
    kIdPages = 1071,               // PageControl1
    kIdFigures = 1081,             // the run's figures line
    kIdDevices = 1082,             // the per-device view
};

class TForm1 : public Window {
  public:
    // The window, hidden until Show(); its dialogs go to `prompts`, which must outlive it, or
    // are the real ones when `prompts` is null. Raises std::runtime_error when Windows refuses
    // the window.
    explicit TForm1(HINSTANCE instance, Prompts* prompts = nullptr);
    ~TForm1() override;

    HWND Handle() const { return window_; }
    // Shows the window centred on its screen.
    void Show(int showCommand);
    // Lets the window take the keyboard's dialog keys (Tab, arrows, Esc) from `message`;
    // true when it has been handled. The message loop asks this before dispatching.
    bool PreTranslate(MSG& message);

    const PathList& Sources() const { return sources_; }
    const PathList& Destinations() const { return destinations_; }
    Prompts& prompts() { return *prompts_; }
    // The policy of the checked radio button.
    SameFilePolicy CheckedPolicy() const;
    // True while a long operation (copy run, emptying, folder walk) runs; no command starts
    // meanwhile.
    bool IsBusy() const { return busy_; }
    // True once BtnStop or Esc asked the running operation to stop.
    bool StopRequested() const { return stopRequest_.load(); }

    // A copy run longer than this shows its progress on the taskbar button and, ending while
    // the window is not active, flashes it.
    std::chrono::milliseconds longRun{10000};
    // Writers of a copy run: 0 lets the engine choose; 1 one thread in the described order.
    int runWriters = 0;
    // Called on the run's thread with every figures report (tests hold a run here).
    std::function<void(const TransferFigures&)> runFiguresHook;
    // A folder walk shows the growing destination list at most this often.
    std::chrono::milliseconds walkRepaintInterval{30};
    // Closing the window ends the thread's message loop (the program's main window).
    bool endsMessageLoop = false;
    // True after the last copy run flashed the taskbar button (it ended long and inactive).
    bool flashedAtRunEnd = false;
    // The value the taskbar button's progress was last given during the running copy run;
    // -1 when it shows none.
    int TaskbarPercent() const { return taskbarPercent_; }

    // Controls, under their design names.
    HWND PageControl1 = nullptr, TabSheet1 = nullptr, TabSheet2 = nullptr;
    HWND GroupBox1 = nullptr, GroupBox2 = nullptr, GroupBox3 = nullptr, GroupBox4 = nullptr;
    HWND ListBox1 = nullptr, ListBox2 = nullptr, ListBox3 = nullptr;
    HWND Button1 = nullptr, Button2 = nullptr, Button3 = nullptr, Button4 = nullptr;
    HWND Button5 = nullptr, Button6 = nullptr, Button7 = nullptr;
    HWND BtnSaveFileList = nullptr, BtnImpFileList = nullptr;
    HWND BtnSaveDirLst = nullptr, BtnImpDirLst = nullptr;
    HWND Label1 = nullptr, Rb1 = nullptr, Rb2 = nullptr, Rb3 = nullptr, RbRename = nullptr;
    HWND CheckBox1 = nullptr, BtnEmptyDestFolder = nullptr, CheckVerify = nullptr;
    HWND EmptyingNote = nullptr;
    HMENU PopupMenu1 = nullptr;
    HWND ProgressBar1 = nullptr, StatusLabel = nullptr, DeviceView = nullptr;
    HWND Panel1 = nullptr, BtnCopy = nullptr, BtnStop = nullptr;
    HWND ToolTip = nullptr;
    // The destination picker, created with the window; every Button3Click shows it again.
    std::unique_ptr<TForm2> Form2;

    // Handlers, as in the Linux window. Each runs guarded: an error it raises is shown in
    // the error box, and nothing runs while a long operation does.
    void Button1Click();  // adds files chosen in OpenDialog1 to the sources
    void Button2Click();  // removes the selected source
    void Button3Click();  // the picker, then its folder (and subfolders) to the destinations
    void Button4Click();  // removes the selected destination
    void Button5Click();  // adds a folder chosen in the folder browser to the sources
    void Button6Click();  // clears the sources
    void Button7Click();  // clears the destinations, hides BtnEmptyDestFolder
    void BtnSaveFileListClick();
    void BtnImpFileListClick();
    void BtnSaveDirLstClick();
    void BtnImpDirLstClick();
    // The Delete key (any modifiers) removes the selected entry and sets `key` to 0.
    void ListBox1KeyDown(WORD& key);
    void ListBox2KeyDown(WORD& key);
    // One drop's paths, as the drop carried them.
    void AddDroppedSources(const std::vector<std::string>& paths);
    void AddDroppedDestinations(const std::vector<std::string>& paths);
    // When CheckBox1 has become checked, asks the emptying warning; No unchecks it again.
    void CheckBox1Click();
    // Opens PopupMenu1 at the pressed point (x, y relative to the button), for any button.
    void BtnEmptyDestFolderMouseDown(int x, int y);
    // Space or Enter on the focused BtnEmptyDestFolder: PopupMenu1 below the button.
    void BtnEmptyDestFolderClick();
    // Asks the emptying warning and on Yes empties every destination, then disables
    // BtnEmptyDestFolder for good.
    void N1Click();
    // The copy run on a worker thread, with its figures, then its end box.
    void BtnCopyClick();
    // Asks the running operation to stop (Esc too); nothing while none runs.
    void BtnStopClick();
    // Caption, stored policy and check after write, drop intake, first page.
    void FormCreate();
    // Stores the checked policy and CheckVerify; false when the window must stay open (busy, or the
    // settings could not be written: the error has been shown).
    bool FormClose();
    // WM_CLOSE (the title bar's X, Alt+F4): during a copy run asks whether to stop it and
    // quit; Yes stops the run and the window closes once it has ended. Otherwise FormClose
    // decides.
    void CloseRequested();

    // Runs `work` on a worker thread while this thread keeps the window painted and
    // answers the worker's requests; the user's input to the window is swallowed but for
    // BtnStop and Esc while the work can stop. Rethrows what `work` threw.
    void RunLongOperation(const std::function<void()>& work);

  private:
    // The window's and its two pages' messages (all bound to the window).
    LRESULT OnMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    // Commands, notifications and colours of the page's controls.
    bool PageMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    void Command(int id, int code);

    void BuildWindow();
    void CreateControls();
    HWND MakeControl(const wchar_t* className, const char* caption, DWORD style, int id,
                     DWORD exStyle = 0);
    void Layout();
    void ApplyFont();
    int Scaled(int pixels) const;
    void ShowPage(int index);

    template <typename Body>
    void Guarded(Body&& body);
    void ShowUnexpectedError(const std::string& message);

    void AddFiles();
    void AddSourceFolder();
    void AddPickedDestination();
    void RemoveSelectedSource();
    void RemoveSelectedDestinations();
    void ClearSources();
    void ClearDestinations();
    void ExportSources();
    void ExportDestinations();
    void RemoveSelected(HWND box, PathList& list);
    void ExportList(const PathList& list, ListRole role);
    void ImportSources();
    void ImportDestinations();
    void AddSourcesOfDrop(const std::vector<std::string>& paths);
    void AddDestinationsOfDrop(const std::vector<std::string>& paths);
    void EmptyDestinationsNow();
    void CopyRun();
    void ShowRunEnd(const std::string& text, const std::vector<Failure>& failures);
    void SaveFailureReport(const std::vector<Failure>& failures);
    void SetEmptyNowVisible(bool visible);
    // EmptyingNote after a change of CheckBox1 or of the destination list.
    void UpdateEmptyingNote();
    // Runs walk(repaint, stop) on the worker: a folder walk that appends to the
    // destinations; `repaint` shows the new entries on this thread (the worker waits).
    void WalkIntoDestinations(
        const std::function<void(const std::function<void()>&, const std::atomic<bool>*)>& walk);
    void RunStoppable(const std::function<void()>& work);
    void InstallDropIntake();

    // The list boxes show their lists again; `box` from entry `from` on (entries before it
    // are shown already and unchanged).
    void ShowList(HWND box, const PathList& list, int from = 0);

    // Work on the window's thread for the worker: runs `task` there and waits for it.
    void OnWindowThread(const std::function<void()>& task);
    bool AskOnWindowThread(const std::string& question);
    // The bar's value (and the taskbar's) from runBar_.
    void ShowBar();
    void ShowFigures();
    void SetTaskbarProgress(int percent);
    void EndTaskbarProgress();

    HINSTANCE instance_;
    HWND window_ = nullptr;
    std::unique_ptr<DialogPrompts> ownPrompts_;
    Prompts* prompts_;
    HFONT font_ = nullptr;
    UINT dpi_ = 96;
    HWND helpPage_ = nullptr;

    PathList sources_;
    PathList destinations_;
    PathList scratch_;

    bool busy_ = false;
    bool stoppable_ = false;
    std::atomic<bool> stopRequest_{false};
    bool emptyNowVisible_ = false;
    bool emptyNowUsed_ = false;

    // The run's figures: the newest report, handed from the worker under the lock.
    std::mutex figuresLock_;
    std::optional<TransferFigures> pendingFigures_;
    app::RunFiguresTracker figures_;
    // The last report the window showed: the run's tally in its end text comes from it.
    TransferFigures lastFigures_;
    size_t deviceRows_ = 0;
    std::chrono::steady_clock::time_point runStart_;
    bool running_ = false;
    // The window was closed during the run and closes once it has ended.
    bool closeAfterRun_ = false;
    // The running copy run's Ask answers that hold for the rest of it, and its bar.
    app::RunAnswers runAnswers_;
    app::RunProgress runBar_;
    ITaskbarList3* taskbar_ = nullptr;
    int taskbarPercent_ = -1;
};

}  // namespace ostrivane::win
