// Every text the windows show, in UTF-8, written once for every front end: the Qt window
// converts them at its edge (QString::fromUtf8), the Win32 window with MultiByteToWideChar,
// and the command line's Chinese texts use those it shares with the windows.
#pragma once

namespace ostrivane::app {

// The application title: caption of the main window and of every message box.
inline constexpr char kApplicationTitle[] = "Ostrivane";

// --- Message boxes ------------------------------------------------------------------------

inline constexpr char kNothingToCopy[] = "没有需要复制的文件或文件夹!";
inline constexpr char kCopyDone[] = "复制工作完成！";
inline constexpr char kDriveRootRefused[] = "不能对整个驱动器（磁盘）进行复制！";
inline constexpr char kAddSubfoldersQuestion[] = "添加包括选定文件夹下的所有子文件夹吗？";
inline constexpr char kSourceListEmpty[] = "当前文件列表为空！";
inline constexpr char kDestinationListEmpty[] = "当前目录列表为空！";
inline constexpr char kSomeFoldersNotImported[] =
    "列表文件中所保存某些目录已不存在，未能导入。";
inline constexpr char kEmptyingWarning[] =
    "清空（删除）操作是不可撤消（恢复）的，您确这要继续吗？";
inline constexpr char kEmptyingDone[] = "目标文件夹下的内容已完全删除！";
// The first line of the box that ends a stopped copy run, one that an error ended, and a
// stopped emptying.
inline constexpr char kCopyStopped[] = "复制已停止。";
inline constexpr char kCopyEnded[] = "复制因错误而中止。";
inline constexpr char kEmptyingStopped[] = "清空已停止。";
// The button of the completion box that saves the whole list of failures.
inline constexpr char kSaveReport[] = "保存报告…";
// Title of the folder chooser of the source list.
inline constexpr char kChooseFolderPrompt[] = "请选择文件夹";
// The buttons of the message boxes, in Chinese whatever the system's language.
inline constexpr char kYes[] = "是";
inline constexpr char kNo[] = "否";
inline constexpr char kOk[] = "确定";
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

inline constexpr char kWorkingTab[] = "开始使用";      // TabSheet1
inline constexpr char kHelpTab[] = "帮助及使用技巧";   // TabSheet2
inline constexpr char kSourceGroup[] = "要复制的文件或文件夹";  // GroupBox1
inline constexpr char kAddFiles[] = "添加文件";                  // Button1
inline constexpr char kAddSourceFolder[] = "添加文件夹";         // Button5
inline constexpr char kRemoveSources[] = "移除文件(夹)";         // Button2
inline constexpr char kClearList[] = "清空列表";                 // Button6, Button7
inline constexpr char kExportList[] = "导出列表";  // BtnSaveFileList, BtnSaveDirLst
inline constexpr char kImportList[] = "导入列表";  // BtnImpFileList, BtnImpDirLst
inline constexpr char kDestinationGroup[] = "复制到的文件夹(目录)";  // GroupBox2
inline constexpr char kAddDestinationFolder[] = "添加文件夹";         // Button3
inline constexpr char kRemoveDestinations[] = "移除文件夹";           // Button4
inline constexpr char kOptionsGroup[] = "复制选项";                   // GroupBox3
inline constexpr char kSameNameLabel[] = " 目标目录下已有同名文件存在时：";  // Label1
inline constexpr char kPolicyOverwrite[] = "覆盖";                 // Rb1
inline constexpr char kPolicySkip[] = "跳过";                      // Rb2
inline constexpr char kPolicyAsk[] = "询问";                       // Rb3
inline constexpr char kPolicyNumber[] = "自动编号同名文件";        // RbRename
inline constexpr char kEmptyFirst[] = "复制时先清空（删除）目标文件夹中的原有内容";  // CheckBox1
// BtnEmptyDestFolder's tool tip and its menu's one command (N1).
inline constexpr char kEmptyNow[] = "立即清空（删除）目标文件夹中的原有内容";
inline constexpr char kProgressGroup[] = "进度";   // GroupBox4
inline constexpr char kStartCopy[] = "开始复制";   // BtnCopy
inline constexpr char kStop[] = "停止";            // BtnStop
inline constexpr char kStopTip[] = "停止当前的工作（Esc）";
// The columns of the per-device view.
inline constexpr char kDeviceColumn[] = "目标设备";
inline constexpr char kWrittenColumn[] = "已写入";
inline constexpr char kSpeedColumn[] = "速度";
inline constexpr char kStateColumn[] = "状态";

// --- Captions of the folder picker (TForm2) -----------------------------------------------

inline constexpr char kPickerTitle[] = "选择要添加的目录（文件夹）";
inline constexpr char kPickAllSubfolders[] = "添加包括选定文件夹下的所有子文件夹";  // CheckBox1
inline constexpr char kPickDepthBefore[] = "添加包括选定文件夹下";  // CheckBox2
inline constexpr char kPickDepthAfter[] = "级子目录";               // Label1

// --- The help tab -------------------------------------------------------------------------

// The line above the built-in help page; %1 is the help address as a link.
inline constexpr char kHelpOnlineIntro[] =
    "在线帮助页面：%1（点击在浏览器中打开）。下面是程序自带的帮助。";
inline constexpr char kHelpOfflineIntro[] = "在线帮助页面 %1 暂时无法打开，下面是程序自带的帮助。";

// --- Run figures and states ---------------------------------------------------------------

// The states of a destination device (figures.h, StateText).
inline constexpr char kStateWaiting[] = "等待中";
inline constexpr char kStateCopying[] = "复制中";
inline constexpr char kStateFlushing[] = "正在写入磁盘";
inline constexpr char kStateDone[] = "完成";
inline constexpr char kStateFailed[] = "失败";

}  // namespace ostrivane::app
