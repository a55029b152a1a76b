#include "maintenance/drop_import.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include <string>
#include <vector>

#include "support/recording_host.h"
#include "support/temp_dir.h"

namespace bw {
namespace {

using Lines = std::vector<std::string>;

// An import file whose first line holds 4096 minus the file's length.
std::string authenticFile(const std::string& body) {
    for (std::size_t digits = 1; digits < 8; ++digits) {
        long number = 4096 - static_cast<long>(digits + 2 + body.size());
        std::string first = std::to_string(number);
        if (first.size() == digits)
            return first + "\r\n" + body;
    }
    return {};
}

class DropImportTest : public testing::Test {
protected:
    std::string place(const std::string& name, const std::string& bytes) {
        folder.write(name, bytes);
        return folder.file(name).string();
    }

    test::TempDir folder;
    test::RecordingHost host;
    Lines added;
    DropImport import{host, [this](std::string_view line) { added.emplace_back(line); }};
};

TEST_F(DropImportTest, ImportsEveryFieldAfterTheLengthField) {
    std::string bytes = "4060\r\na:1.1.1.1-1.1.1.9\r\nb:2.2.2.2\r\n";
    ASSERT_EQ(bytes.size(), 36u);
    import.filesDropped({place("list.p2p", bytes)});
    EXPECT_EQ(added, (Lines{"a:1.1.1.1-1.1.1.9", "b:2.2.2.2"}));
    EXPECT_TRUE(host.messages.empty());
    EXPECT_FALSE(import.running());
}

TEST_F(DropImportTest, ChecksTheNameEndingInAnyCase) {
    const std::string bytes = authenticFile("a:1.2.3.4\r\n");
    struct Case {
        const char* name;
        bool accepted;
    } cases[] = {
        {"list.p2p", true},      {"LIST.P2P", true}, {"list.P2p", true}, {".p2p", true},
        {"list.p2p.txt", false}, {"listp2p", false}, {"list.p2", false}, {"p2p", false},
    };
    for (const Case& c : cases) {
        added.clear();
        host.messages.clear();
        import.filesDropped({place(c.name, bytes)});
        if (c.accepted) {
            EXPECT_EQ(added, Lines{"a:1.2.3.4"}) << c.name;
            EXPECT_TRUE(host.messages.empty()) << c.name;
        } else {
            EXPECT_TRUE(added.empty()) << c.name;
            ASSERT_EQ(host.messages.size(), 1u) << c.name;
            EXPECT_EQ(host.messages[0].text, "Unrecognized file.");
            EXPECT_EQ(host.messages[0].icon, MessageIcon::Information);
            EXPECT_EQ(host.messages[0].shownTitle(), "Bastionwatch");
        }
    }
}

TEST_F(DropImportTest, ChecksTheLengthField) {
    const std::string body = "a:1.2.3.4\r\n";
    const std::string good = authenticFile(body);
    const std::string number = good.substr(0, good.find('\r'));
    const long value = std::stol(number);
    struct Case {
        std::string bytes;
        bool accepted;
    } cases[] = {
        {good, true},
        {std::to_string(value + 1) + "\r\n" + body, false},
        {std::to_string(value - 1) + "\r\n" + body, false},
        {" " + number + "\r\n" + body, false},  // the blank counts toward the length
        // Blanks inside the number are ignored: "4 078" is 4078, the 18-byte file's value.
        {"4 078\r\n" + body, true},
        {"", false},
    };
    for (const Case& c : cases) {
        added.clear();
        host.messages.clear();
        import.filesDropped({place("list.p2p", c.bytes)});
        SCOPED_TRACE(testing::PrintToString(c.bytes));
        if (c.accepted) {
            EXPECT_EQ(added, Lines{"a:1.2.3.4"});
            EXPECT_TRUE(host.messages.empty());
        } else {
            EXPECT_TRUE(added.empty());
            ASSERT_EQ(host.messages.size(), 1u);
            EXPECT_EQ(host.messages[0].text, "File could not be authenticated.");
            EXPECT_EQ(host.messages[0].icon, MessageIcon::Exclamation);
            EXPECT_EQ(host.messages[0].shownTitle(), "Bastionwatch");
        }
    }
}

TEST_F(DropImportTest, AFileOf4096BytesWithoutDigitsPasses) {
    std::string line = ":1.2.3.4\r\n";
    std::string head = "none\r\n";
    std::string name(4096 - head.size() - line.size(), 'n');
    std::string bytes = head + name + line;
    ASSERT_EQ(bytes.size(), 4096u);
    import.filesDropped({place("exact.p2p", bytes)});
    EXPECT_EQ(added, Lines{name + ":1.2.3.4"});
    EXPECT_TRUE(host.messages.empty());

    // One byte shorter: 0 is no longer 4096 minus the length.
    added.clear();
    import.filesDropped({place("short.p2p", bytes.substr(1))});
    EXPECT_TRUE(added.empty());
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, "File could not be authenticated.");
}

TEST_F(DropImportTest, AFileLongerThan4096BytesNeedsANegativeNumber) {
    std::string head = "-904\r\n";
    std::string line = ":1.2.3.4\r\n";
    std::string name(5000 - head.size() - line.size(), 'n');
    import.filesDropped({place("long.p2p", head + name + line)});
    EXPECT_EQ(added, Lines{name + ":1.2.3.4"});
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(DropImportTest, AQuotedNameKeepsItsComma) {
    import.filesDropped(
        {place("list.p2p", authenticFile("\"Net, Inc:1.2.3.4\"\r\nNet, Inc:5.6.7.8\r\n"))});
    EXPECT_EQ(added, (Lines{"Net, Inc:1.2.3.4", "Net", "Inc:5.6.7.8"}));
}

TEST_F(DropImportTest, OnlyTheFirstOfSeveralFilesIsImported) {
    std::string first = place("first.p2p", authenticFile("a:1.1.1.1\r\n"));
    std::string second = place("second.p2p", authenticFile("b:2.2.2.2\r\n"));
    import.filesDropped({first, second});
    EXPECT_EQ(added, Lines{"a:1.1.1.1"});
}

TEST_F(DropImportTest, ADropWithoutFilesOrEntriesDoesNothing) {
    import.filesDropped({});
    import.filesDropped({place("only.p2p", authenticFile(""))});
    EXPECT_TRUE(added.empty());
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(DropImportTest, AFileThatCannotBeReadIsNotAuthenticated) {
    import.filesDropped({folder.file("missing.p2p").string()});
    EXPECT_TRUE(added.empty());
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, "File could not be authenticated.");
}

TEST(DropImport, ASecondDropDuringAnImportIsRefused) {
    test::TempDir folder;
    test::RecordingHost host;
    folder.write("first.p2p", authenticFile("a:1.1.1.1\r\nb:2.2.2.2\r\n"));
    folder.write("second.p2p", authenticFile("x:9.9.9.9\r\n"));
    Lines added;
    bool nested = true;
    DropImport* self = nullptr;
    DropImport import(host, [&](std::string_view line) {
        added.emplace_back(line);
        // The entry yields to the event loop, where the next drop arrives.
        if (nested)
            self->filesDropped({folder.file("second.p2p").string()});
    });
    self = &import;

    import.filesDropped({folder.file("first.p2p").string()});
    EXPECT_EQ(added, (Lines{"a:1.1.1.1", "b:2.2.2.2"}));
    EXPECT_TRUE(host.messages.empty());

    // Once the import has ended, the next drop is taken again.
    nested = false;
    added.clear();
    import.filesDropped({folder.file("second.p2p").string()});
    EXPECT_EQ(added, Lines{"x:9.9.9.9"});
}

// Only a regular file of a size the import can take is read: a pipe would
// stall the window and the guard, a huge file would exhaust the memory.
TEST_F(DropImportTest, RefusesPipesAndHugeFilesWithoutReadingThem) {
    ASSERT_EQ(::mkfifo(folder.file("x.p2p").c_str(), 0600), 0);
    std::filesystem::create_directory(folder.file("dir.p2p"));
    folder.write("big.p2p", "");
    std::filesystem::resize_file(folder.file("big.p2p"), 1'200'000'000);  // sparse
    struct Case {
        const char* name;
        const char* said;
    } cases[] = {
        {"x.p2p", "is not a regular file"},
        {"dir.p2p", "is not a regular file"},
        {"big.p2p", "is 1200000000 bytes long, more than the 134217728 bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        host.messages.clear();
        import.filesDropped({folder.file(c.name).string()});
        ASSERT_EQ(host.messages.size(), 1u);
        EXPECT_NE(host.messages[0].text.find(c.said), std::string::npos) << host.messages[0].text;
        EXPECT_TRUE(added.empty());
    }
}

}  // namespace
}  // namespace bw
