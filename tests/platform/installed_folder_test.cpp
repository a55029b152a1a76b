#include <gtest/gtest.h>

#include "platform/program_folder.h"
#include "support/temp_dir.h"

namespace bw {
namespace {

namespace fs = std::filesystem;

TEST(InstalledFolder, TheFolderFollowsWhereTheProgramRunsAndWhatTheEnvironmentSays) {
    test::TempDir prefix, build;
    const fs::path bin = prefix.path() / "bin";
    fs::create_directories(bin);
    struct Case {
        const char* what;
        fs::path exeFolder;
        const char* bastionwatchHome;
        const char* xdgDataHome;
        fs::path expected;  // empty: the build-folder rule applies
    } cases[] = {
        {"installed, XDG_DATA_HOME set", bin, nullptr, "/data", "/data/bastionwatch"},
        {"installed, no XDG_DATA_HOME", bin, nullptr, nullptr,
         "/home/ann/.local/share/bastionwatch"},
        {"installed, a relative XDG_DATA_HOME is ignored", bin, "", "data",
         "/home/ann/.local/share/bastionwatch"},
        {"installed, BASTIONWATCH_HOME wins", bin, "/var/lib/bastionwatch", "/data",
         "/var/lib/bastionwatch"},
        {"build folder", build.path(), nullptr, "/data", ""},
        {"build folder, BASTIONWATCH_HOME wins", build.path(), "/srv/bw", "/data", "/srv/bw"},
        {"the same bin folder reached by another name", bin / ".." / "bin", nullptr, "/data",
         "/data/bastionwatch"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(
            placedProgramFolder(c.exeFolder, bin, c.bastionwatchHome, c.xdgDataHome, "/home/ann"),
            c.expected);
    }
}

TEST(InstalledFolder, ARelativeBastionwatchHomeIsTakenFromTheWorkingFolder) {
    EXPECT_EQ(placedProgramFolder("/x", "/usr/bin", "lists", nullptr, "/home/ann"),
              fs::current_path() / "lists");
}

TEST(InstalledFolder, ATestBuildIsNotAnInstalledProgram) {
    // These tests run from the build folder, never from the install prefix.
    EXPECT_NE(executableFolder(), installedBinFolder());
    EXPECT_EQ(exampleBlocklist().filename(), "Moatlist.P2P");
    EXPECT_TRUE(fs::is_regular_file(exampleBlocklist())) << exampleBlocklist();
}

}  // namespace
}  // namespace bw
