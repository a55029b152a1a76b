#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace bw {

struct DownloadResult {
    bool ok = false;
    std::string error;  // why it failed, when !ok
    // The server answered 304: the copy the request's validators came from is
    // current, and the target holds nothing.
    bool notModified = false;
    // The validators the server sent, for the next conditional request.
    std::string etag{};
    std::string lastModified{};
};

// A download with conditions: the validators of the copy at hand (either may be
// empty) and the most bytes the body may have (0: no limit of its own).
struct DownloadRequest {
    std::string url{};
    std::filesystem::path target{};
    std::string ifNoneMatch{};
    std::string ifModifiedSince{};
    std::uint64_t maxBytes = 0;
};

// One download under way. The owner polls finished() (for instance from
// Host::waitWithProgress) and then reads result(). Dropping a download that
// has not finished cancels it.
class Download {
public:
    virtual ~Download() = default;
    virtual bool finished() const = 0;
    // Meaningful once finished() is true.
    virtual DownloadResult result() const = 0;
};

class Downloader {
public:
    virtual ~Downloader() = default;
    // Fetches the URL into the target file (created or truncated). The result is
    // ok only for a successful HTTP status with the whole body written and
    // flushed to disk; after a failure the target holds whatever had arrived,
    // and the caller discards it.
    virtual std::unique_ptr<Download> start(const std::string& url,
                                            const std::filesystem::path& target) = 0;
    // The same with conditions. A downloader that knows none fetches the whole
    // body, which is always a correct answer to a conditional request.
    virtual std::unique_ptr<Download> startRequest(const DownloadRequest& request) {
        return start(request.url, request.target);
    }
};

struct DownloadLimits {
    std::chrono::milliseconds connect{10'000};
    std::chrono::milliseconds total{120'000};
};

// HTTP and HTTPS through libcurl, one worker thread per download; redirects are
// followed and an HTTP status of 400 or above is a failure.
std::unique_ptr<Downloader> makeCurlDownloader(DownloadLimits limits = {});

}  // namespace bw
