// The TCP table through the kernel's socket diagnostics (netlink sock_diag):
// one dump of every TCP socket for IPv4 and one for IPv6 (whose IPv4-mapped
// connections are IPv4 connections of dual-stack programs); teardown is
// SOCK_DESTROY, which aborts the socket as if the peer had reset it.

#include <arpa/inet.h>
#include <errno.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstring>

#include "platform/tcp_table.h"

namespace bw {

namespace {

// Every state from established to new-SYN-received (1..12). Bound-but-idle
// sockets (13) have no connection and are left out.
constexpr std::uint32_t kAllConnectionStates = 0x1FFE;
// A connection request still waiting for its handshake's last ACK.
constexpr std::uint8_t kKernelNewSynRecv = 12;
constexpr std::size_t kReceiveBufferSize = 32768;  // the most the kernel fills per read

struct DiagRequest {
    nlmsghdr header;
    inet_diag_req_v2 body;
};

class NetlinkSocket {
public:
    NetlinkSocket() : fd_(socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG)) {}
    ~NetlinkSocket() {
        if (fd_ >= 0)
            close(fd_);
    }
    NetlinkSocket(const NetlinkSocket&) = delete;
    NetlinkSocket& operator=(const NetlinkSocket&) = delete;

    bool ok() const { return fd_ >= 0; }

    bool send(const DiagRequest& request) const {
        sockaddr_nl kernel{};
        kernel.nl_family = AF_NETLINK;
        ssize_t sent;
        do {
            sent = sendto(fd_, &request, sizeof request, 0, reinterpret_cast<sockaddr*>(&kernel),
                          sizeof kernel);
        } while (sent < 0 && errno == EINTR);
        return sent == static_cast<ssize_t>(sizeof request);
    }

    // One datagram of replies; negative on failure.
    ssize_t receive(char* buffer, std::size_t size) const {
        ssize_t got;
        do {
            got = recv(fd_, buffer, size, 0);
        } while (got < 0 && errno == EINTR);
        return got;
    }

private:
    int fd_;
};

DiagRequest makeRequest(std::uint16_t type, std::uint16_t flags, std::uint8_t family,
                        std::uint32_t sequence) {
    DiagRequest r{};
    r.header.nlmsg_len = sizeof r;
    r.header.nlmsg_type = type;
    r.header.nlmsg_flags = flags;
    r.header.nlmsg_seq = sequence;
    r.body.sdiag_family = family;
    r.body.sdiag_protocol = IPPROTO_TCP;
    r.body.idiag_states = kAllConnectionStates;
    return r;
}

std::uint32_t stateNumber(std::uint8_t kernelState) {
    switch (kernelState) {
        case TCP_ESTABLISHED:
            return kTcpEstablished;
        case TCP_SYN_SENT:
            return kTcpSynSent;
        case TCP_SYN_RECV:
            return kTcpSynReceived;
        case TCP_FIN_WAIT1:
            return kTcpFinWait1;
        case TCP_FIN_WAIT2:
            return kTcpFinWait2;
        case TCP_TIME_WAIT:
            return kTcpTimeWait;
        case TCP_CLOSE:
            return kTcpClosed;
        case TCP_CLOSE_WAIT:
            return kTcpCloseWait;
        case TCP_LAST_ACK:
            return kTcpLastAck;
        case TCP_LISTEN:
            return kTcpListen;
        case TCP_CLOSING:
            return kTcpClosing;
        case kKernelNewSynRecv:
            return kTcpSynReceived;
        default:
            return kTcpClosed;
    }
}

// The kernel's four words hold the 16 bytes in network order; an IPv4-mapped
// one becomes the IPv4 address it carries.
IpAddress v6AddressOf(const __be32 field[4]) {
    std::array<std::uint8_t, 16> bytes;
    std::memcpy(bytes.data(), field, bytes.size());
    return IpAddress::fromV6Bytes(bytes);
}

void putV6Address(const IpAddress& address, __be32 field[4]) {
    const std::array<std::uint8_t, 16> bytes = address.v6Bytes();
    std::memcpy(field, bytes.data(), bytes.size());
}

TcpRow rowFrom(const inet_diag_msg& m) {
    TcpRow row;
    if (m.idiag_family == AF_INET6) {
        row.family = TcpFamily::V6;
        row.localAddress = v6AddressOf(m.id.idiag_src);
        row.remoteAddress = v6AddressOf(m.id.idiag_dst);
    } else {
        row.localAddress = IpAddress::fromV4(ntohl(m.id.idiag_src[0]));
        row.remoteAddress = IpAddress::fromV4(ntohl(m.id.idiag_dst[0]));
    }
    row.state = stateNumber(m.idiag_state);
    row.localPort = m.id.idiag_sport;
    row.remotePort = m.id.idiag_dport;
    row.interfaceIndex = m.id.idiag_if;
    row.cookie = m.id.idiag_cookie[0] | (std::uint64_t{m.id.idiag_cookie[1]} << 32);
    row.inode = m.idiag_inode;
    return row;
}

// The row's addresses were folded from the kernel's exactly: an IPv6 socket's
// IPv4 address goes back in its mapped form, :: stays ::.
inet_diag_sockid socketIdOf(const TcpRow& row) {
    inet_diag_sockid id{};
    id.idiag_sport = static_cast<__be16>(row.localPort);
    id.idiag_dport = static_cast<__be16>(row.remotePort);
    if (row.family == TcpFamily::V6) {
        putV6Address(row.localAddress, id.idiag_src);
        putV6Address(row.remoteAddress, id.idiag_dst);
    } else {
        id.idiag_src[0] = htonl(row.localAddress.v4());
        id.idiag_dst[0] = htonl(row.remoteAddress.v4());
    }
    id.idiag_if = row.interfaceIndex;
    id.idiag_cookie[0] = static_cast<std::uint32_t>(row.cookie);
    id.idiag_cookie[1] = static_cast<std::uint32_t>(row.cookie >> 32);
    return id;
}

enum class DumpOutcome { Done, Failed, FamilyMissing };

class LinuxTcpTable : public TcpTable {
public:
    std::vector<TcpRow> readConnections(bool sorted) override {
        std::vector<TcpRow> rows;
        NetlinkSocket nl;
        if (!nl.ok())
            return {};
        if (dump(nl, AF_INET, rows) != DumpOutcome::Done)
            return {};
        // A kernel without IPv6 has no IPv6 sockets to report.
        if (dump(nl, AF_INET6, rows) == DumpOutcome::Failed)
            return {};
        if (sorted)
            sortTcpRows(rows);
        return rows;
    }

