// A later start's request as the running copy takes it: the bytes of the
// request, its bwdat:// payload, the lines the link gives, the refusal of a
// link that bans too much, and each line through ADDBANRANGE into a table.
// Whatever the link holds, no stored entry may span two lines of the file.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "blocklist/ban_editor.h"
#include "blocklist/ban_table.h"
#include "blocklist/public_space.h"
#include "fuzz_check.h"
#include "maintenance/link_intake.h"
#include "platform/instance_channel.h"
#include "program/wide_entries.h"
#include "quiet_host.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The channel refuses a longer request before anything reads it.
    if (size > bw::InstanceChannel::kMaxRequestBytes)
        return 0;
    const std::string_view request(reinterpret_cast<const char*>(data), size);
    const std::string payload = bw::linkPayload(request);
    BW_FUZZ_CHECK(payload.empty() || bw::isLink(request));
    if (payload.empty() ||
        request.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos)
        return 0;

    const std::vector<std::string> lines = bw::linkLines(payload);
    for (const std::string& line : lines) BW_FUZZ_CHECK(!line.empty());
    if (!bw::wideLinkRefusal(lines).empty())
        return 0;

    bw::BanTable table;
    bw::fuzz::QuietHost host;
    bw::BanEditor editor(table, host);
    std::size_t added = 0;
    for (const std::string& line : lines) {
        if (editor.ADDBANRANGE(line) == bw::AddOutcome::Added)
            ++added;
    }
    BW_FUZZ_CHECK(table.size() + table.size6() == added);
    std::vector<bw::AddressSpan> spans;
    for (int b = 0; b < bw::BanTable::kBuckets; ++b) {
        for (const bw::BanEntry entry : table.bucket(b)) {
            BW_FUZZ_CHECK(entry.text.find_first_of(std::string_view("\r\n\0", 3)) ==
                          std::string_view::npos);
            spans.push_back(
                {static_cast<std::uint32_t>(entry.start), static_cast<std::uint32_t>(entry.end)});
        }
    }
    // The refusal and the table agree on what the link bans.
    BW_FUZZ_CHECK(bw::publicUnicastAddresses(std::move(spans)) <= bw::kWidestLinkBan);
    return 0;
}
