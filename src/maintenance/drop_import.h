#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/host.h"

namespace bw {

// Takes the entries of a blocklist file dropped on the list into the running
// ban table. The file must be named *.P2P (any case) and begin with a field
// holding 4096 minus its own length in bytes; every further field goes to
// addBanRange as read. The blocklist file is not written.
class DropImport {
public:
    DropImport(Host& host, std::function<void(std::string_view)> addBanRange);

    // Only the first path is used; a drop without paths is ignored. A drop that
    // arrives while an import runs (addBanRange yields to the event loop) is
    // refused without a message: the running import keeps its file to itself,
    // and its entries keep appearing in the list as the visible sign of it.
    void filesDropped(const std::vector<std::string>& paths);

    bool running() const { return running_; }

private:
    void import(const std::string& path);
    void show(std::string text, MessageIcon icon);

    Host& host_;
    std::function<void(std::string_view)> addBanRange_;
    bool running_ = false;
};

}  // namespace bw
