#include "maintenance/import_fields.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace bw {
namespace {

std::vector<std::string> allFields(std::string_view bytes) {
    ImportFields reader(bytes);
    std::vector<std::string> fields;
    std::string field;
    while (reader.next(field)) fields.push_back(field);
    return fields;
}

using Fields = std::vector<std::string>;

TEST(ImportFields, ReadsCommaSeparatedFields) {
    struct Case {
        std::string bytes;
        Fields fields;
    } cases[] = {
        {"4060\r\na:1.1.1.1-1.1.1.9\r\nb:2.2.2.2\r\n", {"4060", "a:1.1.1.1-1.1.1.9", "b:2.2.2.2"}},
        // Line ends: CR, LF and CR LF each end one line; a last line needs none.
        {"1\r2\n3\r\n4", {"1", "2", "3", "4"}},
        // An empty line gives an empty field; CR LF is one line end, not two.
        {"1\r\n\r\n2", {"1", "", "2"}},
        {"1\n\n2\r\r3", {"1", "", "2", "", "3"}},
        // A comma ends a field; a name holding a comma arrives as two fields.
        {"Net, Inc:1.2.3.4", {"Net", "Inc:1.2.3.4"}},
        // Quoted: runs to the next quote, commas and line ends included, quotes dropped.
        {"\"Net, Inc:1.2.3.4\"\r\nb:2.2.2.2", {"Net, Inc:1.2.3.4", "b:2.2.2.2"}},
        {"\"two\r\nlines\",x", {"two\r\nlines", "x"}},
        {"\"  kept  \"", {"  kept  "}},
        // Text after the closing quote up to the delimiter is dropped.
        {"\"a\"tail,b", {"a", "b"}},
        // An unterminated quote runs to the end.
        {"\"open, to the end", {"open, to the end"}},
        // Blanks before a field are skipped, trailing blanks of an unquoted field too.
        {"  \t a:1.2.3.4  \t\r\n   b:2.2.2.2", {"a:1.2.3.4", "b:2.2.2.2"}},
        {"   \r\nx", {"", "x"}},
        {"a,,b", {"a", "", "b"}},
        {"a,\r\nb", {"a", "", "b"}},
        {"a,", {"a"}},
        {"", {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(allFields(c.bytes), c.fields) << testing::PrintToString(c.bytes);
    }
}

TEST(ImportFields, KeepsBytesOutsideAscii) {
    std::string bytes = "M\xfcnchen Net:1.2.3.4\r\n";
    EXPECT_EQ(allFields(bytes), Fields{"M\xfcnchen Net:1.2.3.4"});
}

}  // namespace
}  // namespace bw
