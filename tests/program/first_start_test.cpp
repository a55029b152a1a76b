#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/program_fixture.h"

namespace bw {
namespace {

using test::ProgramFixture;

class FirstStart : public ::testing::Test, public ProgramFixture {};

TEST_F(FirstStart, NoBlocklistSaysWhereItLookedAndHowToGetOne) {
    struct Case {
        const char* what;
        bool createEmpty;
    } cases[] = {{"no file at all", false}, {"an empty file", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(dir.file("Moatlist.P2P"));
        if (c.createEmpty)
            dir.write("Moatlist.P2P", "");
        host.log.clear();

        program.STARTUPLOAD("");

        const std::string where = dir.file("Moatlist.P2P").string();
        EXPECT_NE(host.log.find("No blocklist at " + where + ": guarding with an empty list."),
                  std::string::npos)
            << host.log;
        EXPECT_NE(host.log.find("copy the example list " + exampleBlocklist().string()),
                  std::string::npos)
            << host.log;
        EXPECT_NE(host.log.find("update server's list (http://127.0.0.1:9/moatlist.p2p)"),
                  std::string::npos)
            << host.log;
        EXPECT_TRUE(program.state().timer.enabled);  // it guards all the same
    }
}

TEST_F(FirstStart, ABlocklistGivesNoAdvice) {
    dir.write("Moatlist.P2P", "a:10.0.0.0-10.0.0.255\r\n");
    program.load("");
    EXPECT_NE(host.log.find("Successfully loaded 256 IPs"), std::string::npos) << host.log;
    EXPECT_EQ(host.log.find("No blocklist"), std::string::npos) << host.log;
}

}  // namespace
}  // namespace bw
