#pragma once

// The messages between a program and its bastionwatch-kernel helper over their
// socket pair: an 8-byte header (type, payload size, both native u32) and the
// payload. The helper trusts nothing it reads: every decoder checks sizes,
// counts and the shape of a table before anything is applied.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/address_interval.h"
#include "platform/kernel_guard.h"
#include "platform/tcp_table.h"

namespace bw {

enum class HelperMessageType : std::uint32_t {
    // From the program.
    Start = 1,     // empty: load and attach
    Table = 2,     // count u32, then count intervals (first u32, last u32); then,
                   // optionally, the IPv6 count u32 and intervals (first high u64,
                   // low u64, last high, low)
    Blocking = 3,  // u32: 0 off, 1 on
    Teardown = 4,  // one TcpRow, its addresses as 16 IPv6 bytes each
    // From the helper.
    Answer = 101,          // to Start, Table, Blocking: ok u32, then the reason as text
    Refusal = 102,         // one KernelRefusal
    Lost = 103,            // u64: refusals that could not be reported one by one
    TeardownResult = 104,  // closed u8, gone u8, then the reason as text
};

inline constexpr std::size_t kHelperHeaderSize = 8;
// The largest payload either side sends: a full table.
inline constexpr std::size_t kMaxHelperPayload =
    4 + 8 * kMaxKernelIntervals + 4 + 32 * kMaxKernelIntervals;
inline constexpr std::size_t kMaxHelperText = 4096;

struct HelperMessage {
    HelperMessageType type{};
    std::string payload;
};

enum class ReadOutcome { Message, Ended, Broken };

// Reads one whole message. Ended: the stream closed between messages. Broken:
// it closed inside one, or a header announced more than kMaxHelperPayload;
// the stream cannot be trusted after that (why in whyNot).
ReadOutcome readHelperMessage(int fd, HelperMessage& message, std::string& whyNot);
bool writeHelperMessage(int fd, HelperMessageType type, std::string_view payload);

// Both tables, replaced together.
struct KernelTables {
    std::vector<AddressInterval> v4;
    std::vector<Address6Interval> v6;
};

std::string encodeTable(std::span<const AddressInterval> intervals,
                        std::span<const Address6Interval> intervals6);
// The tables, when the size is exactly what their counts need and the
// intervals of each are sorted and disjoint (isKernelTable).
std::optional<KernelTables> decodeTable(std::string_view payload, std::string& whyNot);

std::string encodeFlag(bool on);
std::optional<bool> decodeFlag(std::string_view payload);

struct HelperAnswer {
    bool ok = false;
    std::string reason;
};
std::string encodeAnswer(const HelperAnswer& answer);
std::optional<HelperAnswer> decodeAnswer(std::string_view payload);

std::string encodeRow(const TcpRow& row);
std::optional<TcpRow> decodeRow(std::string_view payload);

std::string encodeRefusal(const KernelRefusal& refusal);
std::optional<KernelRefusal> decodeRefusal(std::string_view payload);

std::string encodeLost(std::uint64_t lost);
std::optional<std::uint64_t> decodeLost(std::string_view payload);

std::string encodeTeardownResult(const TeardownResult& result);
std::optional<TeardownResult> decodeTeardownResult(std::string_view payload);

}  // namespace bw
