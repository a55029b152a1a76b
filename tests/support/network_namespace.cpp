#include "support/network_namespace.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <linux/ipv6_route.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <exception>

namespace bw::test {

namespace {

constexpr const char* kUnavailableMark = "__unavailable";
constexpr const char* kProblemMark = "__problem";
constexpr const char* kCompletedMark = "__completed";

std::string errorText(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

bool bringLoopbackUp(std::string& problem) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        problem = errorText("socket");
        return false;
    }
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags |= IFF_UP;
    up = up && ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    if (!up)
        problem = errorText("bringing loopback up");
    close(fd);
    return up;
}

// A new network namespace; where the process may not make one, one owned by
// a new user namespace, in which it holds the network rights all the same.
bool enterPrivateNetwork(std::string& problem) {
    if (unshare(CLONE_NEWNET) != 0 && unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) {
        problem = errorText("cannot create a private network namespace (unshare)");
        return false;
    }
    return bringLoopbackUp(problem);
}

void writeAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

std::string readAll(int fd) {
    std::string bytes;
    char buffer[4096];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return bytes;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
}

[[noreturn]] void runChild(int out, const std::function<void(Findings&)>& scenario) {
    Findings findings;
    std::string problem;
    if (enterPrivateNetwork(problem)) {
        try {
            scenario(findings);
            findings.set(kCompletedMark, "1");
        } catch (const std::exception& e) {
            findings.set(kProblemMark, std::string("scenario threw: ") + e.what());
        }
    } else {
        findings.set(kUnavailableMark, "1");
        findings.set(kProblemMark, problem);
    }
    writeAll(out, findings.encode());
    _exit(0);
}

sockaddr_in inetAddress(const char* address, std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, address, &a.sin_addr);
    return a;
}

int closedOnFailure(int fd, bool ok) {
    if (ok)
        return fd;
    if (fd >= 0)
        close(fd);
    return -1;
}

}  // namespace

std::string Findings::operator[](const std::string& key) const {
    auto it = values_.find(key);
    return it == values_.end() ? std::string() : it->second;
}

long long Findings::number(const std::string& key) const {
    std::string text = (*this)[key];
    return text.empty() ? -1 : std::stoll(text);
}

std::string Findings::encode() const {
    std::string bytes;
    for (const auto& [key, value] : values_) {
        bytes += key + "\n" + std::to_string(value.size()) + "\n" + value;
    }
    return bytes;
}

Findings Findings::decode(std::string_view bytes) {
    Findings findings;
    while (!bytes.empty()) {
        std::size_t keyEnd = bytes.find('\n');
        std::size_t sizeEnd = bytes.find('\n', keyEnd + 1);
        if (keyEnd == std::string_view::npos || sizeEnd == std::string_view::npos)
            break;
        std::string key(bytes.substr(0, keyEnd));
        std::size_t size = std::stoul(std::string(bytes.substr(keyEnd + 1, sizeEnd - keyEnd - 1)));
        findings.values_[key] = std::string(bytes.substr(sizeEnd + 1, size));
        bytes.remove_prefix(std::min(bytes.size(), sizeEnd + 1 + size));
    }
    return findings;
}

PrivateNetworkRun runInPrivateNetwork(const std::function<void(Findings&)>& scenario) {
    PrivateNetworkRun run;
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
        run.created = true;  // not the namespace's fault: fail, do not skip
        run.problem = errorText("pipe");
        return run;
    }
    pid_t child = fork();
    if (child == 0) {
        close(pipeEnds[0]);
        runChild(pipeEnds[1], scenario);
    }
    close(pipeEnds[1]);
    std::string bytes = child > 0 ? readAll(pipeEnds[0]) : std::string();
    close(pipeEnds[0]);
    int status = 0;
    if (child > 0)
        waitpid(child, &status, 0);
    run.findings = Findings::decode(bytes);
    // A child that died without a word did get its namespace: that is a failure, not a skip.
    run.created = run.findings[kUnavailableMark] != "1";
    run.completed = run.findings[kCompletedMark] == "1";
    run.problem = run.findings[kProblemMark];
    if (child < 0)
        run.problem = errorText("fork");
    if (child > 0 && !(WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
        run.problem +=
            " (the scenario's process ended abnormally, status " + std::to_string(status) + ")";
    }
    return run;
}

