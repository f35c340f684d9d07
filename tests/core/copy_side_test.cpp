// Which side of a copy failed: the note the platform layer's CopyFileAt keeps per thread.
#include <gtest/gtest.h>

#include <thread>

#include "core/fsops.h"

namespace ostrivane {
namespace {

TEST(CopySide, TheNotedSourceErrorAndAChangedSourceAreTheSourcesTheRestTheTargets) {
    detail::ClearSourceFailure();
    EXPECT_EQ(detail::SideOf(0), CopySide::None);
    EXPECT_EQ(detail::SideOf(error::kNotFound), CopySide::Target);
    EXPECT_EQ(detail::SideOf(error::kSourceChanged), CopySide::Source);
    EXPECT_EQ(detail::SourceFailed(error::kNotFound), error::kNotFound);
    EXPECT_EQ(detail::SideOf(error::kNotFound), CopySide::Source);
    // Another error after the source's failure (the target's, while cleaning up) is the
    // target's.
    EXPECT_EQ(detail::SideOf(error::kAccessDenied), CopySide::Target);
    EXPECT_EQ(detail::SideOf(error::kDeviceFull), CopySide::Target);
    EXPECT_EQ(detail::SideOf(error::kStopped), CopySide::Target);

    // The note is this thread's: a copy on another thread does not see it, and what that
    // copy notes stays there.
    CopySide elsewhere = CopySide::None;
    std::thread other([&] {
        elsewhere = detail::SideOf(error::kNotFound);
        detail::SourceFailed(error::kAlreadyExists);
    });
    other.join();
    EXPECT_EQ(elsewhere, CopySide::Target);
    EXPECT_EQ(detail::SideOf(error::kAlreadyExists), CopySide::Target);
    EXPECT_EQ(detail::SideOf(error::kNotFound), CopySide::Source);

    // A new copy starts with no note.
    detail::ClearSourceFailure();
    EXPECT_EQ(detail::SideOf(error::kNotFound), CopySide::Target);
}

}  // namespace
}  // namespace ostrivane
