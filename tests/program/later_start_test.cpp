#include "program/later_start.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <string>

#include "platform/instance_channel.h"
#include "support/temp_dir.h"

namespace bw {
namespace {

std::string contentsOf(std::FILE* file) {
    std::rewind(file);
    std::string text;
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, file)) text.append(buffer, n);
    std::fclose(file);
    return text;
}

// A later start hands its link to a running copy that answers as told, and
// says what came of it.
class LaterStart : public testing::Test {
protected:
    LaterStart() { ::setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1); }
    ~LaterStart() override { ::unsetenv("XDG_RUNTIME_DIR"); }

    int defer(const std::string& argument, const std::string& answer, bool window = false) {
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        InstanceClaim running = claimProgramFolder(folder.path());
        auto status = std::async(std::launch::async, [&] {
            return deferToRunningCopy(folder.path(), argument, window, out, err);
        });
        while (status.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready)
            running.channel->serve([&](std::string_view) { return answer; });
        const int result = status.get();
        said = contentsOf(out) + contentsOf(err);
        return result;
    }

    test::TempDir runtime, folder;
    std::string said;
};

TEST_F(LaterStart, SaysWhatBecameOfTheLinkAndFailsWhenItAddedNothing) {
    const auto answer = [](int status, const char* text) {
        return encodeLaterStartAnswer({status, text});
    };
    struct Case {
        std::string link;
        std::string answer;  // the running copy's; empty: it ended before it answered
        int status;
        const char* shown;
    } cases[] = {
        {"bwdat://x@1.2.3.4", answer(0, "Added range(s) to blocklist."), 0, "Added range(s)"},
        {"bwdat://x@127.0.0.1",
         answer(1, "Nothing was added to the blocklist.\r\n\r\nx:127.0.0.1: localhost"), 1,
         "Nothing was added"},
        {"bwdat://",
         answer(1, "Refused: the running copy of Bastionwatch takes only a bwdat:// link"), 1,
         "Refused"},
        // The status decides, not the words: a failure worded in a way not met before fails.
        {"bwdat://x@1.2.3.4", answer(1, "The disk caught fire."), 1, "The disk caught fire."},
        {"bwdat://x@1.2.3.4", answer(0, "Added range(s) to the running guard, but"), 0,
         "Added range(s) to the running guard"},
        // An answer without a status, as the channel itself refuses a request, is a failure.
        {"bwdat://x@1.2.3.4", "Refused: the request is longer", 1, "Refused: the request"},
        {"bwdat://x@1.2.3.4", "", 1, "The entries may or may not have been added"},
        {"bwdat://" + std::string(InstanceChannel::kMaxRequestBytes, 'x'), "never asked", 1,
         "the link is too long to hand over: 16392 bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        EXPECT_EQ(defer(c.link, c.answer), c.status) << said;
        EXPECT_NE(said.find(c.shown), std::string::npos) << said;
        if (c.answer.empty()) {
            EXPECT_EQ(said.find("Nothing was handed over"), std::string::npos) << said;
        }
        EXPECT_EQ(said.find("did not answer"), std::string::npos) << said;
        EXPECT_FALSE(said.starts_with("0\n") || said.starts_with("1\n"))
            << "status shown: " << said;
    }
}

// The window started without a link asks the running copy to show itself;
// what it says when no answer comes speaks of the window, not of a link.
TEST_F(LaterStart, AWindowStartSaysWhatBecameOfItsRequestToShowTheWindow) {
    struct Case {
        std::string answer;
        int status;
        const char* shown;
    } cases[] = {
        {encodeLaterStartAnswer({0, "its window was brought to the front."}), 0,
         "its window was brought to the front."},
        {"", 1, "was asked to show its window, but gave no answer"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        EXPECT_EQ(defer("", c.answer, true), c.status) << said;
        EXPECT_NE(said.find(c.shown), std::string::npos) << said;
        EXPECT_EQ(said.find("link"), std::string::npos) << said;
        EXPECT_EQ(said.find("entries"), std::string::npos) << said;
    }
}

}  // namespace
}  // namespace bw
