#include <curl/curl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string_view>
#include <thread>

#include "platform/downloader.h"

namespace bw {

namespace {

void initialiseCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// The value of a response header line when it is the named header, else nothing.
bool headerValue(std::string_view line, std::string_view name, std::string& value) {
    if (line.size() <= name.size() || line[name.size()] != ':')
        return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(line[i])) !=
            std::tolower(static_cast<unsigned char>(name[i])))
            return false;
    }
    line.remove_prefix(name.size() + 1);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back())))
        line.remove_suffix(1);
    value = std::string(line);
    return true;
}

class CurlDownload : public Download {
public:
    CurlDownload(DownloadRequest request, DownloadLimits limits)
        : url_(request.url),
          target_(request.target),
          request_(std::move(request)),
          limits_(limits) {
        worker_ = std::thread([this] { finish(run()); });
    }

    ~CurlDownload() override {
        cancelled_ = true;
        worker_.join();
    }

    bool finished() const override { return finished_; }

    DownloadResult result() const override {
        std::lock_guard lock(mutex_);
        return result_;
    }

private:
    static std::size_t write(char* data, std::size_t size, std::size_t count, void* self) {
        auto* download = static_cast<CurlDownload*>(self);
        download->received_ += size * count;
        // A body without a length announced is stopped here once it grows too big.
        if (download->request_.maxBytes != 0 && download->received_ > download->request_.maxBytes) {
            download->tooBig_ = true;
            return 0;
        }
        return std::fwrite(data, size, count, download->file_) * size;
    }

    // Each response of a redirect chain starts with its status line; only the
    // last response's validators count.
    static std::size_t header(char* data, std::size_t size, std::size_t count, void* self) {
        auto* download = static_cast<CurlDownload*>(self);
        std::string_view line(data, size * count);
        if (line.starts_with("HTTP/")) {
            download->etag_.clear();
            download->lastModified_.clear();
        }
        headerValue(line, "ETag", download->etag_) ||
            headerValue(line, "Last-Modified", download->lastModified_);
        return size * count;
    }

    static int progress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
        return static_cast<CurlDownload*>(self)->cancelled_ ? 1 : 0;
    }

    DownloadResult run() {
        file_ = std::fopen(target_.c_str(), "wb");
        if (!file_)
            return {false, "cannot write " + target_.string() + ": " + std::strerror(errno)};
        DownloadResult transfer = transferInto();
        DownloadResult saved = closeFile();
        if (!transfer.ok)
            return transfer;
        if (!saved.ok)
            return saved;
        transfer.etag = etag_;
        transfer.lastModified = lastModified_;
        return transfer;
    }

    DownloadResult transferInto() {
        CURL* curl = curl_easy_init();
        if (!curl)
            return {false, "cannot start a download"};
        char error[CURL_ERROR_SIZE] = {};
        curl_easy_setopt(curl, CURLOPT_URL, url_.c_str());
        curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
        curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
        curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
        // Signals and worker threads do not mix; the timeouts below bound name lookups too.
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS,
                         static_cast<long>(limits_.connect.count()));
        curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(limits_.total.count()));
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &CurlDownload::write);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &CurlDownload::progress);
        curl_easy_setopt(curl, CURLOPT_XFERINFODATA, this);
        curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &CurlDownload::header);
        curl_easy_setopt(curl, CURLOPT_HEADERDATA, this);
        if (request_.maxBytes != 0) {
            curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE,
                             static_cast<curl_off_t>(request_.maxBytes));
        }
        curl_slist* conditions = nullptr;
        if (!request_.ifNoneMatch.empty())
            conditions =
                curl_slist_append(conditions, ("If-None-Match: " + request_.ifNoneMatch).c_str());
        if (!request_.ifModifiedSince.empty()) {
            conditions = curl_slist_append(
                conditions, ("If-Modified-Since: " + request_.ifModifiedSince).c_str());
        }
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, conditions);
        CURLcode code = curl_easy_perform(curl);
        long status = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        curl_easy_cleanup(curl);
        curl_slist_free_all(conditions);
        if (code == CURLE_OK) {
            DownloadResult done{true, {}};
            done.notModified = status == 304;
            return done;
        }
        if (tooBig_ || code == CURLE_FILESIZE_EXCEEDED) {
            return {false,
                    "the download is larger than " + std::to_string(request_.maxBytes) + " bytes"};
        }
        return {false, error[0] ? std::string(error) : std::string(curl_easy_strerror(code))};
    }

    // Flushes the body to disk, so that a file renamed into place afterwards is whole.
    DownloadResult closeFile() {
        bool ok = std::fflush(file_) == 0 && ::fsync(::fileno(file_)) == 0;
        int err = errno;
        if (std::fclose(file_) != 0 && ok) {
            ok = false;
            err = errno;
        }
        file_ = nullptr;
        if (ok)
            return {true, {}};
        return {false, "cannot write " + target_.string() + ": " + std::strerror(err)};
    }

    void finish(DownloadResult result) {
        {
            std::lock_guard lock(mutex_);
            result_ = std::move(result);
        }
        finished_ = true;
    }

    const std::string url_;
    const std::filesystem::path target_;
    const DownloadRequest request_;
    const DownloadLimits limits_;
    std::FILE* file_ = nullptr;
    std::uint64_t received_ = 0;
    bool tooBig_ = false;
    std::string etag_;
    std::string lastModified_;
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> finished_{false};
    mutable std::mutex mutex_;
    DownloadResult result_;
    std::thread worker_;
};

class CurlDownloader : public Downloader {
public:
    explicit CurlDownloader(DownloadLimits limits) : limits_(limits) {}

    std::unique_ptr<Download> start(const std::string& url,
                                    const std::filesystem::path& target) override {
        return startRequest(DownloadRequest{.url = url, .target = target});
    }

    std::unique_ptr<Download> startRequest(const DownloadRequest& request) override {
        return std::make_unique<CurlDownload>(request, limits_);
    }

private:
    DownloadLimits limits_;
};

}  // namespace

std::unique_ptr<Downloader> makeCurlDownloader(DownloadLimits limits) {
    initialiseCurlOnce();
    return std::make_unique<CurlDownloader>(limits);
}

}  // namespace bw
