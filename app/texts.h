// Every text the windows show, in UTF-8, written once for every front end: the Qt window
// converts them at its edge (QString::fromUtf8), the Win32 window with MultiByteToWideChar,
// and the command line's Chinese texts use those it shares with the windows.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <initializer_list>
#include <string>

namespace ostrivane::app {

// `text` with %1, %2, ... replaced by the arguments in order (a placeholder without an
// argument is left out; "%" before anything but 1 to 9 stays as it is).
std::string FormatText(const char* text, std::initializer_list<std::string> arguments);

// The texts joined at compile time, for a text that embeds another of this file (the
// command line's "%1：" before a window's message): JoinTexts("%1：", kDriveRootRefused).
template <std::size_t... N>
constexpr std::array<char, (N + ...) - sizeof...(N) + 1> JoinTexts(const char (&... parts)[N]) {
    std::array<char, (N + ...) - sizeof...(N) + 1> joined{};
    std::size_t at = 0;
    ((std::copy_n(parts, N - 1, joined.begin() + at), at += N - 1), ...);
    return joined;
}

// The application title: caption of the main window and of every message box.
inline constexpr char kApplicationTitle[] = "Ostrivane";

// --- Message boxes ------------------------------------------------------------------------

inline constexpr char kNothingToCopy[] = "没有需要复制的文件或文件夹!";
inline constexpr char kCopyDone[] = "复制工作完成！";
inline constexpr char kDriveRootRefused[] = "不能对整个驱动器（磁盘）进行复制！";
inline constexpr char kAddSubfoldersQuestion[] = "添加包括选定文件夹下的所有子文件夹吗？";
inline constexpr char kSourceListEmpty[] = "当前文件列表为空！";
inline constexpr char kDestinationListEmpty[] = "当前目录列表为空！";
inline constexpr char kSomeFoldersNotImported[] = "列表文件中所保存某些目录已不存在，未能导入。";
inline constexpr char kEmptyingWarning[] = "清空（删除）操作是不可撤消（恢复）的，您确这要继续吗？";
inline constexpr char kEmptyingDone[] = "目标文件夹下的内容已完全删除！";
// How many items failed (%1), before the first of them ("：") or the first ten of them; the
// window and the command line's Chinese summary both begin their lists so.
inline constexpr char kFailedCount[] = "有 %1 项未能完成";
inline constexpr char kLeftOverCount[] = "目标文件夹下仍有 %1 项未能删除";
// The list after kFailedCount or kLeftOverCount names only the first %1 failures.
inline constexpr char kFirstFailuresFollow[] = "，以下是前 %1 项：";
// The first line of the box that ends a stopped copy run, one that an error ended, and a
// stopped emptying.
inline constexpr char kCopyStopped[] = "复制已停止。";
inline constexpr char kCopyEnded[] = "复制因错误而中止。";
inline constexpr char kEmptyingStopped[] = "清空已停止。";
// The button of the completion box that saves the whole list of failures.
inline constexpr char kSaveReport[] = "保存报告…";
// The desktop notice of a long run that ended with failures: after the run's first line.
inline constexpr char kFailedCountNotice[] = "有 %1 项未能完成。";
// The error of a failure report that could not be saved: %1 the file, %2 the reason.
inline constexpr char kReportNotSaved[] = "无法保存报告“%1”：%2";
// Title of the folder chooser of the source list.
inline constexpr char kChooseFolderPrompt[] = "请选择文件夹";
// The buttons of the message boxes, in Chinese whatever the system's language.
inline constexpr char kYes[] = "是";
inline constexpr char kNo[] = "否";
inline constexpr char kOk[] = "确定";
// The further answers of the Ask question: for the rest of this run.
inline constexpr char kYesToAll[] = "全部是";
inline constexpr char kNoToAll[] = "全部否";
// Closing the window while a run goes on.
inline constexpr char kCloseDuringRun[] = "复制正在进行。要停止复制并退出吗？";
// Under the empty-first option while it is checked: how many destination folders the next
// run empties (%1).
inline constexpr char kEmptyingNote[] = "开始复制时将先清空（删除）%1 个目标文件夹中的原有内容！";
// The files that a run kept because a file of that name stood there (%1), and the files a
// stopped run left undone (%1), as lines of the end-of-run box and parts of the status line.
inline constexpr char kKeptCount[] = "已跳过 %1 个同名文件";
inline constexpr char kUndoneCount[] = "有 %1 个文件未复制";
inline constexpr char kCancel[] = "取消";

// --- The files the windows read and write -------------------------------------------------

// Description of the list files (*.lst) in the save dialog; the names the export proposes.
inline constexpr char kListFileDescription[] = "列表文件";
inline constexpr char kSourceListFileName[] = "file.lst";
inline constexpr char kDestinationListFileName[] = "dir.lst";
// The failure report's save dialog: description of *.csv and the name proposed.
inline constexpr char kReportFileDescription[] = "CSV 文件";
inline constexpr char kReportFileName[] = "失败报告.csv";

// --- Captions of the main window (TForm1) -------------------------------------------------

inline constexpr char kWorkingTab[] = "开始使用";               // TabSheet1
inline constexpr char kHelpTab[] = "帮助及使用技巧";            // TabSheet2
inline constexpr char kSourceGroup[] = "要复制的文件或文件夹";  // GroupBox1
inline constexpr char kAddFiles[] = "添加文件";                 // Button1
inline constexpr char kAddSourceFolder[] = "添加文件夹";        // Button5
inline constexpr char kRemoveSources[] = "移除文件(夹)";        // Button2
inline constexpr char kClearList[] = "清空列表";                // Button6, Button7
inline constexpr char kExportList[] = "导出列表";               // BtnSaveFileList, BtnSaveDirLst
inline constexpr char kImportList[] = "导入列表";               // BtnImpFileList, BtnImpDirLst
inline constexpr char kDestinationGroup[] = "复制到的文件夹(目录)";                  // GroupBox2
inline constexpr char kAddDestinationFolder[] = "添加文件夹";                        // Button3
inline constexpr char kRemoveDestinations[] = "移除文件夹";                          // Button4
inline constexpr char kOptionsGroup[] = "复制选项";                                  // GroupBox3
inline constexpr char kSameNameLabel[] = " 目标目录下已有同名文件存在时：";          // Label1
inline constexpr char kPolicyOverwrite[] = "覆盖";                                   // Rb1
inline constexpr char kPolicySkip[] = "跳过";                                        // Rb2
inline constexpr char kPolicyAsk[] = "询问";                                         // Rb3
inline constexpr char kPolicyNumber[] = "自动编号同名文件";                          // RbRename
inline constexpr char kEmptyFirst[] = "复制时先清空（删除）目标文件夹中的原有内容";  // CheckBox1
// BtnEmptyDestFolder's tool tip and its menu's one command (N1).
inline constexpr char kEmptyNow[] = "立即清空（删除）目标文件夹中的原有内容";
inline constexpr char kProgressGroup[] = "进度";  // GroupBox4
inline constexpr char kStartCopy[] = "开始复制";  // BtnCopy
inline constexpr char kStop[] = "停止";           // BtnStop
inline constexpr char kStopTip[] = "停止当前的工作（Esc）";
// The columns of the per-device view.
inline constexpr char kDeviceColumn[] = "目标设备";
inline constexpr char kWrittenColumn[] = "已写入";
inline constexpr char kSpeedColumn[] = "速度";
inline constexpr char kStateColumn[] = "状态";

// --- Captions of the folder picker (TForm2) -----------------------------------------------

inline constexpr char kPickerTitle[] = "选择要添加的目录（文件夹）";
inline constexpr char kPickAllSubfolders[] = "添加包括选定文件夹下的所有子文件夹";  // CheckBox1
inline constexpr char kPickDepthBefore[] = "添加包括选定文件夹下";                  // CheckBox2
inline constexpr char kPickDepthAfter[] = "级子目录";                               // Label1

// --- The help tab -------------------------------------------------------------------------

// The line above the built-in help page; %1 is the help address as a link.
inline constexpr char kHelpOnlineIntro[] =
    "在线帮助页面：%1（点击在浏览器中打开）。下面是程序自带的帮助。";
inline constexpr char kHelpOfflineIntro[] = "在线帮助页面 %1 暂时无法打开，下面是程序自带的帮助。";

// --- Run figures and states ---------------------------------------------------------------

// The status line under the progress bar: %1 files copied, %2 bytes done, %3 bytes planned,
// %4 the speed; followed by "，" and the remaining time when it is estimated.
inline constexpr char kStatusLine[] = "已复制 %1 个文件，%2 / %3，%4";
inline constexpr char kStatusSeparator[] = "，";
// The remaining time: below a minute, below an hour, and beyond.
inline constexpr char kRemainingSeconds[] = "剩余约 %1 秒";
inline constexpr char kRemainingMinutes[] = "剩余约 %1 分 %2 秒";
inline constexpr char kRemainingHours[] = "剩余约 %1 小时 %2 分";
// The states of a destination device (figures.h, StateText).
inline constexpr char kStateWaiting[] = "等待中";
inline constexpr char kStateCopying[] = "复制中";
inline constexpr char kStateFlushing[] = "正在写入磁盘";
inline constexpr char kStateVerifying[] = "校验中";
inline constexpr char kStateDone[] = "完成";
inline constexpr char kStateFailed[] = "失败";

// The check after write: the option (CheckVerify), its tooltip, and the line of the
// completion box saying how many copies were read back equal (%1).
inline constexpr char kVerifyAfterCopy[] = "复制后校验副本";
inline constexpr char kVerifyAfterCopyTip[] =
    "复制完成并写入磁盘后，从目标设备读回每个副本，与源文件比较";
inline constexpr char kVerifiedCopies[] = "已校验 %1 个副本：从目标设备读回，与源文件一致。";

}  // namespace ostrivane::app
