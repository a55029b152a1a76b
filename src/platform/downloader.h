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
    // A body longer than maxBytes stops the download with a failure (tooLarge).
    virtual std::unique_ptr<Download> start(const std::string& url,
                                            const std::filesystem::path& target,
                                            std::uint64_t maxBytes) = 0;
    std::unique_ptr<Download> start(const std::string& url, const std::filesystem::path& target) {
        return start(url, target, kNoSizeLimit);
    }

    static constexpr std::uint64_t kNoSizeLimit = UINT64_MAX;
};

struct DownloadLimits {
    std::chrono::milliseconds connect{10'000};
    std::chrono::milliseconds total{120'000};
};

// HTTP and HTTPS through libcurl, one worker thread per download; redirects are
// followed and an HTTP status of 400 or above is a failure.
std::unique_ptr<Downloader> makeCurlDownloader(DownloadLimits limits = {});

}  // namespace bw
