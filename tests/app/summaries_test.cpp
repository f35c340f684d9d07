// The texts that close a run or an emptying, and the texts they are built from.
#include "app/summaries.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/texts.h"

using namespace ostrivane;
using namespace ostrivane::app;

namespace {

std::vector<Failure> NumberedFailures(int count) {
    std::vector<Failure> failures;
    for (int i = 1; i <= count; ++i)
        failures.push_back({"/out/f" + std::to_string(i), "reason " + std::to_string(i)});
    return failures;
}

}  // namespace

TEST(Texts, FormatTextFillsPlaceholdersOnceInOnePass) {
    // An argument that holds a placeholder itself stays as it is.
    EXPECT_EQ(FormatText("%2 and %1", {"a%2", "b"}), "b and a%2");
    // A placeholder without an argument is left out; "%" before anything else stays.
    EXPECT_EQ(FormatText("%1%3 100% %x %", {"v"}), "v 100% %x %");
    EXPECT_EQ(FormatText("", {"v"}), "");
}

TEST(Texts, JoinTextsMakesOneTerminatedText) {
    constexpr auto joined = JoinTexts("%1：", kDriveRootRefused);
    EXPECT_EQ(std::string(joined.data()), std::string("%1：") + kDriveRootRefused);
    EXPECT_EQ(joined.size(), std::string(joined.data()).size() + 1);
    static_assert(JoinTexts("ab", "", "c")[3] == '\0');
}

// The first ten failures by name, with the count; more than ten say so.
TEST(Summaries, CompletionListsTheFirstTenFailures) {
    EXPECT_EQ(CopyCompletionText({}), "复制工作完成！");
    EXPECT_EQ(EmptyingCompletionText({}), "目标文件夹下的内容已完全删除！");

    std::vector<Failure> failures = NumberedFailures(11);
    const std::string copy = CopyCompletionText(failures);
    std::string expected = "复制工作完成！\n\n有 11 项未能完成，以下是前 10 项：\n";
    for (int i = 1; i <= 10; ++i) {
        expected += "/out/f" + std::to_string(i) + ": reason " + std::to_string(i);
        if (i < 10) expected += '\n';
    }
    EXPECT_EQ(copy, expected);

    // Exactly ten: all of them, without "the first".
    failures.resize(10);
    const std::string ten = CopyCompletionText(failures);
    EXPECT_EQ(ten.substr(0, ten.find("\n/out/")), "复制工作完成！\n\n有 10 项未能完成：");
    EXPECT_TRUE(ten.ends_with("\n/out/f10: reason 10"));

    failures.resize(3);
    EXPECT_EQ(EmptyingCompletionText(failures),
              "目标文件夹下仍有 3 项未能删除：\n/out/f1: reason 1\n/out/f2: reason 2\n"
              "/out/f3: reason 3");
}

TEST(Summaries, StoppedAndEndedRunsBeginWithTheirOwnLine) {
    EXPECT_EQ(CopyStoppedText({}), "复制已停止。");
    EXPECT_EQ(CopyEndedText({}), "复制因错误而中止。");
    EXPECT_EQ(EmptyingStoppedText({}), "清空已停止。");
    const std::vector<Failure> one = NumberedFailures(1);
    EXPECT_EQ(CopyStoppedText(one), "复制已停止。\n\n有 1 项未能完成：\n/out/f1: reason 1");
    EXPECT_EQ(CopyEndedText(one), "复制因错误而中止。\n\n有 1 项未能完成：\n/out/f1: reason 1");
    EXPECT_EQ(EmptyingStoppedText(one),
              "清空已停止。\n\n目标文件夹下仍有 1 项未能删除：\n/out/f1: reason 1");
}

TEST(Summaries, DetailsListEveryFailure) {
    EXPECT_EQ(FailureDetails({}), "");
    const std::string details = FailureDetails(NumberedFailures(12));
    EXPECT_EQ(details.substr(details.rfind('\n') + 1), "/out/f12: reason 12");
    EXPECT_EQ(std::count(details.begin(), details.end(), '\n'), 11);
}

// Names on Linux are arbitrary bytes: what the windows show is valid UTF-8 throughout.
TEST(Summaries, PathsThatAreNoUtf8ShowReplacementCharacters) {
    const std::vector<Failure> failures = {{"/out/caf\xE9", "bad \xFF"}};
    EXPECT_EQ(FailureDetails(failures), "/out/caf\xEF\xBF\xBD: bad \xEF\xBF\xBD");
    EXPECT_NE(CopyCompletionText(failures).find("/out/caf\xEF\xBF\xBD: bad \xEF\xBF\xBD"),
              std::string::npos);
}

