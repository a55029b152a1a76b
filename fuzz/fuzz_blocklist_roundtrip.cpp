// The user's own blocklist, loaded, written back as SAVELIST writes it, and
// loaded again: the second load must see exactly what the first saw. A save
// never loses or changes an entry, nor a line the load could not read. (The
// layout of every slot is a quarter of a million lines: this target runs far
// fewer inputs a second than the others.)

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "blocklist/ban_table.h"
#include "blocklist/blocklist_reader.h"
#include "blocklist/blocklist_writer.h"
#include "fuzz_check.h"

namespace {

bool sameEntries(const bw::BanTable& a, const bw::BanTable& b) {
    if (a.size() != b.size())
        return false;
    for (int bucket = 0; bucket < bw::BanTable::kBuckets; ++bucket) {
        const bw::BanTable::Bucket x = a.bucket(bucket);
        const bw::BanTable::Bucket y = b.bucket(bucket);
        if (x.size() != y.size())
            return false;
        for (std::size_t slot = 0; slot < x.size(); ++slot) {
            const bw::BanEntry e = x[slot];
            const bw::BanEntry f = y[slot];
            if (e.text != f.text || e.name != f.name || e.start != f.start || e.end != f.end)
                return false;
        }
    }
    if (a.size6() != b.size6())
        return false;
    for (std::size_t slot = 0; slot < a.size6(); ++slot) {
        const bw::BanEntry6 e = a.at6(slot);
        const bw::BanEntry6 f = b.at6(slot);
        if (e.text != f.text || e.name != f.name || e.first != f.first || e.last != f.last)
            return false;
    }
    return a.unreadLines() == b.unreadLines();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    bw::BanTable first;
    const bw::LoadTotals loaded =
        bw::loadBlocklist(std::string(reinterpret_cast<const char*>(data), size), first);
    BW_FUZZ_CHECK(loaded.ranges == first.size());

    const std::string saved = bw::formatEverySlot(first);
    bw::BanTable second;
    const bw::LoadTotals reloaded = bw::loadBlocklist(saved, second);
    BW_FUZZ_CHECK(sameEntries(first, second));
    BW_FUZZ_CHECK(reloaded.ranges == loaded.ranges && reloaded.failed == loaded.failed &&
                  reloaded.ranges6 == loaded.ranges6);
    BW_FUZZ_CHECK(loaded.ranges6 == first.size6());

    // What a link start saves: the entries without the empty slots.
    bw::BanTable third;
    bw::loadBlocklist(bw::formatStoredOnly(first), third);
    BW_FUZZ_CHECK(sameEntries(first, third));
    return 0;
}
