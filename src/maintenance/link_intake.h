#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace bw {

// The payload of a bwdat:// link given on the command line: the text after the
// prefix (recognised in any letter case), with its own case kept. Any other
// argument gives an empty payload.
std::string linkPayload(std::string_view commandLineArgument);

// Whether the argument is a bwdat:// link, its payload empty or not.
bool isLink(std::string_view commandLineArgument);

// The payload's "/"-separated segments as blocklist lines (linkSegmentToLine),
// empty segments left out.
std::vector<std::string> linkLines(std::string_view payload);

// Browsers hand links over with bytes escaped as %XX (a blank as %20). An
// escape that is not two hex digits stays as it is.
std::string percentDecoded(std::string_view text);

// One "/"-separated segment of a payload as a blocklist line, its escapes
// decoded first: name@start:end becomes name:start-end, name@address becomes
// name:address.
std::string linkSegmentToLine(std::string_view segment);

}  // namespace bw
