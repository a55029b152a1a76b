#pragma once

// IPv6 documentation addresses on the loopback of a private network, and the
// errno of a UDP connect() to one, for scenarios of the kernel guard.

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <initializer_list>
#include <string>

#include "support/network_namespace.h"

namespace bw::test {

// Only inside a private network namespace; routed to when this returns, and
// usable by an ordinary user's namespace too.
inline bool addToLoopback6(std::initializer_list<const char*> addresses) {
    bool added = true;
    for (const char* a : addresses) added = addLoopbackAddress6(a) && added;
    return added;
}

// 0 when the connect went through.
inline int udpConnectError6(const char* address) {
    int fd = socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in6 to{};
    to.sin6_family = AF_INET6;
    to.sin6_port = htons(53);
    inet_pton(AF_INET6, address, &to.sin6_addr);
    int error = connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 ? 0 : errno;
    close(fd);
    return error;
}

}  // namespace bw::test
