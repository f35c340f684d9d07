// The texts that close a run, an emptying or an unexpected error, composed the same way for
// every window: the box's text and its details, in UTF-8. Paths are shown as valid UTF-8
// (ValidUtf8, report.h): a byte that belongs to no character shows as U+FFFD.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/copy_run.h"

namespace ostrivane::app {

// How many failed items a completion message lists by name.
inline constexpr std::size_t kFailuresListed = 10;

// The text of the error box for an unexpected error: the message with "." appended when its
// last byte is above "." (0x2E): a message ending in a letter, a digit or "?" gets it, one
// ending in ".", "!", ")" or a blank does not, as the boxes of earlier versions wrote them.
// The last byte of a multi-byte UTF-8 character is always above it, so a message ending in a
// Chinese character gets the "." too. The text is valid UTF-8 (ValidUtf8, report.h).
std::string ErrorBoxText(const std::string& message);

// The end-of-run message: "复制工作完成！", followed, when some items failed, by their number
// and the first kFailuresListed of them (path and reason).
std::string CopyCompletionText(const std::vector<Failure>& failures);

// The end of a stopped run: "复制已停止。", then the failures as CopyCompletionText lists
// them.
std::string CopyStoppedText(const std::vector<Failure>& failures);

// `endText` (CopyCompletionText or CopyStoppedText) with the line "已校验 N 个副本…" after
// its first line: how many copies a run with the check after write read back and found
// equal to their sources (a stopped check counts only the copies it reached).
std::string WithVerifiedCopies(std::string endText, std::uint64_t copiesVerified);
// The files a stopped run left undone, counted apart from its failures: how many of the
// files it expected it did not handle, where the amount is known; 0 where it is not.
std::uint64_t FilesLeftUndone(const TransferFigures& figures);

// What a run's last figures add to its end text, one line each, each ending with "。" (empty
// when there is nothing to add): the files a stopped run left undone, counted apart from its
// failures, where the amount is known ("有 N 个文件未复制。"), and the files kept because a
// file of that name stood there ("已跳过 N 个同名文件。").
std::string RunTallyText(const TransferFigures& figures, bool stopped);

// The end box's text of a copy run that was not ended by an error: CopyCompletionText or
// CopyStoppedText, what was read back (WithVerifiedCopies) when the run checked its copies,
// and RunTallyText of the run's last figures on a line of its own.
std::string CopyRunEndText(const RunResult& result, bool verified, const TransferFigures& last);

// After the error box of a run that a folder which could not be entered ended: "复制因错误
// 而中止。", then the failures before that error as CopyCompletionText lists them.
std::string CopyEndedText(const std::vector<Failure>& failures);

// The end of a stopped emptying: "清空已停止。", then what stayed behind so far.
std::string EmptyingStoppedText(const std::vector<Failure>& leftOver);

// The message after an immediate emptying: "目标文件夹下的内容已完全删除！" only when nothing was
// left behind; otherwise how many items remain and the first kFailuresListed of them.
std::string EmptyingCompletionText(const std::vector<Failure>& leftOver);

// Every failure, one a line: the full path, ": " and the reason (the details of the
// completion box).
std::string FailureDetails(const std::vector<Failure>& failures);

// The desktop notice of a long run that ended (`end`, as CopyAll's result tells it) while the
// window was not active: the first line of the run's end text ("复制工作完成！", "复制已停止。",
// "复制因错误而中止。"), followed by "有 N 项未能完成。" when `failureCount` is not 0.
std::string RunEndNotice(RunEnd end, std::size_t failureCount);

// The error of a failure report that could not be saved: "无法保存报告“<file>”：<reason>".
// `file` is a path in file-name bytes (shown as valid UTF-8), `reason` the system's words.
std::string ReportNotSavedText(const std::string& file, const std::string& reason);

}  // namespace ostrivane::app
