#pragma once

#include <filesystem>
#include <string>

#include "maintenance/list_keeper.h"
#include "support/fake_downloader.h"

namespace bw::test {

// A copy of the program with one web list whose download is under way and
// held until the test ends it: a guard in the middle of an update.
struct KeeperUpdatingOneList {
    KeeperUpdatingOneList(const Clock& clock, const std::filesystem::path& folder,
                          const std::string& name, const std::string& source)
        : keeper(downloads, clock, folder) {
        Subscription list;
        list.name = name;
        list.source = source;
        downloads.unanswered = FakeAnswer::heldBack();
        started = keeper.load(false).empty() && keeper.add(list).empty() &&
                  (keeper.startUpdates(true), downloads.transfers.size() == 1);
    }

    FakeDownloader downloads;
    ListKeeper keeper;
    bool started = false;  // loaded, added, and its one download under way
};

}  // namespace bw::test
