#include "headless/list_options.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "maintenance/list_keeper.h"
#include "support/fake_clock.h"
#include "support/http_test_server.h"
#include "support/temp_dir.h"

namespace bw {
namespace {

using Kind = ListCommand::Kind;

struct ParseCase {
    std::vector<std::string> args;
    ListOptions expected;
};

std::string describe(const ListOptions& options) {
    if (std::holds_alternative<NotAListCommand>(options))
        return "not a list command";
    if (const auto* error = std::get_if<ListUsageError>(&options))
        return "usage error: " + error->reason;
    const ListCommand& c = std::get<ListCommand>(options);
    return "command " + std::to_string(static_cast<int>(c.kind)) + " " + c.name + " " + c.source +
           (c.allow ? " allow" : "") + " every " + std::to_string(c.everyHours);
}

TEST(ListOptionsTest, ParsesEachCommandAndRefusesMisuse) {
    const ParseCase cases[] = {
        {{}, NotAListCommand{}},
        {{"bwdat://x@1.2.3.4"}, NotAListCommand{}},
        {{"--add-list", "level1", "https://example.net/l1.gz"},
         ListCommand{Kind::Add, "level1", "https://example.net/l1.gz", false, 24}},
        {{"--add-list", "mine", "/etc/mine.txt", "--allow", "--every", "168"},
         ListCommand{Kind::Add, "mine", "/etc/mine.txt", true, 168}},
        {{"--every", "2", "--add-list", "a", "b"}, ListCommand{Kind::Add, "a", "b", false, 2}},
        {{"--remove-list", "a"}, ListCommand{Kind::Remove, "a", "", false, 24}},
        {{"--enable-list", "a"}, ListCommand{Kind::Enable, "a", "", false, 24}},
        {{"--disable-list", "a"}, ListCommand{Kind::Disable, "a", "", false, 24}},
        {{"--lists"}, ListCommand{Kind::Show, "", "", false, 24}},
        {{"--update-lists"}, ListCommand{Kind::Update, "", "", false, 24}},
        {{"--add-list", "a"}, ListUsageError{"usage: --add-list NAME SOURCE"}},
        {{"--remove-list"}, ListUsageError{"usage: --remove-list NAME"}},
        {{"--lists", "extra"}, ListUsageError{"usage: --lists"}},
        {{"--add-list", "a", "b", "--every", "0"},
         ListUsageError{"--every needs a whole number of hours, at least 1"}},
        {{"--add-list", "a", "b", "--every"}, ListUsageError{"--every needs a number of hours"}},
        {{"--remove-list", "a", "--allow"},
         ListUsageError{"--allow and --every go with --add-list"}},
        {{"--lists", "--update-lists"},
         ListUsageError{"one list command at a time: --lists and --update-lists"}},
    };
    for (const ParseCase& c : cases) {
        EXPECT_EQ(describe(parseListOptions(c.args)), describe(c.expected))
            << "arguments: " << ::testing::PrintToString(c.args);
    }
}

class ListCommandTest : public ::testing::Test {
protected:
    int run(const ListCommand& command) {
        out.str("");
        err.str("");
        ListKeeper keeper(*downloader, clock, dir.path());
        EXPECT_EQ(keeper.load(false), "");
        return runListCommand(command, keeper, out, err,
                              [] { std::this_thread::sleep_for(std::chrono::milliseconds(2)); });
    }
    ListCommand add(const std::string& name, const std::string& path) {
        return {Kind::Add, name, server.baseUrl() + path, false, 24};
    }

    test::TempDir dir;
    test::FakeClock clock;
    test::HttpTestServer server;
    std::unique_ptr<Downloader> downloader =
        makeCurlDownloader({std::chrono::seconds(5), std::chrono::seconds(20)});
    std::ostringstream out;
    std::ostringstream err;
};

TEST_F(ListCommandTest, CommandsChangeTheFileAndSayWhyWhenTheyCannot) {
    EXPECT_EQ(run(add("level1", "l1")), 0);
    EXPECT_EQ(err.str(), "");
    EXPECT_EQ(run(add("level1", "l1")), 1);
    EXPECT_EQ(err.str(), "bastionwatch-headless: there is already a list named level1\n");
    EXPECT_EQ(run({Kind::Disable, "level1", "", false, 24}), 0);
    EXPECT_EQ(run({Kind::Show, "", "", false, 24}), 0);
    EXPECT_EQ(out.str(),
              "level1: block, off, 0 ranges, 0 lines skipped (0 not understood, 0 IPv6), last "
              "update never, no error\n");
    EXPECT_EQ(run({Kind::Enable, "nothing", "", false, 24}), 1);
    EXPECT_EQ(err.str(), "bastionwatch-headless: there is no list named nothing\n");
    EXPECT_EQ(run({Kind::Remove, "level1", "", false, 24}), 0);
    EXPECT_EQ(run({Kind::Show, "", "", false, 24}), 0);
    EXPECT_EQ(out.str(), "");
}

TEST_F(ListCommandTest, UpdateListsFailsWhenAnyListFails) {
    server.route("/good",
                 test::HttpReply::ok("Bad Net:203.0.113.0-203.0.113.255\nipv6:[::1]-[::2]\n"));
    server.route("/html", test::HttpReply::ok("<!DOCTYPE html><p>moved</p>"));
    ASSERT_EQ(run(add("good", "good")), 0);
    EXPECT_EQ(run({Kind::Update, "", "", false, 24}), 0);
    EXPECT_EQ(out.str(),
              "List good: 1 ranges (P2P), 0 lines not understood, 1 IPv6 lines skipped.\n");
    EXPECT_EQ(err.str(), "");

    ASSERT_EQ(run(add("html", "html")), 0);
    EXPECT_EQ(run({Kind::Update, "", "", false, 24}), 1);
    EXPECT_EQ(err.str(),
              "bastionwatch-headless: the list html was not updated: refused: the download is a "
              "web page, not a list\n");
    EXPECT_EQ(run({Kind::Show, "", "", false, 24}), 0);
    EXPECT_EQ(out.str(),
              "good: block, on, 1 ranges, 1 lines skipped (0 not understood, 1 IPv6), last update "
              "2026-12-05 21:41 UTC, no error\n"
              "html: block, on, 0 ranges, 0 lines skipped (0 not understood, 0 IPv6), last update "
              "never, last error: refused: the download is a web page, not a list\n");
}

}  // namespace
}  // namespace bw
