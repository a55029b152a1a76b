// A downloaded list's text through the line formats and the list gate.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_check.h"
#include "maintenance/list_format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    // Small limits, so that the fuzzer reaches them with small inputs too.
    const bw::ListLimits limits{.maxRanges = 64, .maxMemoryBytes = 4096};
    const bw::ParsedList list = bw::parseList(text, limits);
    const std::string refusal = bw::listRefusal(list);

    // One limit for both families.
    BW_FUZZ_CHECK(list.ranges.size() + list.ranges6.size() <= limits.maxRanges);
    BW_FUZZ_CHECK(list.overLimit.empty() || (list.ranges.empty() && list.ranges6.empty()));
    for (const bw::ListRange& range : list.ranges) BW_FUZZ_CHECK(range.first <= range.last);
    for (const bw::ListRange6& range : list.ranges6) BW_FUZZ_CHECK(range.first <= range.last);
    // A list the gate lets through holds something to guard with.
    BW_FUZZ_CHECK(!refusal.empty() || !list.ranges.empty() || !list.ranges6.empty());

    // Each format on the first line alone, whatever the detection chose.
    const std::string_view firstLine = text.substr(0, text.find_first_of("\r\n"));
    for (bw::ListFormat format : {bw::ListFormat::P2p, bw::ListFormat::Dat, bw::ListFormat::Cidr}) {
        const bw::LineReading reading = bw::readListLine(format, firstLine);
        if (reading.kind == bw::LineReading::Kind::Range)
            BW_FUZZ_CHECK(reading.range.first <= reading.range.last);
        if (reading.kind == bw::LineReading::Kind::Range6)
            BW_FUZZ_CHECK(reading.range6.first <= reading.range6.last);
    }
    return 0;
}