    TeardownResult teardown(const TcpRow& row) override {
        NetlinkSocket nl;
        if (!nl.ok())
            return {false, teardownRefusal(errno, row.state)};
        std::uint8_t family = row.family == TcpFamily::V6 ? AF_INET6 : AF_INET;
        DiagRequest request = makeRequest(SOCK_DESTROY, NLM_F_REQUEST | NLM_F_ACK, family, ++seq_);
        request.body.id = socketIdOf(row);
        if (!nl.send(request))
            return {false, teardownRefusal(errno, row.state)};
        int error = awaitAcknowledgement(nl, request.header.nlmsg_seq);
        if (error != 0) {
            bool gone = error == ENOENT || error == ESTALE;
            return {false, teardownRefusal(error, row.state), gone};
        }
        return {true, {}};
    }

private:
    DumpOutcome dump(const NetlinkSocket& nl, std::uint8_t family, std::vector<TcpRow>& rows) {
        DiagRequest request =
            makeRequest(SOCK_DIAG_BY_FAMILY, NLM_F_REQUEST | NLM_F_DUMP, family, ++seq_);
        if (!nl.send(request))
            return DumpOutcome::Failed;
        for (;;) {
            ssize_t got = nl.receive(buffer_.data(), buffer_.size());
            if (got <= 0)
                return DumpOutcome::Failed;
            auto* h = reinterpret_cast<nlmsghdr*>(buffer_.data());
            int left = static_cast<int>(got);
            for (; NLMSG_OK(h, left); h = NLMSG_NEXT(h, left)) {
                if (h->nlmsg_seq != request.header.nlmsg_seq)
                    continue;
                if (h->nlmsg_type == NLMSG_DONE)
                    return DumpOutcome::Done;
                if (h->nlmsg_type == NLMSG_ERROR)
                    return errorOutcome(h);
                if (h->nlmsg_type != SOCK_DIAG_BY_FAMILY)
                    continue;
                if (h->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg)))
                    return DumpOutcome::Failed;
                auto* m = static_cast<const inet_diag_msg*>(NLMSG_DATA(h));
                rows.push_back(rowFrom(*m));
            }
        }
    }

    static DumpOutcome errorOutcome(const nlmsghdr* h) {
        if (h->nlmsg_len < NLMSG_LENGTH(sizeof(nlmsgerr)))
            return DumpOutcome::Failed;
        int error = -static_cast<const nlmsgerr*>(NLMSG_DATA(h))->error;
        bool familyMissing = error == ENOENT || error == EAFNOSUPPORT || error == EINVAL;
        return familyMissing ? DumpOutcome::FamilyMissing : DumpOutcome::Failed;
    }

    // The error code the kernel acknowledged the request with: 0 for success.
    int awaitAcknowledgement(const NetlinkSocket& nl, std::uint32_t sequence) {
        for (;;) {
            ssize_t got = nl.receive(buffer_.data(), buffer_.size());
            if (got <= 0)
                return errno ? errno : EIO;
            auto* h = reinterpret_cast<nlmsghdr*>(buffer_.data());
            int left = static_cast<int>(got);
            for (; NLMSG_OK(h, left); h = NLMSG_NEXT(h, left)) {
                if (h->nlmsg_seq != sequence || h->nlmsg_type != NLMSG_ERROR)
                    continue;
                if (h->nlmsg_len < NLMSG_LENGTH(sizeof(nlmsgerr)))
                    return EIO;
                return -static_cast<const nlmsgerr*>(NLMSG_DATA(h))->error;
            }
        }
    }

    std::uint32_t seq_ = 0;
    alignas(nlmsghdr) std::array<char, kReceiveBufferSize> buffer_{};
};

}  // namespace

std::unique_ptr<TcpTable> makeSystemTcpTable() {
    return std::make_unique<LinuxTcpTable>();
}

}  // namespace bw
