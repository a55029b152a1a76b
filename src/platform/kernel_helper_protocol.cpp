#include "platform/kernel_helper_protocol.h"

#include <errno.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace bw {

namespace {

// An address of either family, as its 16 IPv6 bytes (IPv4 in the mapped form).
using AddressBytes = std::array<std::uint8_t, 16>;

template <typename T>
void put(std::string& out, T value) {
    char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    out.append(bytes, sizeof(T));
}

// Reads values front to back; fails for good once the bytes run out.
class Reader {
public:
    explicit Reader(std::string_view bytes) : bytes_(bytes) {}

    template <typename T>
    T take() {
        T value{};
        if (bytes_.size() < sizeof(T)) {
            failed_ = true;
            bytes_ = {};
            return value;
        }
        std::memcpy(&value, bytes_.data(), sizeof(T));
        bytes_.remove_prefix(sizeof(T));
        return value;
    }
    std::string rest() {
        std::string text(bytes_);
        bytes_ = {};
        return text;
    }
    bool ok() const { return !failed_; }
    bool done() const { return !failed_ && bytes_.empty(); }

private:
    std::string_view bytes_;
    bool failed_ = false;
};

// 0 when the stream ended before the first byte, 1 when all came, -1 otherwise.
int readExactly(int fd, char* into, std::size_t size) {
    std::size_t got = 0;
    while (got < size) {
        ssize_t n = read(fd, into + got, size - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return got == 0 ? 0 : -1;
        got += static_cast<std::size_t>(n);
    }
    return 1;
}

std::string boundedText(std::string text) {
    if (text.size() > kMaxHelperText)
        text.resize(kMaxHelperText);
    return text;
}

}  // namespace

ReadOutcome readHelperMessage(int fd, HelperMessage& message, std::string& whyNot) {
    char header[kHelperHeaderSize];
    int got = readExactly(fd, header, sizeof header);
    if (got == 0)
        return ReadOutcome::Ended;
    if (got < 0) {
        whyNot = "the message header was cut short";
        return ReadOutcome::Broken;
    }
    std::uint32_t type, size;
    std::memcpy(&type, header, 4);
    std::memcpy(&size, header + 4, 4);
    if (size > kMaxHelperPayload) {
        whyNot = "a message announced " + std::to_string(size) + " bytes";
        return ReadOutcome::Broken;
    }
    message.type = static_cast<HelperMessageType>(type);
    message.payload.clear();
    // Grown as the bytes arrive: a header alone never makes the reader set
    // aside what it announces.
    constexpr std::size_t kStep = 64 * 1024;
    while (message.payload.size() < size) {
        std::size_t have = message.payload.size();
        std::size_t step = std::min<std::size_t>(kStep, size - have);
        message.payload.resize(have + step);
        if (readExactly(fd, message.payload.data() + have, step) != 1) {
            whyNot = "a message was cut short";
            return ReadOutcome::Broken;
        }
    }
    return ReadOutcome::Message;
}

bool writeHelperMessage(int fd, HelperMessageType type, std::string_view payload) {
    std::string bytes;
    bytes.reserve(kHelperHeaderSize + payload.size());
    put(bytes, static_cast<std::uint32_t>(type));
    put(bytes, static_cast<std::uint32_t>(payload.size()));
    bytes.append(payload);
    std::size_t done = 0;
    while (done < bytes.size()) {
        // A closed peer is an answer (false), not a SIGPIPE that ends the process.
        ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == ENOTSOCK)
            n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string encodeTable(std::span<const AddressInterval> intervals,
                        std::span<const Address6Interval> intervals6) {
    std::string out;
    out.reserve(8 + 8 * intervals.size() + 32 * intervals6.size());
    put(out, static_cast<std::uint32_t>(intervals.size()));
    for (const AddressInterval& i : intervals) {
        put(out, i.first);
        put(out, i.last);
    }
    put(out, static_cast<std::uint32_t>(intervals6.size()));
    for (const Address6Interval& i : intervals6) {
        put(out, i.first.high);
        put(out, i.first.low);
        put(out, i.last.high);
        put(out, i.last.low);
    }
    return out;
}

std::optional<KernelTables> decodeTable(std::string_view payload, std::string& whyNot) {
    Reader in(payload);
    auto count = in.take<std::uint32_t>();
    if (!in.ok() || count > kMaxKernelIntervals) {
        whyNot = "the table's count is missing or too large";
        return std::nullopt;
    }
    // The IPv6 count is read where the IPv4 table ends, so the sizes are
    // checked before anything is set aside for either. A table that ends
    // there has no IPv6 part: the IPv6 table becomes empty.
    const std::size_t v4Size = 4 + 8 * std::size_t{count};
    if (payload.size() != v4Size && payload.size() < v4Size + 4) {
        whyNot = "the table's size does not match its count";
        return std::nullopt;
    }
    std::uint32_t count6 = 0;
    if (payload.size() > v4Size)
        std::memcpy(&count6, payload.data() + v4Size, 4);
    if (count6 > kMaxKernelIntervals) {
        whyNot = "the IPv6 table's count is too large";
        return std::nullopt;
    }
    if (payload.size() > v4Size && payload.size() != v4Size + 4 + 32 * std::size_t{count6}) {
        whyNot = "the table's size does not match its count";
        return std::nullopt;
    }
    KernelTables tables;
    tables.v4.resize(count);
    for (AddressInterval& i : tables.v4) {
        i.first = in.take<std::uint32_t>();
        i.last = in.take<std::uint32_t>();
    }
    in.take<std::uint32_t>();
    tables.v6.resize(count6);
    for (Address6Interval& i : tables.v6) {
        i.first.high = in.take<std::uint64_t>();
        i.first.low = in.take<std::uint64_t>();
        i.last.high = in.take<std::uint64_t>();
        i.last.low = in.take<std::uint64_t>();
    }
    if (!isKernelTable(tables.v4) || !isKernelTable(tables.v6)) {
        whyNot = "the table is not sorted and disjoint";
        return std::nullopt;
    }
    return tables;
}

std::string encodeFlag(bool on) {
    std::string out;
    put(out, std::uint32_t{on ? 1u : 0u});
    return out;
}

std::optional<bool> decodeFlag(std::string_view payload) {
    Reader in(payload);
    auto value = in.take<std::uint32_t>();
    if (!in.done() || value > 1)
        return std::nullopt;
    return value == 1;
}

std::string encodeAnswer(const HelperAnswer& answer) {
    std::string out;
    put(out, std::uint32_t{answer.ok ? 1u : 0u});
    out += boundedText(answer.reason);
    return out;
}

std::optional<HelperAnswer> decodeAnswer(std::string_view payload) {
    Reader in(payload);
    auto ok = in.take<std::uint32_t>();
    if (!in.ok() || ok > 1 || payload.size() > 4 + kMaxHelperText)
        return std::nullopt;
    return HelperAnswer{ok == 1, in.rest()};
}

std::string encodeRow(const TcpRow& row) {
    std::string out;
    put(out, row.state);
    put(out, row.localAddress.v6Bytes());
    put(out, row.localPort);
    put(out, row.remoteAddress.v6Bytes());
    put(out, row.remotePort);
    put(out, static_cast<std::uint32_t>(row.family));
    put(out, row.interfaceIndex);
    put(out, row.cookie);
    return out;
}

std::optional<TcpRow> decodeRow(std::string_view payload) {
    Reader in(payload);
    TcpRow row;
    row.state = in.take<std::uint32_t>();
    row.localAddress = IpAddress::fromV6Bytes(in.take<AddressBytes>());
    row.localPort = in.take<std::uint32_t>();
    row.remoteAddress = IpAddress::fromV6Bytes(in.take<AddressBytes>());
    row.remotePort = in.take<std::uint32_t>();
    auto family = in.take<std::uint32_t>();
    row.interfaceIndex = in.take<std::uint32_t>();
    row.cookie = in.take<std::uint64_t>();
    if (!in.done() || family > static_cast<std::uint32_t>(TcpFamily::V6))
        return std::nullopt;
    // An IPv4 socket has no IPv6 address to name.
    if (family == static_cast<std::uint32_t>(TcpFamily::V4) &&
        !(row.localAddress.isV4() && row.remoteAddress.isV4()))
        return std::nullopt;
    row.family = static_cast<TcpFamily>(family);
    return row;
}

// The peer goes as its 16 bytes (an IPv4 address in its mapped form), so
// either family reads back as itself.
std::string encodeRefusal(const KernelRefusal& r) {
    std::string out;
    const std::array<std::uint8_t, 16> bytes = r.address.v6Bytes();
    out.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    put(out, r.pid);
    put(out, r.port);
    put(out, r.protocol);
    put(out, static_cast<std::uint8_t>(r.direction));
    out += r.command.substr(0, 16);
    return out;
}

std::optional<KernelRefusal> decodeRefusal(std::string_view payload) {
    Reader in(payload);
    std::array<std::uint8_t, 16> bytes;
    for (std::uint8_t& b : bytes) b = in.take<std::uint8_t>();
    KernelRefusal r;
    r.address = IpAddress::fromV6Bytes(bytes);
    r.pid = in.take<std::uint32_t>();
    r.port = in.take<std::uint16_t>();
    r.protocol = in.take<std::uint8_t>();
    auto direction = in.take<std::uint8_t>();
    if (!in.ok() || direction > 1 || payload.size() > 24 + 16)
        return std::nullopt;
    r.direction = static_cast<RefusalDirection>(direction);
    r.command = in.rest();
    return r;
}

std::string encodeLost(std::uint64_t lost) {
    std::string out;
    put(out, lost);
    return out;
}

std::optional<std::uint64_t> decodeLost(std::string_view payload) {
    Reader in(payload);
    auto lost = in.take<std::uint64_t>();
    if (!in.done())
        return std::nullopt;
    return lost;
}

std::string encodeTeardownResult(const TeardownResult& result) {
    std::string out;
    put(out, std::uint8_t{result.closed});
    put(out, std::uint8_t{result.gone});
    out += boundedText(result.reason);
    return out;
}

std::optional<TeardownResult> decodeTeardownResult(std::string_view payload) {
    Reader in(payload);
    auto closed = in.take<std::uint8_t>();
    auto gone = in.take<std::uint8_t>();
    if (!in.ok() || closed > 1 || gone > 1 || payload.size() > 2 + kMaxHelperText)
        return std::nullopt;
    return TeardownResult{closed == 1, in.rest(), gone == 1};
}

}  // namespace bw
