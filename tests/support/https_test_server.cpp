#include "support/https_test_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>

namespace bw::test {

namespace {

// A self-signed certificate for 127.0.0.1 (its subject alternative name, which
// is what a client checks), valid from an hour ago for a day.
X509* selfSignedFor127(EVP_PKEY* key) {
    X509* cert = X509_new();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 24 * 3600);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
    X509_set_issuer_name(cert, name);
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    for (auto [nid, value] : {std::pair{NID_subject_alt_name, "IP:127.0.0.1"},
                              std::pair{NID_basic_constraints, "critical,CA:TRUE"}}) {
        X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
        X509_add_ext(cert, ext, -1);
        X509_EXTENSION_free(ext);
    }
    X509_sign(cert, key, EVP_sha256());
    return cert;
}

}  // namespace

HttpsTestServer::HttpsTestServer(std::string response)
    : certificate_(dir_.file("server.pem")), response_(std::move(response)) {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* cert = selfSignedFor127(key);
    if (std::FILE* out = std::fopen(certificate_.c_str(), "w")) {
        PEM_write_X509(out, cert);
        std::fclose(out);
    }
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate(context, cert);
    SSL_CTX_use_PrivateKey(context, key);
    X509_free(cert);
    EVP_PKEY_free(key);
    context_ = context;

    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 8) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
}

HttpsTestServer::~HttpsTestServer() {
    stop_ = true;
    thread_.join();
    ::close(listener_);
    SSL_CTX_free(static_cast<SSL_CTX*>(context_));
}

std::string HttpsTestServer::baseUrl() const {
    return "https://127.0.0.1:" + std::to_string(port_) + "/";
}

void HttpsTestServer::serve() {
    while (!stop_) {
        pollfd waiting{listener_, POLLIN, 0};
        if (::poll(&waiting, 1, 50) <= 0)
            continue;
        const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0)
            continue;
        SSL* tls = SSL_new(static_cast<SSL_CTX*>(context_));
        SSL_set_fd(tls, connection);
        if (SSL_accept(tls) == 1) {
            std::string head;
            char buffer[1024];
            while (head.find("\r\n\r\n") == std::string::npos) {
                const int n = SSL_read(tls, buffer, sizeof buffer);
                if (n <= 0)
                    break;
                head.append(buffer, static_cast<std::size_t>(n));
            }
            SSL_write(tls, response_.data(), static_cast<int>(response_.size()));
            ++answered_;
            SSL_shutdown(tls);
        }
        SSL_free(tls);
        ::close(connection);
    }
}

}  // namespace bw::test