bool dropNetworkAdministration() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (syscall(SYS_capget, &header, data) != 0)
        return false;
    const unsigned bit = 1u << (CAP_NET_ADMIN % 32);
    const int word = CAP_NET_ADMIN / 32;
    data[word].effective &= ~bit;
    data[word].permitted &= ~bit;
    data[word].inheritable &= ~bit;
    return syscall(SYS_capset, &header, data) == 0;
}

int listenOn(const char* address, std::uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in a = inetAddress(address, port);
    bool ok = fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
              listen(fd, SOMAXCONN) == 0;
    return closedOnFailure(fd, ok);
}

int connectFrom(const char* localAddress, const char* address, std::uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in local = inetAddress(localAddress, 0);
    sockaddr_in remote = inetAddress(address, port);
    bool ok = fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
              connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) == 0;
    return closedOnFailure(fd, ok);
}

int acceptOne(int listener) {
    // A guard against hanging when the connect failed, never a measure.
    pollfd p{listener, POLLIN, 0};
    if (listener < 0 || poll(&p, 1, 10000) != 1)
        return -1;
    return accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
}

int listenDualStack(std::uint16_t port) {
    int fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int no = 0, yes = 1;
    setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &no, sizeof no);
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_port = htons(port);
    a.sin6_addr = in6addr_any;
    bool ok = fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
              listen(fd, SOMAXCONN) == 0;
    return closedOnFailure(fd, ok);
}

int connect6(const char* address, std::uint16_t port) {
    int fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_port = htons(port);
    bool ok = fd >= 0 && inet_pton(AF_INET6, address, &a.sin6_addr) == 1 &&
              connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    return closedOnFailure(fd, ok);
}

namespace {

sockaddr_in6 inet6Address(const char* address, std::uint16_t port) {
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_port = htons(port);
    inet_pton(AF_INET6, address, &a.sin6_addr);
    return a;
}

}  // namespace

int listenOn6(const char* address, std::uint16_t port) {
    int fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int yes = 1;
    setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &yes, sizeof yes);
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in6 a = inet6Address(address, port);
    bool ok = fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
              listen(fd, SOMAXCONN) == 0;
    return closedOnFailure(fd, ok);
}

int connect6From(const char* localAddress, const char* address, std::uint16_t port) {
    sockaddr_in6 local = inet6Address(localAddress, 0);
    sockaddr_in6 remote = inet6Address(address, port);
    // An address just put on the loopback can be unreachable for a moment
    // while the kernel finishes it; anything else is the answer.
    for (int attempt = 0; attempt < 5000; ++attempt) {
        int fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
        bool ok = fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
                  connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) == 0;
        const int error = errno;
        fd = closedOnFailure(fd, ok);
        if (fd >= 0 || error != ENETUNREACH)
            return fd;
        usleep(1000);
    }
    return -1;
}

