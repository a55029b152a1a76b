#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace bw {

struct DownloadResult {
    bool ok = false;
    std::string error;      // why it failed, when !ok
    bool tooLarge = false;  // stopped because the body passed its limit
    // The server answered 304: the copy the request's validators came from is
    // current, and the target holds nothing.
    bool notModified = false;
    // The validators the server sent, for the next conditional request.
    std::string etag{};
    std::string lastModified{};
    // The address the last connection went to (dotted, or IPv6 text); empty
    // when none was made. Kept whether the download worked or not.
    std::string serverAddress{};
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
    static constexpr std::uint64_t kNoSizeLimit = UINT64_MAX;

    // One download. The validators are those of the copy at hand (either may be
    // empty): a server that finds that copy current answers 304 (notModified).
    struct Request {
        std::string url{};
        std::filesystem::path target{};
        std::string ifNoneMatch{};
        std::string ifModifiedSince{};
        std::uint64_t maxBytes = kNoSizeLimit;
    };

    virtual ~Downloader() = default;
    // Fetches the URL into the target file (created or truncated). The result is
    // ok only for a successful HTTP status with the whole body written and
    // flushed to disk; after a failure the target holds whatever had arrived,
    // and the caller discards it.
    // A body longer than maxBytes stops the download with a failure (tooLarge).
    virtual std::unique_ptr<Download> start(const Request& request) = 0;
};

using DownloadRequest = Downloader::Request;

struct DownloadLimits {
    std::chrono::milliseconds connect{10'000};
    std::chrono::milliseconds total{120'000};
};

// HTTP and HTTPS through libcurl, one worker thread per download; redirects are
// followed (from an https address to https addresses only) and an HTTP status
// of 400 or above is a failure.
// certificateAuthorities: a PEM file of the authorities to trust instead of the
// system's (a private server's own); empty for the system's.
std::unique_ptr<Downloader> makeCurlDownloader(DownloadLimits limits = {},
                                               std::filesystem::path certificateAuthorities = {});

}  // namespace bw
