#include "platform/program_folder.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace bw
