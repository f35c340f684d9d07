// Every text the program shows in a message box, and the rules that compose the longer ones.
#pragma once

#include <QString>
#include <string>
#include <vector>

#include "core/copy_run.h"

namespace ostrivane::messages {

inline const QString kNothingToCopy = QStringLiteral("没有需要复制的文件或文件夹!");
inline const QString kCopyDone = QStringLiteral("复制工作完成！");
inline const QString kDriveRootRefused = QStringLiteral("不能对整个驱动器（磁盘）进行复制！");
inline const QString kAddSubfoldersQuestion =
    QStringLiteral("添加包括选定文件夹下的所有子文件夹吗？");
inline const QString kSourceListEmpty = QStringLiteral("当前文件列表为空！");
inline const QString kDestinationListEmpty = QStringLiteral("当前目录列表为空！");
inline const QString kSomeFoldersNotImported =
    QStringLiteral("列表文件中所保存某些目录已不存在，未能导入。");
inline const QString kEmptyingWarning =
    QStringLiteral("清空（删除）操作是不可撤消（恢复）的，您确这要继续吗？");
inline const QString kEmptyingDone = QStringLiteral("目标文件夹下的内容已完全删除！");
// The first line of the box that ends a stopped copy run or emptying.
inline const QString kCopyStopped = QStringLiteral("复制已停止。");
inline const QString kCopyEnded = QStringLiteral("复制因错误而中止。");
inline const QString kEmptyingStopped = QStringLiteral("清空已停止。");
// The button of the completion box that saves the whole list of failures.
inline const QString kSaveReport = QStringLiteral("保存报告…");
// Title of the folder chooser of the source list.
inline const QString kChooseFolderPrompt = QStringLiteral("请选择文件夹");

// How many copies a run with the check after write read back and found equal to their
// sources (a line of the completion box).
QString VerifiedCopiesText(std::uint64_t count);

// How many failed items a completion message lists by name.
inline constexpr int kFailuresListed = 10;

// The text of the error box for an unexpected error: the message with "." appended when its
// last byte is above "." (0x2E). The last byte of a multi-byte UTF-8 character is always
// above it, so a message ending in a Chinese character gets the "." too.
QString ErrorBoxText(const std::string& message);

// The end-of-run message: "复制工作完成！", followed, when some items failed, by their number
// and the first ten of them (path and reason).
QString CopyCompletionText(const std::vector<Failure>& failures);

// The end of a stopped run: "复制已停止。", then the failures as CopyCompletionText lists
// them.
QString CopyStoppedText(const std::vector<Failure>& failures);

// After the error box of a run that a folder which could not be entered ended: "复制因错误
// 而中止。", then the failures before that error as CopyCompletionText lists them.
QString CopyEndedText(const std::vector<Failure>& failures);

// The end of a stopped emptying: "清空已停止。", then what stayed behind so far.
QString EmptyingStoppedText(const std::vector<Failure>& leftOver);

// Every failure, one a line: the full path, ": " and the reason (the details of the
// completion box).
QString FailureDetails(const std::vector<Failure>& failures);

// The failure report file: UTF-8 with a byte-order mark (so spreadsheet programs read it as
// UTF-8), the header line "路径,原因", then one line "path,reason" per failure; a field
// holding a comma, a quote or a line break is quoted and its quotes doubled (RFC 4180).
// Lines end with CR LF.
QByteArray FailureReportCsv(const std::vector<Failure>& failures);

// The message after an immediate emptying: "目标文件夹下的内容已完全删除！" only when nothing was
// left behind; otherwise how many items remain and the first ten of them.
QString EmptyingCompletionText(const std::vector<Failure>& leftOver);

}  // namespace ostrivane::messages
