#pragma once

#include <string>
#include <string_view>

namespace bw {

// The payload of a bwdat:// link given on the command line: the text after the
// prefix (recognised in any letter case), with its own case kept. Any other
// argument gives an empty payload.
std::string linkPayload(std::string_view commandLineArgument);

// One "/"-separated segment of a payload as a blocklist line:
// name@start:end becomes name:start-end, name@address becomes name:address.
std::string linkSegmentToLine(std::string_view segment);

}  // namespace bw
