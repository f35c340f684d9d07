// The commands' checks, the stored policy's meaning and the picker's add command, on real
// folders.
#include "app/commands.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "app/picker.h"
#include "app/texts.h"
#include "core/settings.h"
#include "core/temp_tree.h"

using namespace ostrivane;
using namespace ostrivane::app;
using ostrivane::test::TempTree;

namespace {

PickedFolder Pick(const std::string& folder) {
    PickedFolder pick;
    pick.accepted = true;
    pick.folder = folder;
    return pick;
}

}  // namespace

TEST(Commands, ARunOrAnExportNeedsEntries) {
    PathList sources, destinations;
    EXPECT_STREQ(CopyRunRefusal(sources, destinations), kNothingToCopy);
    sources.append("/a");
    EXPECT_STREQ(CopyRunRefusal(sources, destinations), kNothingToCopy);
    EXPECT_STREQ(CopyRunRefusal(destinations, sources), kNothingToCopy);
    destinations.append("/b/");
    EXPECT_EQ(CopyRunRefusal(sources, destinations), nullptr);

    PathList empty;
    EXPECT_STREQ(ExportRefusal(empty, ListRole::Sources), kSourceListEmpty);
    EXPECT_STREQ(ExportRefusal(empty, ListRole::Destinations), kDestinationListEmpty);
    EXPECT_EQ(ExportRefusal(sources, ListRole::Sources), nullptr);
    EXPECT_STREQ(ExportFileName(ListRole::Sources), "file.lst");
    EXPECT_STREQ(ExportFileName(ListRole::Destinations), "dir.lst");
}

TEST(Commands, OnlyTheWholeFileSystemIsToldAbout) {
    EXPECT_STREQ(IntakeRefusalText(IntakeOutcome::RootRefused), kDriveRootRefused);
    for (const auto outcome :
         {std::optional<IntakeOutcome>(), std::optional(IntakeOutcome::Added),
          std::optional(IntakeOutcome::AlreadyListed), std::optional(IntakeOutcome::Missing)})
        EXPECT_EQ(IntakeRefusalText(outcome), nullptr);

    EXPECT_TRUE(DestinationImportNotes({}).empty());
    EXPECT_EQ(DestinationImportNotes({false, 3}), std::vector<const char*>{kDriveRootRefused});
    EXPECT_EQ(DestinationImportNotes({true, 1}),
              (std::vector<const char*>{kDriveRootRefused, kSomeFoldersNotImported}));
    EXPECT_EQ(DestinationImportNotes({true, 0}), std::vector<const char*>{kSomeFoldersNotImported});
}

TEST(Commands, StoredPolicyNumbers) {
    EXPECT_EQ(PolicyFromStored(1), SameFilePolicy::Overwrite);
    EXPECT_EQ(PolicyFromStored(2), SameFilePolicy::Skip);
    EXPECT_EQ(PolicyFromStored(3), SameFilePolicy::Ask);
    EXPECT_EQ(PolicyFromStored(4), SameFilePolicy::AutoNumber);
    // Missing or unreadable (0), negative, or a later version's number.
    for (const int other : {0, -1, 5, 99})
        EXPECT_EQ(PolicyFromStored(other), SameFilePolicy::AutoNumber) << other;
    // Every policy stored comes back as itself.
    for (const SameFilePolicy policy : {SameFilePolicy::Overwrite, SameFilePolicy::Skip,
                                        SameFilePolicy::Ask, SameFilePolicy::AutoNumber})
        EXPECT_EQ(PolicyFromStored(static_cast<int>(policy)), policy);
}

TEST(Picker, OnlyAConfirmedExistingFolderIsAdded) {
    TempTree tree;
    tree.write("file.txt", "x");
    PathList destinations, scratch;
    PickedFolder cancelled = Pick(tree.root());
    cancelled.accepted = false;
    for (const PickedFolder& pick :
         {cancelled, Pick(""), Pick(tree.path("missing")), Pick(tree.path("file.txt"))}) {
        SCOPED_TRACE(pick.folder);
        EXPECT_FALSE(IsAddablePick(pick));
        EXPECT_EQ(PickRefusalText(pick), nullptr);  // ends silently
        EXPECT_FALSE(AddPickedFolder(pick, destinations, scratch));
    }
    EXPECT_EQ(destinations.count(), 0);
}

TEST(Picker, TheWholeFileSystemIsRefusedWithItsMessage) {
    TempTree tree;
    tree.mkdir("d");
#ifdef _WIN32
    const std::string root = tree.root().substr(0, 2) + "\\";
#else
    const std::string root = "/";
#endif
    PathList destinations, scratch;
    for (const std::string& folder : {root, tree.path("d/../../../../../../../../../../../..")}) {
        SCOPED_TRACE(folder);
        PickedFolder pick = Pick(folder);
        pick.allSubfolders = true;
        EXPECT_STREQ(PickRefusalText(pick), kDriveRootRefused);
        EXPECT_FALSE(IsAddablePick(pick));
        EXPECT_FALSE(AddPickedFolder(pick, destinations, scratch));
        pick.accepted = false;
        EXPECT_EQ(PickRefusalText(pick), nullptr);
    }
    EXPECT_EQ(destinations.count(), 0);
}

TEST(Picker, TheOptionsSayHowDeep) {
    TempTree tree;
    tree.mkdir("top/a/deep");
    tree.mkdir("top/b");
    const std::string top = tree.path("top");
    PathList destinations, scratch;
    scratch.append("left over");

    // Alone (with the separator), once however often it is picked.
    ASSERT_TRUE(AddPickedFolder(Pick(top), destinations, scratch));
    EXPECT_EQ(scratch.entries(), std::vector<std::string>{tree.path("top/")});
    ASSERT_TRUE(AddPickedFolder(Pick(top + "/"), destinations, scratch));
    EXPECT_EQ(destinations.entries(), std::vector<std::string>{tree.path("top/")});

    // One level below; a depth that is no number adds nothing and says why.
    PickedFolder depth = Pick(top);
    depth.limitedDepth = true;
    depth.depthText = "1x";
    EXPECT_THROW(AddPickedFolder(depth, destinations, scratch), EConvertError);
    EXPECT_EQ(destinations.count(), 1);
    depth.depthText = "1";
    int repaints = 0;
    ASSERT_TRUE(AddPickedFolder(depth, destinations, scratch, [&] { ++repaints; }));
    EXPECT_EQ(destinations.count(), 3);
    EXPECT_GE(repaints, 1);
    EXPECT_EQ(destinations.find(tree.path("top/a/deep/")), -1);

    // All subfolders win over the depth; a set stop ends the walk before it adds anything.
    PickedFolder all = depth;
    all.allSubfolders = true;
    const std::atomic<bool> stop{true};
    PathList stopped;
    ASSERT_TRUE(AddPickedFolder(all, stopped, scratch, {}, &stop));
    EXPECT_LE(stopped.count(), 1);
    ASSERT_TRUE(AddPickedFolder(all, destinations, scratch));
    EXPECT_EQ(destinations.count(), 4);
    EXPECT_NE(destinations.find(tree.path("top/a/deep/")), -1);
}
