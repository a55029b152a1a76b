// The subscriptions file lists.json, hand-edited or damaged: what reads must
// write back and read again the same. The same bytes as a list's name, as
// --add-list takes one, must be refused or stored and read back unchanged.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "maintenance/list_subscriptions.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const bw::SubscriptionsFile read = bw::parseSubscriptions(text);
    BW_FUZZ_CHECK(read.ok == read.error.empty());
    if (read.ok) {
        const bw::SubscriptionsFile again =
            bw::parseSubscriptions(bw::formatSubscriptions(read.lists));
        BW_FUZZ_CHECK(again.ok);
        BW_FUZZ_CHECK(again.lists == read.lists);
        for (const bw::Subscription& list : read.lists) {
            BW_FUZZ_CHECK(bw::nameProblem(list.name).empty());
            BW_FUZZ_CHECK(list.intervalHours >= 1);
            BW_FUZZ_CHECK(list.lastUpdate >= 0 && list.lastAttempt >= 0);
        }
    }

    if (bw::nameProblem(text).empty()) {
        bw::Subscription named;
        named.name = std::string(text);
        const bw::SubscriptionsFile back = bw::parseSubscriptions(bw::formatSubscriptions({named}));
        BW_FUZZ_CHECK(back.ok);
        BW_FUZZ_CHECK(back.lists.size() == 1 && back.lists[0] == named);
    }
    if (bw::sourceProblem(text).empty())
        (void)bw::localSourcePath(text);
    return 0;
}
