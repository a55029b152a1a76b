#include "guard/recent_addresses.h"

namespace bw {

bool RecentAddresses::remember(std::string_view address) {
    std::string text(address);
    if (searched_.contains(text))
        return false;
    list_.push_front(text);
    searched_.insert(std::move(text));
    if (list_.size() > kSearched)
        searched_.erase(list_[kSearched]);
    if (list_.size() > kPositions)
        list_.pop_back();
    return true;
}

std::string RecentAddresses::at(std::size_t position) const {
    return position < list_.size() ? list_[position] : std::string();
}

}  // namespace bw
