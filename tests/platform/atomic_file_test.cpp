#include "platform/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "support/temp_dir.h"

namespace bw {
namespace {

namespace fs = std::filesystem;

std::size_t entriesIn(const fs::path& folder) {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

TEST(WriteFileAtomically, CreatesAndReplacesTheFileWhole) {
    test::TempDir dir;
    ASSERT_TRUE(writeFileAtomically(dir.file("list.p2p"), "first\r\n"));
    EXPECT_EQ(dir.read("list.p2p"), "first\r\n");
    ASSERT_TRUE(writeFileAtomically(dir.file("list.p2p"), std::string("a\0\xFF\r\n", 5)));
    EXPECT_EQ(dir.read("list.p2p"), std::string("a\0\xFF\r\n", 5));
    EXPECT_EQ(entriesIn(dir.path()), 1u) << "no temporary file is left behind";
}

TEST(WriteFileAtomically, KeepsThePermissionsOfTheReplacedFile) {
    test::TempDir dir;
    dir.write("list.p2p", "old");
    ASSERT_EQ(::chmod(dir.file("list.p2p").c_str(), 0600), 0);
    ASSERT_TRUE(writeFileAtomically(dir.file("list.p2p"), "new"));
    struct stat st {};
    ASSERT_EQ(::stat(dir.file("list.p2p").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(WriteFileAtomically, FailureInAMissingFolderIsReported) {
    test::TempDir dir;
    WriteResult result = writeFileAtomically(dir.file("absent") / "list.p2p", "data");
    EXPECT_FALSE(result);
    EXPECT_FALSE(result.error.empty());
    EXPECT_FALSE(fs::exists(dir.file("absent")));
}

TEST(WriteFileAtomically, FailedReplaceLeavesTheOldContentWhole) {
    // A non-empty folder in the target's place makes the final rename fail
    // after the new bytes were written, even for root.
    test::TempDir dir;
    fs::create_directory(dir.file("list.p2p"));
    dir.write("list.p2p/old", "old content\r\n");
    WriteResult result = writeFileAtomically(dir.file("list.p2p"), "new content\r\n");
    EXPECT_FALSE(result);
    EXPECT_NE(result.error.find("list.p2p"), std::string::npos) << result.error;
    EXPECT_EQ(dir.read("list.p2p/old"), "old content\r\n");
    EXPECT_EQ(entriesIn(dir.path()), 1u) << "the temporary file is removed";
}

TEST(WriteFileAtomically, ALinkStaysALinkAndItsFileIsReplaced) {
    test::TempDir dir;
    fs::create_directories(dir.file("lists"));
    fs::create_directories(dir.file("app"));
    dir.write("lists/mine.p2p", "old\r\n");
    fs::create_symlink("../lists/mine.p2p", dir.file("app/Moatlist.P2P"));

    ASSERT_TRUE(writeFileAtomically(dir.file("app/Moatlist.P2P"), "new\r\n"));

    EXPECT_TRUE(fs::is_symlink(dir.file("app/Moatlist.P2P")));
    EXPECT_EQ(dir.read("lists/mine.p2p"), "new\r\n");
    EXPECT_EQ(entriesIn(dir.file("app")), 1u);
    EXPECT_EQ(entriesIn(dir.file("lists")), 1u);
}

// What a save killed between creating and renaming its temporary file leaves.
TEST(RemoveStaleTemporaryFiles, RemovesOnlyThisProgramsOwnTemporaryFiles) {
    test::TempDir dir;
    struct Case {
        const char* name;
        bool removed;
    } cases[] = {
        {".Moatlist.P2P.a1B2c3", true},   {".moatlist.p2p.XXXXXX", true},
        {"Moatlist.P2P", false},          {".Moatlist.P2P.a1B2c", false},
        {".Moatlist.P2P.a1B2c3d", false}, {".BW2Config.p2p.a1B2c3", false},
        {"xMoatlist.P2P.a1B2c3", false},
    };
    for (const Case& c : cases) dir.write(c.name, "x");
    removeStaleTemporaryFiles(dir.path(), "Moatlist.P2P");
    for (const Case& c : cases) EXPECT_EQ(fs::exists(dir.file(c.name)), !c.removed) << c.name;
}

}  // namespace
}  // namespace bw
