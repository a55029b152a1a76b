#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>

#include "platform/downloader.h"
#include "support/http_test_server.h"
#include "support/https_test_server.h"
#include "support/temp_dir.h"

namespace bw {
namespace {

// Polls as a progress box would; the downloader's own time limits end every download.
DownloadResult waitFor(Download& download) {
    while (!download.finished()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return download.result();
}

class CurlDownloaderTest : public testing::Test {
protected:
    DownloadResult fetch(const std::string& path) {
        auto download = downloader->start({.url = server.baseUrl() + path, .target = target});
        return waitFor(*download);
    }

    test::TempDir folder;
    test::HttpTestServer server;
    std::filesystem::path target = folder.file("out.bin");
    std::unique_ptr<Downloader> downloader =
        makeCurlDownloader({std::chrono::seconds(5), std::chrono::seconds(20)});
};

TEST_F(CurlDownloaderTest, WritesTheWholeBodyToTheTarget) {
    std::string body(300'000, '\0');
    for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 7);
    server.route("/big.p2p", test::HttpReply::ok(body));
    folder.write("out.bin", "an older, longer content that must not survive");

    DownloadResult result = fetch("big.p2p");

    EXPECT_TRUE(result.ok) << result.error;
    EXPECT_EQ(folder.read("out.bin"), body);
}

// The server's address is a lifeline: named whether the download worked or not.
TEST_F(CurlDownloaderTest, NamesTheAddressItReached) {
    server.route("/list.p2p", test::HttpReply::ok("Net:192.0.2.0-192.0.2.255\n"));
    EXPECT_EQ(fetch("list.p2p").serverAddress, "127.0.0.1");
    EXPECT_EQ(fetch("missing").serverAddress, "127.0.0.1");
}

TEST_F(CurlDownloaderTest, ABodyPastItsLimitStopsTheDownload) {
    server.route("/list", test::HttpReply::ok(std::string(1000, 'x')));
    struct Case {
        std::uint64_t limit;
        bool ok;
    } cases[] = {{1000, true}, {999, false}, {10, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.limit);
        auto download = downloader->start(
            {.url = server.baseUrl() + "list", .target = target, .maxBytes = c.limit});
        DownloadResult result = waitFor(*download);
        EXPECT_EQ(result.ok, c.ok) << result.error;
        EXPECT_EQ(result.tooLarge, !c.ok);
        if (!c.ok) {
            EXPECT_NE(result.error.find("larger than"), std::string::npos) << result.error;
        }
    }
}

TEST_F(CurlDownloaderTest, AnEmptyBodyIsASuccess) {
    server.route("/empty", test::HttpReply::ok(""));
    DownloadResult result = fetch("empty");
    EXPECT_TRUE(result.ok) << result.error;
    EXPECT_TRUE(std::filesystem::exists(target));
    EXPECT_EQ(folder.read("out.bin"), "");
}

TEST_F(CurlDownloaderTest, FollowsRedirects) {
    server.route("/moved", test::HttpReply::redirect(301, "/here"));
    server.route("/here", test::HttpReply::ok("arrived"));
    DownloadResult result = fetch("moved");
    EXPECT_TRUE(result.ok) << result.error;
    EXPECT_EQ(folder.read("out.bin"), "arrived");
}

TEST_F(CurlDownloaderTest, FailuresAreReportedWithAReason) {
    struct Case {
        const char* what;
        test::HttpReply reply;
    } cases[] = {
        {"status 404", test::HttpReply::withStatus(404, "not here")},
        {"status 500", test::HttpReply::withStatus(500, "broken")},
        {"body cut short", test::HttpReply::cutShort("half of it", 20)},
        {"body one byte short", test::HttpReply::cutShort("0123456789", 11)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        server.route("/file", c.reply);
        DownloadResult result = fetch("file");
        EXPECT_FALSE(result.ok);
        EXPECT_FALSE(result.error.empty());
    }
}

TEST_F(CurlDownloaderTest, AHungServerRunsIntoTheTimeLimit) {
    server.route("/hang", test::HttpReply::hanging());
    auto quick = makeCurlDownloader({std::chrono::seconds(5), std::chrono::milliseconds(300)});
    auto download = quick->start({.url = server.baseUrl() + "hang", .target = target});
    DownloadResult result = waitFor(*download);
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.error.empty());
}

TEST_F(CurlDownloaderTest, DroppingARunningDownloadCancelsIt) {
    server.route("/hang", test::HttpReply::hanging());
    server.route("/next", test::HttpReply::ok("next"));
    auto download = downloader->start({.url = server.baseUrl() + "hang", .target = target});
    while (server.requests().empty()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    // Returns once the worker has given up and closed its connection, which
    // frees the one-at-a-time server for the next request.
    download.reset();
    DownloadResult next = fetch("next");
    EXPECT_TRUE(next.ok) << next.error;
    EXPECT_EQ(folder.read("out.bin"), "next");
}

TEST_F(CurlDownloaderTest, OnlyWebAddressesAreFetched) {
    folder.write("secret.txt", "local");
    auto download = downloader->start(
        {.url = "file://" + folder.file("secret.txt").string(), .target = target});
    DownloadResult result = waitFor(*download);
    EXPECT_FALSE(result.ok);
    EXPECT_NE(folder.read("out.bin"), "local");
}

TEST_F(CurlDownloaderTest, ARedirectToALocalFileIsRefusedAndSaysWhy) {
    folder.write("secret.txt", "local");
    const std::string local = "file://" + folder.file("secret.txt").string();
    server.route("/moved", test::HttpReply::redirect(302, local));
    DownloadResult result = fetch("moved");
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, "the list's server sent it on to " + local +
                                ", where it may not go: only http:// and https:// addresses are "
                                "followed");
    EXPECT_NE(folder.read("out.bin"), "local");
}

// An https list must not lose its encryption on the way: from an https address
// only https redirects are followed.
TEST_F(CurlDownloaderTest, AnHttpsSourceFollowsHttpsRedirectsOnly) {
    auto redirectTo = [](const std::string& location) {
        return "HTTP/1.1 302 Found\r\nLocation: " + location +
               "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    };
    server.route("/plain", test::HttpReply::ok("a:1.2.3.4\n"));
    const std::string plain = server.baseUrl() + "plain";
    test::HttpsTestServer listing(
        "HTTP/1.1 200 OK\r\nContent-Length: 10\r\nConnection: close\r\n\r\nb:5.6.7.8\n");
    test::HttpsTestServer toTls(redirectTo(listing.baseUrl()));
    test::HttpsTestServer toPlain(redirectTo(plain));
    std::string authorities;
    for (const auto* s : {&listing, &toTls, &toPlain}) {
        std::ifstream in(s->certificate());
        authorities += std::string(std::istreambuf_iterator<char>(in), {});
    }
    folder.write("authorities.pem", authorities);
    auto trusting = makeCurlDownloader({std::chrono::seconds(5), std::chrono::seconds(20)},
                                       folder.file("authorities.pem"));

    DownloadResult followed = waitFor(*trusting->start({.url = toTls.baseUrl(), .target = target}));
    EXPECT_TRUE(followed.ok) << followed.error;
    EXPECT_EQ(folder.read("out.bin"), "b:5.6.7.8\n");

    DownloadResult refused =
        waitFor(*trusting->start({.url = toPlain.baseUrl(), .target = target}));
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.error, "the list's server sent it on to " + plain +
                                 ", where it may not go: from an https:// address only https:// "
                                 "addresses are followed, so that the list stays encrypted");
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(CurlDownloaderTest, AnUnwritableTargetFails) {
    server.route("/file", test::HttpReply::ok("content"));
    auto download = downloader->start(
        {.url = server.baseUrl() + "file", .target = folder.file("no/such/dir/out")});
    DownloadResult result = waitFor(*download);
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find("no/such/dir/out"), std::string::npos) << result.error;
}

TEST_F(CurlDownloaderTest, AnUnreachableServerFails) {
    std::string deadBase;
    {
        test::HttpTestServer gone;
        deadBase = gone.baseUrl();
    }
    auto download = downloader->start({.url = deadBase + "file", .target = target});
    DownloadResult result = waitFor(*download);
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.error.empty());
}

}  // namespace
}  // namespace bw

