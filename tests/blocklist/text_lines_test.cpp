#include "blocklist/text_lines.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace bw {
namespace {

using Lines = std::vector<std::string_view>;

TEST(SplitLines, EndsLinesAtCrLfAndCrLf) {
    struct Case {
        std::string bytes;
        Lines lines;
    } cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\nb\n", {"a", "b"}},
        {"a\rb\r", {"a", "b"}},
        {"a\r\nb", {"a", "b"}},  // a last line without a line end counts
        {"a\n\rb", {"a", "", "b"}},
        {"\r\n\r\n", {"", ""}},
        {"a\r\r\nb", {"a", "", "b"}},
        {"\r", {""}},
        {std::string("x\0y\nz", 5), {std::string_view("x\0y", 3), "z"}},
        {"\xE9t\xE9\r\n\xFF", {"\xE9t\xE9", "\xFF"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(splitLines(c.bytes), c.lines) << testing::PrintToString(c.bytes);
}

TEST(ForEachLine, GivesViewsIntoTheBytes) {
    std::string bytes = "one\r\ntwo";
    std::vector<const char*> starts;
    forEachLine(bytes, [&](std::string_view line) { starts.push_back(line.data()); });
    EXPECT_EQ(starts, (std::vector<const char*>{bytes.data(), bytes.data() + 5}));
}

}  // namespace
}  // namespace bw
