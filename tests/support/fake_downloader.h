#pragma once

#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/downloader.h"

namespace bw::test {

// What the fake downloader answers one address with.
struct FakeAnswer {
    // What reaches the target: the whole body, or what had arrived before a failure.
    std::string body{};
    std::string error{};  // the download fails with it when not empty
    // Fails as a body past the request's limit does, whatever the body. A body
    // longer than the limit fails so anyway, as with a real server.
    bool tooLarge = false;
    bool notModified = false;  // a 304: the target stays empty
    std::string etag{};
    std::string lastModified{};
    std::string serverAddress{};
    bool held = false;  // stays under way until the test finishes it

    static FakeAnswer ok(std::string body) { return {.body = std::move(body)}; }
    static FakeAnswer failure(std::string why, std::string arrived = {}) {
        return {.body = std::move(arrived), .error = std::move(why)};
    }
    static FakeAnswer unchanged() { return {.notModified = true}; }
    static FakeAnswer heldBack() { return {.held = true}; }
};

// Downloads as the test scripts them, without a network: every request is
// kept, and each gets the answer the test gave for its address. Like a real
// transfer, each creates its target at once; a held one stays under way until
// the test finishes it, and one dropped unfinished is cancelled and never
// writes its target again.
class FakeDownloader : public Downloader {
public:
    struct Transfer {
        Request request;
        FakeAnswer answer;
        bool finished = false;
        bool cancelled = false;
        DownloadResult result{};
    };

    void answer(const std::string& url, FakeAnswer answer) { answers_[url] = std::move(answer); }

    std::unique_ptr<Download> start(const Request& request) override {
        auto transfer = std::make_shared<Transfer>();
        transfer->request = request;
        auto given = answers_.find(request.url);
        transfer->answer = given == answers_.end() ? unanswered : given->second;
        transfers.push_back(transfer);
        std::ofstream(request.target, std::ios::binary | std::ios::trunc);
        if (!transfer->answer.held)
            end(*transfer, transfer->answer);
        return std::make_unique<Handle>(transfer);
    }

    // Ends a held transfer with the answer it was held with, or with another.
    void finish(std::size_t index) { end(*transfers.at(index), transfers.at(index)->answer); }
    void finish(std::size_t index, const FakeAnswer& answer) { end(*transfers.at(index), answer); }
    void finishAll() {
        for (const auto& transfer : transfers) {
            if (!transfer->finished)
                end(*transfer, transfer->answer);
        }
    }

    // The address of each request, in order.
    std::vector<std::string> urls() const {
        std::vector<std::string> out;
        for (const auto& transfer : transfers) out.push_back(transfer->request.url);
        return out;
    }

    std::vector<std::shared_ptr<Transfer>> transfers;
    // For an address the test gave no answer: as a server without that file.
    FakeAnswer unanswered = FakeAnswer::failure("The requested URL returned error: 404");

private:
    static void end(Transfer& transfer, const FakeAnswer& answer) {
        if (transfer.cancelled || transfer.finished)
            return;
        transfer.answer = answer;
        transfer.finished = true;
        DownloadResult& result = transfer.result;
        result.serverAddress = answer.serverAddress;
        const std::uint64_t limit = transfer.request.maxBytes;
        if (answer.tooLarge || answer.body.size() > limit) {
            result.tooLarge = true;
            result.error = "the file is larger than " + std::to_string(limit) + " bytes";
            write(transfer, answer.body.substr(0, limit));
            return;
        }
        if (!answer.error.empty()) {
            write(transfer, answer.body);
            result.error = answer.error;
            return;
        }
        if (!answer.notModified && !write(transfer, answer.body)) {
            result.error = "cannot write " + transfer.request.target.string();
            return;
        }
        result.ok = true;
        result.notModified = answer.notModified;
        result.etag = answer.etag;
        result.lastModified = answer.lastModified;
    }

    static bool write(const Transfer& transfer, const std::string& bytes) {
        std::ofstream out(transfer.request.target, std::ios::binary | std::ios::trunc);
        out << bytes;
        out.flush();
        return out.good();
    }

    class Handle : public Download {
    public:
        explicit Handle(std::shared_ptr<Transfer> transfer) : transfer_(std::move(transfer)) {}
        ~Handle() override {
            if (!transfer_->finished)
                transfer_->cancelled = true;
        }
        bool finished() const override { return transfer_->finished; }
        DownloadResult result() const override { return transfer_->result; }

    private:
        std::shared_ptr<Transfer> transfer_;
    };

    std::map<std::string, FakeAnswer> answers_;
};

}  // namespace bw::test
