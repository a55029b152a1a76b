#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "maintenance/list_keeper.h"
#include "platform/downloader.h"
#include "program/program.h"
#include "support/http_test_server.h"
#include "support/network_namespace.h"
#include "support/program_fixture.h"

// The update check and the list updates are tested over a fake downloader; these
// take the real path once, end to end: the program, the curl downloader and an
// HTTP server in a private network, so that what the fakes stand for holds
// (redirects followed, validators sent, the server's address kept).

namespace bw {
namespace {

using test::Findings;

const std::string kOldList = "old:10.0.0.0-10.0.0.255\r\n";
const std::string kNewList = "new:1.2.3.4-1.2.3.9\r\nnew2:5.6.7.8\r\n";

// A Program over fakes but for its downloads, which go over HTTP.
struct ProgramOverHttp : test::FakeServices {
    explicit ProgramOverHttp(std::string updateServer)
        : program(host, ProgramServices{.tcpTable = tcp,
                                        .clock = clock,
                                        .downloader = *curl,
                                        .registry = registry,
                                        .launcher = launcher,
                                        .priority = priority,
                                        .folder = dir.path(),
                                        .executable = dir.path() / "bastionwatch",
                                        .updateServer = std::move(updateServer),
                                        .instanceChannel = &laterStarts}) {}

    void finishListUpdates() {
        while (program.lists().updating()) {
            program.guardTimerFired();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    bool isLifeline(std::uint32_t address, const std::string& what) const {
        const std::vector<Lifeline>& all = program.lifelines();
        return std::find(all.begin(), all.end(), Lifeline{IpAddress::fromV4(address), what}) !=
               all.end();
    }

    std::unique_ptr<Downloader> curl =
        makeCurlDownloader({std::chrono::seconds(5), std::chrono::seconds(20)});
    test::RecordingHost host;
    Program program;
};

constexpr std::uint32_t kLoopback = 0x7F000001u;

TEST(DownloadsOverHttp, TheUpdateCheckFollowsARedirectAndKeepsTheServerReachable) {
    BW_RUN_IN_PRIVATE_NETWORK(run, [](Findings& f) {
        test::HttpTestServer server;
        server.route("/lists/bwlistver.txt", test::HttpReply::ok("2\r\n"));
        server.route("/lists/moatlist.p2p", test::HttpReply::redirect(302, "/mirror/moatlist.p2p"));
        server.route("/mirror/moatlist.p2p", test::HttpReply::ok(kNewList));
        ProgramOverHttp p(server.baseUrl() + "lists/");
        p.dir.write("Moatlist.P2P", kOldList);
        p.program.load("");
        p.program.checkForUpdates();
        p.program.guardTimerFired();  // takes in the lifelines found meanwhile
        f.set("blocklist", p.dir.read("Moatlist.P2P"));
        f.set("version", p.program.state().lastUpdateVersion);
        f.set("lifeline", p.isLifeline(kLoopback, "update server") ? "yes" : "no");
    });
    EXPECT_EQ(run.findings["blocklist"], kNewList);
    EXPECT_EQ(run.findings["version"], "2");
    EXPECT_EQ(run.findings["lifeline"], "yes");
}

TEST(DownloadsOverHttp, AListUpdateSendsItsValidatorsAndKeepsItsCopyOnA304) {
    BW_RUN_IN_PRIVATE_NETWORK(run, [](Findings& f) {
        test::HttpTestServer server;
        test::HttpReply reply = test::HttpReply::ok("Bad Net:203.0.113.0-203.0.113.255\n");
        reply.etag = "\"v1\"";
        server.route("/level1.p2p", reply);
        ProgramOverHttp p("http://127.0.0.1:9/");
        p.dir.write("lists.json", std::string("{\"lists\": [") + test::kPrivateNetworksOff +
                                      ", {\"name\": \"web\", \"source\": \"" + server.baseUrl() +
                                      "level1.p2p\"}]}");
        p.program.load("");
        p.finishListUpdates();
        p.program.lists().updateNow("web");
        p.finishListUpdates();
        p.program.guardTimerFired();
        f.set("requests", static_cast<long long>(server.requests().size()));
        f.set("secondHead", server.requestHeads().back());
        f.set("log", p.host.log);
        const auto spans = p.program.effectiveBannedRanges();
        const bool banned = std::any_of(spans.begin(), spans.end(), [](const AddressSpan& s) {
            return s.first <= 0xCB007109u && 0xCB007109u <= s.last;
        });
        f.set("banned", banned ? "yes" : "no");
        f.set("lifeline", p.isLifeline(kLoopback, "server of the list web") ? "yes" : "no");
    });
    EXPECT_EQ(run.findings.number("requests"), 2);
    EXPECT_NE(run.findings["secondHead"].find("If-None-Match: \"v1\""), std::string::npos)
        << run.findings["secondHead"];
    EXPECT_NE(run.findings["log"].find("List web: unchanged since the last update.\r\n"),
              std::string::npos)
        << run.findings["log"];
    EXPECT_EQ(run.findings["banned"], "yes");
    EXPECT_EQ(run.findings["lifeline"], "yes");
}

}  // namespace
}  // namespace bw
