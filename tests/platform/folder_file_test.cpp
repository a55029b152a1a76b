#include "platform/folder_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace bw {
namespace {

TEST(FileInFolder, MatchesTheNameWithoutRegardToCase) {
    struct Case {
        std::vector<std::string> present;
        std::string expected;
    } cases[] = {
        {{}, "Moatlist.P2P"},
        {{"Moatlist.P2P"}, "Moatlist.P2P"},
        {{"moatlist.p2p"}, "moatlist.p2p"},
        {{"MOATLIST.P2P", "other.p2p"}, "MOATLIST.P2P"},
        {{"moatlist.p2p", "Moatlist.P2P"}, "Moatlist.P2P"},  // the exact name wins
        {{"moatlist.p2p.txt"}, "Moatlist.P2P"},
    };
    for (const Case& c : cases) {
        test::TempDir dir;
        for (const std::string& name : c.present) dir.write(name, "x");
        EXPECT_EQ(fileInFolder(dir.path(), "Moatlist.P2P"), dir.file(c.expected))
            << c.present.size() << " files, expected " << c.expected;
    }
}

TEST(FileInFolder, AMissingFolderGivesTheExactName) {
    test::TempDir dir;
    EXPECT_EQ(fileInFolder(dir.path() / "missing", "BW2Config.p2p"),
              dir.path() / "missing" / "BW2Config.p2p");
}

}  // namespace
}  // namespace bw
