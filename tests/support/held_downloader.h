#pragma once

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/downloader.h"

namespace bw::test {

// Downloads that stay under way until the test ends them: an update in the
// middle of its transfer, as another copy of the program sees it. Each one
// creates its target at once, as a real transfer does.
class HeldDownloader : public Downloader {
public:
    struct Transfer {
        Request request;
        bool finished = false;
        DownloadResult result;
    };

    std::unique_ptr<Download> start(const Request& request) override {
        std::ofstream(request.target, std::ios::binary | std::ios::trunc);
        auto transfer = std::make_shared<Transfer>();
        transfer->request = request;
        transfers.push_back(transfer);
        return std::make_unique<Handle>(transfers.back());
    }

    // Ends the transfer: the body reaches its target, with the result given
    // (by default a good one).
    void finish(std::size_t index, const std::string& body, DownloadResult result = good()) {
        Transfer& transfer = *transfers.at(index);
        std::ofstream(transfer.request.target, std::ios::binary | std::ios::trunc) << body;
        transfer.result = result;
        transfer.finished = true;
    }

    std::vector<std::shared_ptr<Transfer>> transfers;

private:
    static DownloadResult good() {
        DownloadResult result;
        result.ok = true;
        return result;
    }

    class Handle : public Download {
    public:
        explicit Handle(std::shared_ptr<Transfer> transfer) : transfer_(std::move(transfer)) {}
        bool finished() const override { return transfer_->finished; }
        DownloadResult result() const override { return transfer_->result; }

    private:
        std::shared_ptr<Transfer> transfer_;
    };
};

}  // namespace bw::test
