#include "headless/console_options.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace bw {
namespace {

using Action = ConsoleOptions::Action;

TEST(ConsoleOptions, EachCommandLineHasItsActionStatusAndOutput) {
    struct Case {
        std::vector<std::string_view> arguments;
        Action action;
        int status;
        const char* link;       // what the guard is started with
        const char* outStarts;  // standard output begins with this ("" = empty)
        const char* errHas;     // standard error contains this ("" = empty)
    } cases[] = {
        {{}, Action::Guard, 0, "", "", ""},
        {{"bwdat://x@1.2.3.4:1.2.3.9/"}, Action::Guard, 0, "bwdat://x@1.2.3.4:1.2.3.9/", "", ""},
        {{"BWDAT://x@1.2.3.4"}, Action::Guard, 0, "BWDAT://x@1.2.3.4", "", ""},
        {{"--help"}, Action::ShowHelp, 0, "", "Usage: bastionwatch-headless [bwdat://LINK]", ""},
        {{"-h"}, Action::ShowHelp, 0, "", "Usage: bastionwatch-headless", ""},
        {{"--version"}, Action::ShowVersion, 0, "", "Bastionwatch v1.99", ""},
        {{"--frobnicate"},
         Action::UsageError,
         2,
         "",
         "",
         "bastionwatch-headless: unknown option '--frobnicate'\nUsage: bastionwatch-headless"},
        {{"-d"}, Action::UsageError, 2, "", "", "unknown option '-d'"},
        {{"start"},
         Action::UsageError,
         2,
         "",
         "",
         "unexpected argument 'start' (not a bwdat:// link)\nUsage:"},
        {{"http://x@1.2.3.4"}, Action::UsageError, 2, "", "", "not a bwdat:// link"},
        {{"BWDAT://"}, Action::UsageError, 2, "", "", "the link 'BWDAT://' holds no entries"},
        {{"bwdat:///"}, Action::Guard, 0, "bwdat:///", "", ""},  // adds nothing, and says so
        {{"--help", "--version"}, Action::UsageError, 2, "", "", "takes at most one argument"},
        {{"bwdat://a@1.1.1.1", "bwdat://b@2.2.2.2"},
         Action::UsageError,
         2,
         "",
         "",
         "takes at most one argument"},
    };
    for (const Case& c : cases) {
        std::string shown;
        for (std::string_view a : c.arguments) shown += std::string(a) + " ";
        SCOPED_TRACE(shown);
        ConsoleOptions options = parseConsoleOptions("bastionwatch-headless", c.arguments);
        EXPECT_EQ(options.action, c.action);
        EXPECT_EQ(options.status, c.status);
        EXPECT_EQ(options.link, c.link);
        if (*c.outStarts)
            EXPECT_EQ(options.out.rfind(c.outStarts, 0), 0u) << options.out;
        else
            EXPECT_EQ(options.out, "");
        if (*c.errHas)
            EXPECT_NE(options.err.find(c.errHas), std::string::npos) << options.err;
        else
            EXPECT_EQ(options.err, "");
    }
}

TEST(ConsoleOptions, TheUsageNamesEveryOptionAndSignal) {
    const std::string usage = consoleUsage("bw");
    for (const char* part :
         {"--help", "--version", "--details", "bwdat://", "BASTIONWATCH_HOME", "SIGHUP", "SIGTERM",
          "--add-list", "--allow", "--every", "--remove-list", "--enable-list", "--disable-list",
          "--lists", "--update-lists"}) {
        EXPECT_NE(usage.find(part), std::string::npos) << part;
    }
}

TEST(ConsoleOptions, TheProgramNameIsTheLastPartOfArgvZero) {
    char name[] = "/usr/bin/bastionwatch-headless";
    char bogus[] = "--bogus";
    char* argv[] = {name, bogus, nullptr};
    ConsoleOptions options = parseConsoleOptions(2, argv);
    EXPECT_EQ(options.err.rfind("bastionwatch-headless: unknown option '--bogus'", 0), 0u)
        << options.err;
}

TEST(ConsoleOptions, TheReportGoesToItsStreamAndGivesTheStatus) {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    ASSERT_TRUE(out && err);
    auto contents = [](std::FILE* file) {
        std::rewind(file);
        std::string text;
        for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
        return text;
    };
    const ConsoleOptions refused = parseConsoleOptions("bw", {"--nope"});
    EXPECT_EQ(reportWithoutGuarding(refused, out, err), 2);
    EXPECT_EQ(contents(out), "");
    EXPECT_EQ(contents(err), refused.err);
    std::fclose(out);
    std::fclose(err);
}

// --details only adds the details to a guard's rejections; the rest of the
// command line means what it meant without it.
TEST(ConsoleOptions, DetailsGoWithWhateverElseIsAsked) {
    struct Case {
        std::vector<std::string_view> arguments;
        Action action;
        bool details;
        const char* link;
    } cases[] = {
        {{}, Action::Guard, false, ""},
        {{"--details"}, Action::Guard, true, ""},
        {{"--details", "--details"}, Action::Guard, true, ""},
        {{"--details", "bwdat://x@1.2.3.4"}, Action::Guard, true, "bwdat://x@1.2.3.4"},
        {{"bwdat://x@1.2.3.4", "--details"}, Action::Guard, true, "bwdat://x@1.2.3.4"},
        {{"--details", "--help"}, Action::ShowHelp, true, ""},
        {{"--details", "--bogus"}, Action::UsageError, false, ""},
        {{"--detail"}, Action::UsageError, false, ""},
        {{"--details=yes"}, Action::UsageError, false, ""},
    };
    for (const Case& c : cases) {
        std::string shown;
        for (std::string_view a : c.arguments) shown += std::string(a) + " ";
        SCOPED_TRACE(shown);
        ConsoleOptions options = parseConsoleOptions("bastionwatch-headless", c.arguments);
        EXPECT_EQ(options.action, c.action);
        EXPECT_EQ(options.refusalDetails, c.details);
        EXPECT_EQ(options.link, c.link);
    }
}

}  // namespace
}  // namespace bw