TEST(Summaries, ErrorBoxTextEndsASentenceOnce) {
    EXPECT_EQ(ErrorBoxText("Unable to write to /x"), "Unable to write to /x.");
    EXPECT_EQ(ErrorBoxText("Done."), "Done.");
    EXPECT_EQ(ErrorBoxText("Stop!"), "Stop!");
    EXPECT_EQ(ErrorBoxText("(a)"), "(a)");
    EXPECT_EQ(ErrorBoxText("why?"), "why?.");  // "?" is above "."
    EXPECT_EQ(ErrorBoxText("路径"), "路径.");
    EXPECT_EQ(ErrorBoxText(""), "");
    // A cut-off character is replaced, then ended like any other.
    EXPECT_EQ(ErrorBoxText("x\xE8\xB7"), "x\xEF\xBF\xBD\xEF\xBF\xBD.");
}

TEST(Summaries, NoticeOfALongRun) {
    EXPECT_EQ(RunEndNotice(RunEnd::Done, 0), "复制工作完成！");
    EXPECT_EQ(RunEndNotice(RunEnd::Done, 2), "复制工作完成！有 2 项未能完成。");
    EXPECT_EQ(RunEndNotice(RunEnd::Failures, 2), "复制工作完成！有 2 项未能完成。");
    EXPECT_EQ(RunEndNotice(RunEnd::Stopped, 1), "复制已停止。有 1 项未能完成。");
    EXPECT_EQ(RunEndNotice(RunEnd::Ended, 0), "复制因错误而中止。");
}

TEST(Summaries, ReportNotSavedNamesFileAndReason) {
    // A file name with a placeholder of its own is shown as it is.
    EXPECT_EQ(ReportNotSavedText("/tmp/%2.csv", "Permission denied"),
              "无法保存报告“/tmp/%2.csv”：Permission denied");
}

// The files left undone: only where the amount is known, never below 0 (a run that handled
// more than it first expected, as a source that grew while listed).
TEST(Summaries, FilesLeftUndoneOnlyWhereTheAmountIsKnown) {
    TransferFigures figures;
    figures.filesExpected = 10;
    figures.filesHandled = 4;
    EXPECT_EQ(FilesLeftUndone(figures), 0u);
    figures.amountKnown = true;
    EXPECT_EQ(FilesLeftUndone(figures), 6u);
    figures.filesHandled = 10;
    EXPECT_EQ(FilesLeftUndone(figures), 0u);
    figures.filesHandled = 11;
    EXPECT_EQ(FilesLeftUndone(figures), 0u);
}

// The end text of a stopped run tells the files it left undone apart from its failures,
// where the amount is known; the kept files are told in every run that kept some.
TEST(Summaries, RunTallyTellsUndoneAndKeptFiles) {
    TransferFigures figures;
    EXPECT_EQ(RunTallyText(figures, true), "");
    figures.amountKnown = true;
    figures.filesExpected = 4000;
    figures.filesHandled = 65;
    EXPECT_EQ(RunTallyText(figures, true), "有 3935 个文件未复制。");
    EXPECT_EQ(RunTallyText(figures, false), "");
    figures.filesKept = 12;
    EXPECT_EQ(RunTallyText(figures, true), "有 3935 个文件未复制。\n已跳过 12 个同名文件。");
    EXPECT_EQ(RunTallyText(figures, false), "已跳过 12 个同名文件。");
    figures.amountKnown = false;
    EXPECT_EQ(RunTallyText(figures, true), "已跳过 12 个同名文件。");
}

// The end box's text: the summary's first line, what was read back below it, the failures,
// then the tally.
TEST(Summaries, CopyRunEndTextPutsItsPartsInOrder) {
    RunResult result;
    result.end = RunEnd::Stopped;
    result.copiesVerified = 3;
    result.failures = {{"/d/a.txt", "磁盘已满"}};
    TransferFigures figures;
    figures.filesKept = 2;
    const std::string text = CopyRunEndText(result, true, figures);
    EXPECT_EQ(text.rfind("复制已停止。\n已校验 3 个副本：从目标设备读回，与源文件一致。\n", 0), 0u)
        << text;
    const size_t failure = text.find("/d/a.txt");
    ASSERT_NE(failure, std::string::npos) << text;
    EXPECT_LT(failure, text.find("已跳过 2 个同名文件。"));
    EXPECT_EQ(text.substr(text.size() - std::string("\n已跳过 2 个同名文件。").size()),
              "\n已跳过 2 个同名文件。");
    // Without the check nothing is said of it; a completed run keeps no undone count.
    result.end = RunEnd::Done;
    result.failures.clear();
    figures.filesKept = 0;
    EXPECT_EQ(CopyRunEndText(result, false, figures), "复制工作完成！");
}
