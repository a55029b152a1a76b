#include <curl/curl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "platform/downloader.h"

namespace bw {

namespace {

void initialiseCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// The value of a response header line when it is the named header.
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

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

// What a redirect may lead to: an https source keeps its encryption to the end.
bool isHttps(std::string_view url) {
    return startsWithIgnoringCase(url, "https://");
}

class CurlDownload : public Download {
public:
    CurlDownload(DownloadRequest request, DownloadLimits limits,
                 std::filesystem::path certificateAuthorities)
        : url_(request.url),
          target_(request.target),
          limits_(limits),
          certificateAuthorities_(std::move(certificateAuthorities)),
          maxBytes_(request.maxBytes),
          ifNoneMatch_(std::move(request.ifNoneMatch)),
          ifModifiedSince_(std::move(request.ifModifiedSince)) {
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
        const std::uint64_t bytes = static_cast<std::uint64_t>(size) * count;
        if (bytes > download->maxBytes_ - download->received_) {
            download->tooLarge_ = true;
            return 0;  // stops the transfer
        }
        download->received_ += bytes;
        return std::fwrite(data, size, count, download->file_) * size;
    }

    static int progress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
        return static_cast<CurlDownload*>(self)->cancelled_ ? 1 : 0;
    }

    // Each response of a redirect chain starts with its status line; only the
    // last response's validators count.
    static std::size_t header(char* data, std::size_t size, std::size_t count, void* self) {
        auto* download = static_cast<CurlDownload*>(self);
        std::string_view line(data, size * count);
        if (line.starts_with("HTTP/")) {
            download->etag_.clear();
            download->lastModified_.clear();
            download->location_.clear();
        }
        headerValue(line, "ETag", download->etag_) ||
            headerValue(line, "Last-Modified", download->lastModified_) ||
            headerValue(line, "Location", download->location_);
        return size * count;
    }

    DownloadResult run() {
        file_ = std::fopen(target_.c_str(), "wb");
        if (!file_)
            return {false, "cannot write " + target_.string() + ": " + std::strerror(errno)};
        DownloadResult transfer = transferInto();
        DownloadResult saved = closeFile();
        transfer.serverAddress = serverAddress_;
        saved.serverAddress = serverAddress_;
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
        curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, isHttps(url_) ? "https" : "http,https");
        curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
        if (!certificateAuthorities_.empty())
            curl_easy_setopt(curl, CURLOPT_CAINFO, certificateAuthorities_.c_str());
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
        if (maxBytes_ <= static_cast<std::uint64_t>(INT64_MAX)) {
            curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(maxBytes_));
        }
        curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &CurlDownload::header);
        curl_easy_setopt(curl, CURLOPT_HEADERDATA, this);
        curl_slist* conditions = nullptr;
        if (!ifNoneMatch_.empty())
            conditions = curl_slist_append(conditions, ("If-None-Match: " + ifNoneMatch_).c_str());
        if (!ifModifiedSince_.empty()) {
            conditions =
                curl_slist_append(conditions, ("If-Modified-Since: " + ifModifiedSince_).c_str());
        }
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, conditions);
        CURLcode code = curl_easy_perform(curl);
        long status = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        char* primary = nullptr;
        if (curl_easy_getinfo(curl, CURLINFO_PRIMARY_IP, &primary) == CURLE_OK && primary)
            serverAddress_ = primary;
        curl_easy_cleanup(curl);
        curl_slist_free_all(conditions);
        if (code == CURLE_OK) {
            DownloadResult done{true, {}};
            done.notModified = status == 304;
            return done;
        }
        if (tooLarge_ || code == CURLE_FILESIZE_EXCEEDED) {
            return {false, "the file is larger than " + std::to_string(maxBytes_) + " bytes", true};
        }
        if (code == CURLE_UNSUPPORTED_PROTOCOL && !location_.empty()) {
            return {false,
                    "the list's server sent it on to " + location_ + ", where it may not go: " +
                        (isHttps(url_) ? "from an https:// address only https:// addresses are "
                                         "followed, so that the list stays encrypted"
                                       : "only http:// and https:// addresses are followed")};
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
    const DownloadLimits limits_;
    const std::filesystem::path certificateAuthorities_;
    const std::uint64_t maxBytes_;
    std::uint64_t received_ = 0;  // worker thread only
    bool tooLarge_ = false;       // worker thread only
    const std::string ifNoneMatch_;
    const std::string ifModifiedSince_;
    std::string etag_;           // worker thread only
    std::string lastModified_;   // worker thread only
    std::string location_;       // worker thread only: where the last redirect pointed
    std::string serverAddress_;  // worker thread only
    std::FILE* file_ = nullptr;
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> finished_{false};
    mutable std::mutex mutex_;
    DownloadResult result_;
    std::thread worker_;
};

class CurlDownloader : public Downloader {
public:
    CurlDownloader(DownloadLimits limits, std::filesystem::path certificateAuthorities)
        : limits_(limits), certificateAuthorities_(std::move(certificateAuthorities)) {}

    std::unique_ptr<Download> start(const DownloadRequest& request) override {
        return std::make_unique<CurlDownload>(request, limits_, certificateAuthorities_);
    }

private:
    DownloadLimits limits_;
    std::filesystem::path certificateAuthorities_;
};

}  // namespace

std::unique_ptr<Downloader> makeCurlDownloader(DownloadLimits limits,
                                               std::filesystem::path certificateAuthorities) {
    initialiseCurlOnce();
    return std::make_unique<CurlDownloader>(limits, std::move(certificateAuthorities));
}

}  // namespace bw
