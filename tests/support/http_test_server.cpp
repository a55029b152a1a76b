#include "support/http_test_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string_view>

namespace bw::test {

namespace {

constexpr int kPollMs = 20;
// Bounds on how long one connection may take the server, so a test cannot hang.
constexpr auto kRequestDeadline = std::chrono::seconds(5);
constexpr auto kHangDeadline = std::chrono::seconds(30);

bool readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, kPollMs) > 0;
}

void sendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n <= 0)
            return;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

std::string reasonPhrase(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 301:
            return "Moved Permanently";
        case 304:
            return "Not Modified";
        case 302:
            return "Found";
        case 404:
            return "Not Found";
        case 500:
            return "Internal Server Error";
        default:
            return "Status";
    }
}

// The path of "GET /path HTTP/1.1".
std::string requestPath(const std::string& head) {
    std::size_t begin = head.find(' ');
    if (begin == std::string::npos)
        return {};
    std::size_t end = head.find(' ', begin + 1);
    return head.substr(begin + 1, end == std::string::npos ? end : end - begin - 1);
}

}  // namespace

HttpTestServer::HttpTestServer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0)
        throw std::runtime_error("socket failed");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 8) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(listener_);
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
}

HttpTestServer::~HttpTestServer() {
    stop_ = true;
    thread_.join();
    ::close(listener_);
}

void HttpTestServer::route(const std::string& path, HttpReply reply) {
    std::lock_guard lock(mutex_);
    routes_[path] = std::move(reply);
}

std::string HttpTestServer::baseUrl() const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/";
}

std::vector<std::string> HttpTestServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::vector<std::string> HttpTestServer::requestHeads() const {
    std::lock_guard lock(mutex_);
    return requestHeads_;
}

void HttpTestServer::serve() {
    while (!stopped()) {
        if (!readable(listener_))
            continue;
        int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0)
            continue;
        answer(connection);
        ::close(connection);
    }
}

void HttpTestServer::answer(int connection) {
    const auto deadline = std::chrono::steady_clock::now() + kRequestDeadline;
    std::string head;
    while (head.find("\r\n\r\n") == std::string::npos) {
        if (stopped() || std::chrono::steady_clock::now() > deadline)
            return;
        if (!readable(connection))
            continue;
        char buffer[4096];
        ssize_t n = ::recv(connection, buffer, sizeof buffer, 0);
        if (n <= 0)
            return;
        head.append(buffer, static_cast<std::size_t>(n));
    }
    const std::string path = requestPath(head);
    HttpReply reply;
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(path);
        requestHeads_.push_back(head);
        auto found = routes_.find(path);
        reply = found != routes_.end() ? found->second : HttpReply::withStatus(404, "not found");
    }
    if (reply.hang) {
        const auto hangUntil = std::chrono::steady_clock::now() + kHangDeadline;
        char byte;
        while (!stopped() && std::chrono::steady_clock::now() < hangUntil) {
            if (readable(connection) && ::recv(connection, &byte, 1, 0) <= 0)
                return;  // client gone
        }
        return;
    }
    auto presents = [&](const char* header, const std::string& value) {
        return !value.empty() &&
               head.find(std::string(header) + ": " + value + "\r\n") != std::string::npos;
    };
    if (presents("If-None-Match", reply.etag) ||
        presents("If-Modified-Since", reply.lastModified)) {
        reply.status = 304;
        reply.body.clear();
    }
    std::string response =
        "HTTP/1.1 " + std::to_string(reply.status) + " " + reasonPhrase(reply.status) + "\r\n";
    response +=
        "Content-Length: " + std::to_string(reply.promisedLength.value_or(reply.body.size())) +
        "\r\n";
    if (!reply.location.empty())
        response += "Location: " + reply.location + "\r\n";
    if (!reply.etag.empty())
        response += "ETag: " + reply.etag + "\r\n";
    if (!reply.lastModified.empty())
        response += "Last-Modified: " + reply.lastModified + "\r\n";
    response += "Connection: close\r\n\r\n" + reply.body;
    sendAll(connection, response);
}

}  // namespace bw::test
