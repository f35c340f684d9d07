#include "core/intake.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>
#endif

#include <string>
#include <vector>

#include "core/list_files.h"
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

// "d1", "d1/", "d1//", "x/../d1" and a link to it name one folder: one destination, by
// every route (a named folder, a walk that meets it, a list file).
TEST(Intake, OneFolderInAnySpellingIsOneDestination) {
    TempTree tree;
    tree.mkdir("d1/a/a1");
    tree.mkdir("x");
#ifndef _WIN32
    ASSERT_EQ(::symlink(tree.path("d1").c_str(), tree.path("link").c_str()), 0);
#endif
    const std::string d1 = tree.path("d1");
    PathList destinations;
    EXPECT_EQ(AddNamedDestination(d1 + "//a", {false, 0}, destinations), IntakeOutcome::Added);
    EXPECT_EQ(AddNamedDestination(d1, {false, 0}, destinations), IntakeOutcome::Added);
    for (const std::string& spelling : {d1 + "/", d1 + "//", tree.path("x/../d1"), d1 + "/."
#ifndef _WIN32
                                        , tree.path("link")
#endif
         }) {
        SCOPED_TRACE(spelling);
        EXPECT_EQ(AddNamedDestination(spelling, {false, 0}, destinations),
                  IntakeOutcome::AlreadyListed);
    }
    // The walk meets "a" listed as "d1//a/" already, and adds only "a1".
    EXPECT_EQ(AddNamedDestination(d1, {true, 0}, destinations), IntakeOutcome::Added);
    const std::string separator(1, tree.path("d1/").back());  // a folder entry's last character
    // (On Windows the entry keeps its spelling with every "/" read as "\".)
    EXPECT_EQ(destinations.entries(),
              (std::vector<std::string>{ostrivane::NativeSeparators(d1 + "//a") + separator,
                                        tree.path("d1/"), tree.path("d1/a/a1/")}));
    tree.write("dirs.lst", d1 + "\r\n" + d1 + "//\r\n" + tree.path("x") + "\r\n");
    PathList scratch;
    const auto imported = ostrivane::ImportDestinationList(tree.path("dirs.lst"), scratch,
                                                           destinations);
    EXPECT_TRUE(imported.skipped);
    EXPECT_EQ(destinations.count(), 4);
    EXPECT_EQ(destinations.at(3), tree.path("x"));
}

// A source is listed again only as the same file that would be copied under the same name:
// a link to a listed folder is copied as the link's name, so it is a source of its own.
TEST(Intake, ASourceIsListedAgainOnlyAsTheSameFileUnderTheSameName) {
    TempTree tree;
    tree.write("data/a.txt", "a");
    tree.mkdir("x");
    PathList sources;
    EXPECT_EQ(AddNamedSource(tree.path("data"), sources), IntakeOutcome::Added);
    EXPECT_EQ(AddNamedSource(tree.path("data") + "//", sources), IntakeOutcome::AlreadyListed);
    EXPECT_EQ(AddNamedSource(tree.path("x/../data"), sources), IntakeOutcome::AlreadyListed);
    EXPECT_EQ(AddNamedSource(tree.path("data/a.txt"), sources), IntakeOutcome::Added);
    EXPECT_EQ(AddNamedSource(tree.path("data//a.txt"), sources), IntakeOutcome::AlreadyListed);
#ifndef _WIN32
    ASSERT_EQ(::symlink(tree.path("data").c_str(), tree.path("data-link").c_str()), 0);
    ASSERT_EQ(::link(tree.path("data/a.txt").c_str(), tree.path("x/a.txt").c_str()), 0);
    ASSERT_EQ(::link(tree.path("data/a.txt").c_str(), tree.path("x/b.txt").c_str()), 0);
    EXPECT_EQ(AddNamedSource(tree.path("data-link"), sources), IntakeOutcome::Added);
    // The same file under the same name elsewhere is copied alike; under another name not.
    EXPECT_EQ(AddNamedSource(tree.path("x/a.txt"), sources), IntakeOutcome::AlreadyListed);
    EXPECT_EQ(AddNamedSource(tree.path("x/b.txt"), sources), IntakeOutcome::Added);
    EXPECT_EQ(sources.count(), 4);
#endif
}

}  // namespace
