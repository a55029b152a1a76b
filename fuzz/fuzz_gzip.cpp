// A list file as the list keeper takes it in: inflated when gzip, within the
// size limit of a list, then parsed and put to the list gate.

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "maintenance/gzip_data.h"
#include "maintenance/list_format.h"
#include "maintenance/list_keeper.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::size_t limit = bw::ListKeeper::kMaxListBytes;
    const bool gzip = bw::isGzip(bytes);
    const bw::Gunzipped text = bw::listText(std::move(bytes), limit);
    BW_FUZZ_CHECK(text.ok || gzip);
    BW_FUZZ_CHECK(text.ok != !text.error.empty());
    BW_FUZZ_CHECK(text.bytes.size() <= limit);
    if (!text.ok)
        return 0;
    const bw::ParsedList list = bw::parseList(text.bytes);
    const std::string refusal = bw::listRefusal(list);
    BW_FUZZ_CHECK(!refusal.empty() || !list.ranges.empty() || !list.ranges6.empty());
    return 0;
}
