#pragma once

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>

#include "support/temp_dir.h"

namespace bw::test {

// A TLS server on 127.0.0.1 at a free port that gives every request the same
// raw HTTP response, for tests of what an https download does. Its certificate,
// made for 127.0.0.1 when it starts, is its own authority: a client trusts it
// through certificate(). It stops, and its thread ends, when destroyed.
class HttpsTestServer {
public:
    explicit HttpsTestServer(std::string response);
    ~HttpsTestServer();
    HttpsTestServer(const HttpsTestServer&) = delete;
    HttpsTestServer& operator=(const HttpsTestServer&) = delete;

    // "https://127.0.0.1:<port>/"
    std::string baseUrl() const;
    // The certificate as a PEM file.
    const std::filesystem::path& certificate() const { return certificate_; }
    int answered() const { return answered_; }

private:
    void serve();

    TempDir dir_;
    std::filesystem::path certificate_;
    std::string response_;
    void* context_ = nullptr;  // SSL_CTX, kept out of this header
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> answered_{0};
    std::thread thread_;
};

}  // namespace bw::test
