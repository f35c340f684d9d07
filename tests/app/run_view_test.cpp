// The Ask answers that hold for the rest of a run, the progress bar's value and the emptying
// note.
#include "app/run_view.h"

#include <gtest/gtest.h>

#include "app/texts.h"

using namespace ostrivane::app;

TEST(RunAnswers, ForAllAnswersHoldUntilTheNextRun) {
    RunAnswers answers;
    answers.begin();
    EXPECT_FALSE(answers.remembered());
    EXPECT_TRUE(answers.take(OverwriteAnswer::Yes));
    EXPECT_FALSE(answers.take(OverwriteAnswer::No));
    // The single answers are not remembered.
    EXPECT_FALSE(answers.remembered());
    // Stop keeps the file and remembers nothing: no further question comes anyway.
    EXPECT_FALSE(answers.take(OverwriteAnswer::Stop));
    EXPECT_FALSE(answers.remembered());

    EXPECT_FALSE(answers.take(OverwriteAnswer::NoToAll));
    ASSERT_TRUE(answers.remembered());
    EXPECT_FALSE(*answers.remembered());
    answers.begin();
    EXPECT_FALSE(answers.remembered());
    EXPECT_TRUE(answers.take(OverwriteAnswer::YesToAll));
    ASSERT_TRUE(answers.remembered());
    EXPECT_TRUE(*answers.remembered());
}

TEST(RunProgress, PairsLeadUntilTheBytesAreKnown) {
    RunProgress bar;
    bar.begin();
    EXPECT_FALSE(bar.bytes(-1, false));  // the amount is not known yet
    EXPECT_TRUE(bar.pairs(20, false));
    EXPECT_EQ(bar.value(), 20);
    EXPECT_FALSE(bar.pairs(20, false));
    EXPECT_FALSE(bar.followsBytes());
    // The bytes take over, never below what is shown.
    EXPECT_FALSE(bar.bytes(10, false));
    EXPECT_TRUE(bar.followsBytes());
    EXPECT_EQ(bar.value(), 20);
    EXPECT_TRUE(bar.bytes(35, false));
    EXPECT_EQ(bar.value(), 35);
    // The pairs no longer move it, until the last one.
    EXPECT_FALSE(bar.pairs(90, false));
    EXPECT_EQ(bar.value(), 35);
    // A total that grew: a lower percentage leaves the bar where it is.
    EXPECT_FALSE(bar.bytes(30, false));
    EXPECT_EQ(bar.value(), 35);
    EXPECT_TRUE(bar.pairs(100, false));
    EXPECT_EQ(bar.value(), 100);
    EXPECT_FALSE(bar.bytes(99, false));
    EXPECT_EQ(bar.value(), 100);

    // The next run starts at 0 counting pairs again.
    bar.begin();
    EXPECT_EQ(bar.value(), 0);
    EXPECT_FALSE(bar.followsBytes());
    EXPECT_TRUE(bar.pairs(50, false));
}

TEST(RunProgress, AStoppedRunStaysWhereTheStopFoundIt) {
    RunProgress bar;
    bar.begin();
    EXPECT_TRUE(bar.bytes(42, false));
    // The abandoned copy still ends its pair (the only one): no jump to full.
    EXPECT_FALSE(bar.pairs(100, true));
    EXPECT_FALSE(bar.bytes(43, true));
    EXPECT_EQ(bar.value(), 42);
    // Without the bytes too.
    bar.begin();
    EXPECT_TRUE(bar.pairs(25, false));
    EXPECT_FALSE(bar.pairs(50, true));
    EXPECT_EQ(bar.value(), 25);
}

TEST(EmptyingNote, NamesTheNumberOfFolders) {
    EXPECT_EQ(EmptyingNoteText(3), "开始复制时将先清空（删除）3 个目标文件夹中的原有内容！");
    EXPECT_EQ(EmptyingNoteText(12), FormatText(kEmptyingNote, {"12"}));
}
