#include "platform/instance_channel.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <future>
#include <string>

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
    } cases[] = {{20, true}, {limit, true}, {limit + 1, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        received.clear();
        const std::string request = "bwdat://" + std::string(c.length - 8, 'x');
        HandOverResult handed = handOverWhileServing(*claim.channel, request);
        ASSERT_TRUE(handed.delivered) << handed.error;
        if (c.accepted) {
            EXPECT_EQ(received, std::vector<std::string>{request});
            EXPECT_EQ(handed.answer, "took " + std::to_string(c.length) + " bytes");
        } else {
            EXPECT_TRUE(received.empty());
            EXPECT_EQ(handed.answer.rfind("Refused", 0), 0u) << handed.answer;
        }
    }
}

TEST_F(InstanceChannelTest, WithNoRunningCopyTheHandOverFailsAndSaysWhy) {
    HandOverResult handed = handOverToRunningCopy(program.path(), "bwdat://x@1.2.3.4");
    EXPECT_FALSE(handed.delivered);
    EXPECT_FALSE(handed.error.empty());
}

}  // namespace
}  // namespace bw
