#include "platform/program_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "support/owner_access_only.h"
#include "support/temp_dir.h"

namespace bw {
namespace {

TEST(ProgramFolder, WritableExecutableFolderIsUsed) {
    test::TempDir dir;
    EXPECT_EQ(chooseProgramFolder(dir.path(), "/nowhere", "/nowhere"), dir.path());
}

TEST(ProgramFolder, UnwritableExecutableFolderFallsBackToXdgDataHome) {
    // A folder that cannot be written, even by root: it does not exist.
    test::TempDir exe, data;
    EXPECT_EQ(chooseProgramFolder(exe.path() / "missing", data.path().c_str(), "/nowhere"),
              data.path() / "bastionwatch");
    EXPECT_TRUE(std::filesystem::is_directory(data.path() / "bastionwatch"));
}

// An installed copy whose folder the user cannot write: the list and settings
// beside it are carried into the new folder, not hidden behind empty ones.
TEST(ProgramFolder, TheSwitchCarriesTheUsersFilesOver) {
    test::TempDir exe, data;
    exe.write("Moatlist.P2P", "mine:1.2.3.4\r\n");
    exe.write("BW2Config.p2p", "1\r\n50\r\n\r\n");
    exe.write("bastionwatch", "program");
    std::filesystem::create_directories(data.path() / "bastionwatch");
    data.write("bastionwatch/bw2config.P2P", "0\r\n90%\r\n\r\n");  // its own: kept
    std::filesystem::permissions(
        exe.path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    std::filesystem::path chosen;
    {
        test::OwnerAccessOnly asAnOrdinaryUser;
        chosen = chooseProgramFolder(exe.path(), data.path().c_str(), "/nowhere");
    }
    std::filesystem::permissions(exe.path(), std::filesystem::perms::owner_all);
    ASSERT_EQ(chosen, data.path() / "bastionwatch");
    EXPECT_EQ(data.read("bastionwatch/Moatlist.P2P"), "mine:1.2.3.4\r\n");
    EXPECT_EQ(data.read("bastionwatch/bw2config.P2P"), "0\r\n90%\r\n\r\n");
    EXPECT_FALSE(std::filesystem::exists(data.path() / "bastionwatch" / "BW2Config.p2p"));
    EXPECT_FALSE(std::filesystem::exists(data.path() / "bastionwatch" / "bastionwatch"));
}

// A command that only reads finds the folder the guard uses without making it.
TEST(ProgramFolder, TheFolderAsItIsIsTheGuardsAndIsNotMade) {
    test::TempDir home;
    const std::filesystem::path folder = home.path() / "not yet";
    ::setenv("BASTIONWATCH_HOME", folder.c_str(), 1);
    EXPECT_EQ(programFolderAsItIs(), folder);
    EXPECT_FALSE(std::filesystem::exists(folder));
    EXPECT_EQ(programFolder(), folder);
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    ::unsetenv("BASTIONWATCH_HOME");
}

}  // namespace
}  // namespace bw
