#include "core/intake.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>
#endif

#include <string>
#include <vector>

#include "core/temp_tree.h"

using ostrivane::AddNamedDestination;
using ostrivane::AddNamedSource;
using ostrivane::DestinationReach;
using ostrivane::IntakeOutcome;
using ostrivane::PathList;
using ostrivane::test::TempTree;

namespace {

TEST(Intake, SourcesFoldersGetTheSeparatorFilesStayAsNamedEachOnce) {
    TempTree tree;
    tree.write("data/a.txt", "a");
#ifndef _WIN32
    // A link to a folder is a folder source (Wine makes no symbolic links).
    ASSERT_EQ(::symlink(tree.path("data").c_str(), tree.path("link").c_str()), 0);
#endif
    PathList sources;
    EXPECT_EQ(AddNamedSource(tree.path("data"), sources), IntakeOutcome::Added);
    EXPECT_EQ(AddNamedSource(tree.path("data/"), sources), IntakeOutcome::AlreadyListed);
    EXPECT_EQ(AddNamedSource(tree.path("data/a.txt"), sources), IntakeOutcome::Added);
    EXPECT_EQ(AddNamedSource(tree.path("data/a.txt"), sources), IntakeOutcome::AlreadyListed);
#ifndef _WIN32
    EXPECT_EQ(AddNamedSource(tree.path("link"), sources), IntakeOutcome::Added);
#endif
    EXPECT_EQ(AddNamedSource(tree.path("missing"), sources), IntakeOutcome::Missing);
    EXPECT_EQ(AddNamedSource("", sources), IntakeOutcome::Missing);
#ifdef _WIN32
    // Names compare ignoring letter case: the same folder in capitals is listed already.
    EXPECT_EQ(AddNamedSource(tree.path("DATA"), sources), IntakeOutcome::AlreadyListed);
    EXPECT_EQ(sources.entries(),
              (std::vector<std::string>{tree.path("data/"), tree.path("data/a.txt")}));
#else
    EXPECT_EQ(sources.entries(), (std::vector<std::string>{tree.path("data/"),
                                                            tree.path("data/a.txt"),
                                                            tree.path("link/")}));
#endif
}

TEST(Intake, TheWholeFileSystemIsRefusedInEverySpelling) {
    TempTree tree;
    tree.mkdir("d");
#ifdef _WIN32
    // The drive of the temporary folder in its spellings, and the root of the current drive.
    const std::string drive = tree.root().substr(0, 2);  // "C:"
    const std::vector<std::string> roots = {drive + "\\", drive + "/", drive + "\\.",
                                            drive + "\\windows\\..", "\\",
                                            tree.path("d/../../../../../../../../../..")};
#else
    ASSERT_EQ(::symlink("/", tree.path("to-root").c_str()), 0);
    const std::vector<std::string> roots = {"/", "//", "/.", "/tmp/..", tree.path("to-root"),
                                            tree.path("d/../../../../../../../../../..")};
#endif
    PathList sources, destinations;
    for (const std::string& root : roots) {
        SCOPED_TRACE(root);
        EXPECT_EQ(AddNamedSource(root, sources), IntakeOutcome::RootRefused);
        EXPECT_EQ(AddNamedDestination(root, DestinationReach{true, 0}, destinations),
                  IntakeOutcome::RootRefused);
        EXPECT_EQ(AddNamedDestination(root, DestinationReach{false, 0}, destinations),
                  IntakeOutcome::RootRefused);
    }
    EXPECT_EQ(sources.count(), 0);
    EXPECT_EQ(destinations.count(), 0);
}

TEST(Intake, DestinationsAreFoldersWithTheirSubfoldersAsFarAsAsked) {
    TempTree tree;
    tree.mkdir("r/a/a1");
    tree.write("r/file", "x");
    const std::string r = tree.path("r/");
    PathList destinations;
    EXPECT_EQ(AddNamedDestination(tree.path("r/file"), {false, 0}, destinations),
              IntakeOutcome::Missing);
    EXPECT_EQ(AddNamedDestination(tree.path("none"), {true, 0}, destinations),
              IntakeOutcome::Missing);
    EXPECT_EQ(AddNamedDestination(tree.path("r"), {false, -1}, destinations),
              IntakeOutcome::AlreadyListed);  // a negative depth adds nothing
    EXPECT_EQ(AddNamedDestination(tree.path("r"), {false, 0}, destinations), IntakeOutcome::Added);
    EXPECT_EQ(AddNamedDestination(r, {false, 0}, destinations), IntakeOutcome::AlreadyListed);
    EXPECT_EQ(AddNamedDestination(r, {false, 1}, destinations), IntakeOutcome::Added);
    const std::string a = tree.path("r/a/"), a1 = tree.path("r/a/a1/");
    EXPECT_EQ(destinations.entries(), (std::vector<std::string>{r, a}));
    EXPECT_EQ(AddNamedDestination(tree.path("r"), {true, 0}, destinations), IntakeOutcome::Added);
    EXPECT_EQ(destinations.entries(), (std::vector<std::string>{r, a, a1}));
}

}  // namespace