namespace bw {
namespace {

class ConditionalDownloadTest : public CurlDownloaderTest {
protected:
    DownloadResult fetchIf(const std::string& etag, const std::string& modified,
                           std::uint64_t maxBytes = Downloader::kNoSizeLimit) {
        auto download = downloader->start({.url = server.baseUrl() + "list",
                                           .target = target,
                                           .ifNoneMatch = etag,
                                           .ifModifiedSince = modified,
                                           .maxBytes = maxBytes});
        return waitFor(*download);
    }
};

TEST_F(ConditionalDownloadTest, ValidatorsComeBackAndAMatchGives304) {
    test::HttpReply reply = test::HttpReply::ok("a:1.2.3.4\n");
    reply.etag = "\"v1\"";
    reply.lastModified = "Wed, 09 Dec 2026 10:00:00 GMT";
    server.route("/list", reply);

    DownloadResult first = fetchIf("", "");
    ASSERT_TRUE(first.ok) << first.error;
    EXPECT_FALSE(first.notModified);
    EXPECT_EQ(first.etag, "\"v1\"");
    EXPECT_EQ(first.lastModified, "Wed, 09 Dec 2026 10:00:00 GMT");

    DownloadResult byTag = fetchIf(first.etag, "");
    EXPECT_TRUE(byTag.ok) << byTag.error;
    EXPECT_TRUE(byTag.notModified);
    DownloadResult byDate = fetchIf("", first.lastModified);
    EXPECT_TRUE(byDate.notModified);
    DownloadResult changed = fetchIf("\"v0\"", "");
    EXPECT_FALSE(changed.notModified);
    EXPECT_EQ(folder.read("out.bin"), "a:1.2.3.4\n");
    EXPECT_NE(server.requestHeads().back().find("If-None-Match: \"v0\"\r\n"), std::string::npos);
}

TEST_F(ConditionalDownloadTest, ABodyOverTheLimitFails) {
    server.route("/list", test::HttpReply::ok(std::string(1000, 'x')));
    EXPECT_TRUE(fetchIf("", "", 1000).ok);
    DownloadResult over = fetchIf("", "", 999);
    EXPECT_FALSE(over.ok);
    EXPECT_EQ(over.error, "the file is larger than 999 bytes");
}

}  // namespace
}  // namespace bw
