#include "platform/instance_channel.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <future>
#include <string>
#include <thread>

#include "support/temp_dir.h"

namespace bw {
namespace {

// The channel lives in this test's own runtime folder, never the user's.
class InstanceChannelTest : public testing::Test {
protected:
    InstanceChannelTest() { ::setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1); }
    ~InstanceChannelTest() override { ::unsetenv("XDG_RUNTIME_DIR"); }

    // Hands the request over from another thread while this one serves.
    HandOverResult handOverWhileServing(InstanceChannel& channel, const std::string& request) {
        auto handed = std::async(std::launch::async,
                                 [&] { return handOverToRunningCopy(program.path(), request); });
        while (handed.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready) {
            channel.serve([&](std::string_view text) {
                received.emplace_back(text);
                return "took " + std::to_string(text.size()) + " bytes";
            });
        }
        return handed.get();
    }

    test::TempDir runtime, program;
    std::vector<std::string> received;
};

TEST_F(InstanceChannelTest, OneCopyHoldsTheFolderUntilItEnds) {
    InstanceClaim first = claimProgramFolder(program.path());
    ASSERT_TRUE(first.channel) << first.error;
    InstanceClaim second = claimProgramFolder(program.path());
    EXPECT_FALSE(second.channel);
    EXPECT_TRUE(second.otherCopyRuns);

    test::TempDir otherFolder;
    EXPECT_TRUE(claimProgramFolder(otherFolder.path()).channel) << "one copy per folder";

    first.channel.reset();
    EXPECT_TRUE(claimProgramFolder(program.path()).channel);
}

TEST_F(InstanceChannelTest, TheSocketIsTheOwnersAlone) {
    InstanceClaim claim = claimProgramFolder(program.path());
    ASSERT_TRUE(claim.channel) << claim.error;
    const std::filesystem::path folder = runtime.path() / "bastionwatch";
    struct stat info {};
    ASSERT_EQ(::stat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        ASSERT_EQ(::stat(entry.path().c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0077, 0u) << entry.path();
    }
}

TEST_F(InstanceChannelTest, ARequestOfBoundedLengthIsHandedOverAndAnswered) {
    InstanceClaim claim = claimProgramFolder(program.path());
    ASSERT_TRUE(claim.channel) << claim.error;
    const std::size_t limit = InstanceChannel::kMaxRequestBytes;
    struct Case {
        std::size_t length;
        bool accepted;
    } cases[] = {{20, true}, {limit, true}, {limit + 1, false}, {100 * 1024, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        received.clear();
        const std::string request = "bwdat://" + std::string(c.length - 8, 'x');
        HandOverResult handed = handOverWhileServing(*claim.channel, request);
        if (c.accepted) {
            ASSERT_TRUE(handed.delivered) << handed.error;
            EXPECT_EQ(received, std::vector<std::string>{request});
            EXPECT_EQ(handed.answer, "took " + std::to_string(c.length) + " bytes");
        } else {
            // Said to be too long, not that the running copy did not answer.
            EXPECT_TRUE(received.empty());
            EXPECT_FALSE(handed.delivered);
            EXPECT_TRUE(handed.tooLong);
            EXPECT_FALSE(handed.requestSent);
            EXPECT_NE(handed.error.find(std::to_string(c.length) + " bytes long"),
                      std::string::npos)
                << handed.error;
        }
    }
}

// The running copy had the whole request and ended before it answered: the
// sender must not be told that nothing was handed over.
TEST_F(InstanceChannelTest, AnAnswerThatBreaksOffSaysTheRequestWasSent) {
    InstanceClaim claim = claimProgramFolder(program.path());
    ASSERT_TRUE(claim.channel) << claim.error;
    auto handed = std::async(std::launch::async, [&] {
        return handOverToRunningCopy(program.path(), "bwdat://x@1.2.3.4");
    });
    while (handed.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready)
        claim.channel->serve([](std::string_view) { return std::string(); });
    HandOverResult result = handed.get();
    EXPECT_FALSE(result.delivered);
    EXPECT_TRUE(result.requestSent);
    EXPECT_FALSE(result.tooLong);
}

// A link start holds the folder without taking links: a second start waits
// for it to end and then holds the folder itself, instead of handing its link
// to a copy that never answers. A guard that holds it is handed links at once.
TEST_F(InstanceChannelTest, ALaterStartWaitsForALinkStartButNotForAGuard) {
    InstanceClaim linkStart = claimProgramFolder(program.path(), ClaimPurpose::OneLink);
    ASSERT_TRUE(linkStart.channel) << linkStart.error;
    auto second = std::async(std::launch::async, [&] {
        return claimProgramFolder(program.path(), ClaimPurpose::OneLink);
    });
    // It finds the folder held and waits, rather than handing its link to a copy that takes none.
    ASSERT_EQ(second.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
    linkStart.channel.reset();  // the link start ends
    InstanceClaim later = second.get();
    EXPECT_TRUE(later.channel) << later.error;
    EXPECT_FALSE(later.otherCopyRuns);
    later.channel.reset();

    // A link start that gives the folder up before it ends lets the next start through.
    InstanceClaim released = claimProgramFolder(program.path(), ClaimPurpose::OneLink);
    ASSERT_TRUE(released.channel) << released.error;
    released.channel->release();
    InstanceClaim next = claimProgramFolder(program.path(), ClaimPurpose::OneLink);
    EXPECT_TRUE(next.channel) << next.error;
    next.channel.reset();

    InstanceClaim guard = claimProgramFolder(program.path());
    ASSERT_TRUE(guard.channel) << guard.error;
    InstanceClaim linked = claimProgramFolder(program.path(), ClaimPurpose::OneLink);
    EXPECT_FALSE(linked.channel);
    EXPECT_TRUE(linked.otherCopyRuns);
    // The look at whether the guard listens is no request to it.
    guard.channel->serve([&](std::string_view text) {
        received.emplace_back(text);
        return std::string("answered");
    });
    EXPECT_TRUE(received.empty());
}

// One deadline for the whole request: a sender that trickles its bytes slowly
// enough for each read to arrive in time is still cut off, and the program's
// thread is free again while the sender still has bytes to send.
TEST_F(InstanceChannelTest, ASlowSenderIsCutOffAtOneDeadlineForTheWholeRequest) {
    InstanceClaim claim = claimProgramFolder(program.path());
    ASSERT_TRUE(claim.channel) << claim.error;
    std::filesystem::path socketFile;
    for (const auto& entry : std::filesystem::directory_iterator(runtime.path() / "bastionwatch")) {
        if (entry.path().extension() == ".sock")
            socketFile = entry.path();
    }
    ASSERT_FALSE(socketFile.empty());
    // Each byte comes well within the deadline of one read, but all of them
    // together take many deadlines.
    constexpr int kBytes = 60;
    constexpr auto kPause = std::chrono::milliseconds(InstanceChannel::kRequestWaitMs / 10);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketFile.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    std::atomic<int> sent{0};
    std::thread sender([&] {
        for (int i = 0; i < kBytes; ++i) {
            if (::send(fd, "x", 1, MSG_NOSIGNAL) != 1)
                return;  // the server gave up on us
            ++sent;
            std::this_thread::sleep_for(kPause);
        }
        ::shutdown(fd, SHUT_WR);
    });
    bool answered = false;
    claim.channel->serve([&](std::string_view) {
        answered = true;
        return std::string("took it");
    });
    const int sentWhenServed = sent;
    sender.join();
    ::close(fd);
    EXPECT_FALSE(answered);
    EXPECT_LT(sentWhenServed, kBytes) << "serve waited for the whole slow request";
}

TEST_F(InstanceChannelTest, WithNoRunningCopyTheHandOverFailsAndSaysWhy) {
    HandOverResult handed = handOverToRunningCopy(program.path(), "bwdat://x@1.2.3.4");
    EXPECT_FALSE(handed.delivered);
    EXPECT_FALSE(handed.error.empty());
}

// A look makes nothing and names only a copy that guards: a link start takes no links.
TEST_F(InstanceChannelTest, ALookFindsTheGuardOfTheFolderAndLeavesNoTrace) {
    EXPECT_FALSE(runningGuardOf(program.path()));
    EXPECT_TRUE(std::filesystem::is_empty(runtime.path()));

    InstanceClaim link = claimProgramFolder(program.path(), ClaimPurpose::OneLink);
    ASSERT_TRUE(link.channel) << link.error;
    EXPECT_FALSE(runningGuardOf(program.path()));
    link.channel.reset();

    InstanceClaim guard = claimProgramFolder(program.path());
    ASSERT_TRUE(guard.channel) << guard.error;
    std::optional<RunningGuard> found = runningGuardOf(program.path());
    ASSERT_TRUE(found);
    EXPECT_EQ(found->pid, ::getpid());
    EXPECT_EQ(found->program, "platform_tests");
    test::TempDir otherFolder;
    EXPECT_FALSE(runningGuardOf(otherFolder.path()));
    // The look asked nothing of the guard.
    guard.channel->serve([&](std::string_view text) {
        received.emplace_back(text);
        return std::string();
    });
    EXPECT_TRUE(received.empty());
    guard.channel.reset();
    EXPECT_FALSE(runningGuardOf(program.path()));
}

}  // namespace
}  // namespace bw