namespace {

// Whether this network namespace routes to an address as its own: the local
// route (RTF_LOCAL) in /proc/net/ipv6_route. A prefix route to a /128 on the
// loopback is listed too, as a reject route, from the moment it is added.
bool hasLocalRoute6(const in6_addr& address) {
    char wanted[33];
    for (int i = 0; i < 16; ++i) std::snprintf(wanted + 2 * i, 3, "%02x", address.s6_addr[i]);
    FILE* routes = std::fopen("/proc/net/ipv6_route", "r");
    if (!routes)
        return false;
    char line[256];
    bool found = false;
    while (!found && std::fgets(line, sizeof line, routes)) {
        char destination[33];
        unsigned prefix = 0;
        unsigned long flags = 0;
        found = std::sscanf(line, "%32s %x %*s %*s %*s %*s %*s %*s %lx", destination, &prefix,
                            &flags) == 3 &&
                std::strcmp(destination, wanted) == 0 && prefix == 128 && (flags & RTF_LOCAL) != 0;
    }
    std::fclose(routes);
    return found;
}

// The kernel puts an added address's local route in place a moment after it
// acknowledges the address. A UDP socket connected in between takes the
// loopback's reject route, which discards its datagrams without an error, so
// a scenario would see them "sent" without the guard ever seeing them.
bool awaitLocalRoute6(const in6_addr& address) {
    for (int attempt = 0; attempt < 5000; ++attempt) {
        if (hasLocalRoute6(address))
            return true;
        usleep(1000);
    }
    return false;
}

}  // namespace

// Through rtnetlink in this process, as `ip -6 addr add ADDRESS/128 dev lo
// nodad` would: a program started from here would lose the network rights
// an ordinary user holds only inside its own user namespace.
bool addLoopbackAddress6(const char* address) {
    struct {
        nlmsghdr header;
        ifaddrmsg body;
        char attributes[2 * RTA_SPACE(sizeof(in6_addr))];
    } request{};
    in6_addr bytes{};
    if (inet_pton(AF_INET6, address, &bytes) != 1)
        return false;
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof request.body);
    request.header.nlmsg_type = RTM_NEWADDR;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_CREATE | NLM_F_EXCL | NLM_F_ACK;
    request.body.ifa_family = AF_INET6;
    request.body.ifa_prefixlen = 128;
    request.body.ifa_flags = IFA_F_NODAD;
    request.body.ifa_index = if_nametoindex("lo");
    for (unsigned short type : {IFA_LOCAL, IFA_ADDRESS}) {
        auto* attribute = reinterpret_cast<rtattr*>(reinterpret_cast<char*>(&request) +
                                                    NLMSG_ALIGN(request.header.nlmsg_len));
        attribute->rta_type = type;
        attribute->rta_len = RTA_LENGTH(sizeof bytes);
        std::memcpy(RTA_DATA(attribute), &bytes, sizeof bytes);
        request.header.nlmsg_len = NLMSG_ALIGN(request.header.nlmsg_len) + attribute->rta_len;
    }
    int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0)
        return false;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    bool sent =
        sendto(fd, &request, request.header.nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel),
               sizeof kernel) == static_cast<ssize_t>(request.header.nlmsg_len);
    alignas(nlmsghdr) char answer[512];
    ssize_t got = sent ? recv(fd, answer, sizeof answer, 0) : -1;
    close(fd);
    auto* reply = reinterpret_cast<nlmsghdr*>(answer);
    if (got < static_cast<ssize_t>(NLMSG_LENGTH(sizeof(nlmsgerr))) ||
        reply->nlmsg_type != NLMSG_ERROR ||
        static_cast<const nlmsgerr*>(NLMSG_DATA(reply))->error != 0)
        return false;
    return awaitLocalRoute6(bytes);
}

bool carriesData(int from, int to, std::string_view text) {
    if (send(from, text.data(), text.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(text.size())) {
        return false;
    }
    std::string got;
    while (got.size() < text.size()) {
        // A guard against hanging, never a measure: loopback data is there at once.
        pollfd p{to, POLLIN, 0};
        if (poll(&p, 1, 10000) != 1)
            return false;
        char buffer[256];
        ssize_t n = recv(to, buffer, sizeof buffer, 0);
        if (n <= 0)
            return false;
        got.append(buffer, static_cast<std::size_t>(n));
    }
    return got == text;
}

int readError(int fd) {
    char byte;
    ssize_t n = recv(fd, &byte, 1, MSG_DONTWAIT);
    if (n >= 0 || errno == EAGAIN || errno == EWOULDBLOCK)
        return 0;
    return errno;
}

}  // namespace bw::test
