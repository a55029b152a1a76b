#pragma once

#include <atomic>
#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace bw::test {

// What the server answers for one path.
struct HttpReply {
    int status = 200;
    std::string body;
    // Content-Length to announce instead of the body's size: a larger value makes
    // a reply that breaks off before its end.
    std::optional<std::size_t> promisedLength;
    std::string location;  // a Location header, for redirects
    bool hang = false;     // read the request, then never answer
    // Validators: sent with the reply, and a request that presents the same one
    // (If-None-Match, If-Modified-Since) gets 304 Not Modified without a body.
    std::string etag;
    std::string lastModified;

    static HttpReply ok(std::string body) { return withStatus(200, std::move(body)); }
    static HttpReply withStatus(int status, std::string body) {
        HttpReply reply;
        reply.status = status;
        reply.body = std::move(body);
        return reply;
    }
    static HttpReply cutShort(std::string body, std::size_t promised) {
        HttpReply reply = ok(std::move(body));
        reply.promisedLength = promised;
        return reply;
    }
    static HttpReply redirect(int status, std::string location) {
        HttpReply reply = withStatus(status, "");
        reply.location = std::move(location);
        return reply;
    }
    static HttpReply hanging() {
        HttpReply reply;
        reply.hang = true;
        return reply;
    }
};

// A small HTTP/1.1 server on 127.0.0.1 at a free port, for tests of downloads.
// It serves one connection at a time and closes each after its reply; paths
// without a route get 404. It stops, and its thread ends, when destroyed.
class HttpTestServer {
public:
    HttpTestServer();
    ~HttpTestServer();
    HttpTestServer(const HttpTestServer&) = delete;
    HttpTestServer& operator=(const HttpTestServer&) = delete;

    void route(const std::string& path, HttpReply reply);
    // "http://127.0.0.1:<port>/"
    std::string baseUrl() const;
    // The paths requested so far, in order.
    std::vector<std::string> requests() const;
    // The whole head of each request so far, in order.
    std::vector<std::string> requestHeads() const;

private:
    void serve();
    void answer(int connection);
    bool stopped() const { return stop_; }

    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::map<std::string, HttpReply> routes_;
    std::vector<std::string> requests_;
    std::vector<std::string> requestHeads_;
    std::thread thread_;
};

}  // namespace bw::test
