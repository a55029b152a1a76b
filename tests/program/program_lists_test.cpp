#include <gtest/gtest.h>

#include <filesystem>

#include "guard/net_stat.h"
#include "maintenance/list_keeper.h"
#include "support/program_fixture.h"

namespace bw {
namespace {

using test::connectionTo;
using test::ipField;

class ProgramListsTest : public ::testing::Test, public test::ProgramFixture {
protected:
    void subscribeLocal(const std::string& name, const std::string& text, const char* mode) {
        dir.write(name + ".txt", text);
        lists += std::string(lists.empty() ? "" : ",") + "{\"name\": \"" + name +
                 "\", \"source\": \"" + dir.file(name + ".txt").string() + "\", \"mode\": \"" +
                 mode + "\"}";
        dir.write("lists.json", "{\"lists\": [" + lists + "]}");
    }
    std::string lists = test::kPrivateNetworksOff;
};

TEST_F(ProgramListsTest, AnAllowListKeepsAnOwnListBanFromClosing) {
    dir.write("Moatlist.P2P", "Example Net:10.0.0.0-10.0.0.255\r\n");
    subscribeLocal("mine", "10.0.0.0/8\n", "allow");
    subscribeLocal("public", "Bad Net:203.0.113.0-203.0.113.255\n", "block");
    program.load("");

    tcp.rows = {connectionTo(ipField(10, 0, 0, 5), 1), connectionTo(ipField(203, 0, 113, 9), 2)};
    host.log.clear();
    program.RefreshNS();

    ASSERT_EQ(tcp.tornDown.size(), 1u);
    EXPECT_EQ(tcp.tornDown[0], tcp.rows[1]);
    EXPECT_EQ(host.log,
              "Connection Rejected: 203.0.113.9 - Bad Net [public] (12-05-2026 @ 21:41:15)\r\n");
    EXPECT_EQ(program.effectiveBannedRanges(),
              (std::vector<AddressSpan>{{0xCB007100u, 0xCB0071FFu}}));

    // Switched off, the allow list no longer protects the own list's range.
    ASSERT_EQ(program.lists().setEnabled("mine", false), "");
    program.guardTimerFired();
    EXPECT_EQ(program.effectiveBannedRanges(),
              (std::vector<AddressSpan>{{0x0A000000u, 0x0A0000FFu}, {0xCB007100u, 0xCB0071FFu}}));
}

TEST_F(ProgramListsTest, ANewInstallationAllowsItsPrivateNetworks) {
    std::filesystem::remove(dir.file("lists.json"));
    program.load("");
    ASSERT_EQ(program.lists().subscriptions().size(), 1u);
    EXPECT_EQ(program.lists().subscriptions()[0].name, "Private networks");
    program.addRange("Careless", "192.168.0.0", "192.168.255.255");
    EXPECT_TRUE(program.effectiveBannedRanges().empty());
}

}  // namespace
}  // namespace bw
