// What the kernel helper and the program read from each other: a stream of
// messages through the reader, and every payload through every decoder. What
// a decoder takes, its encoder must give back byte for byte (a table, which
// may come without its IPv6 part, as the same tables).

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "platform/kernel_helper_protocol.h"

namespace {

template <typename Decoded, typename Encode>
void checkRoundTrip(const Decoded& decoded, const std::string& payload, Encode encode) {
    if (decoded)
        BW_FUZZ_CHECK(encode(*decoded) == payload);
}

void decodeEveryWay(const std::string& payload) {
    std::string whyNot;
    const auto table = bw::decodeTable(payload, whyNot);
    BW_FUZZ_CHECK(table.has_value() == whyNot.empty());
    if (table) {
        BW_FUZZ_CHECK(bw::isKernelTable(table->v4) && bw::isKernelTable(table->v6));
        // A table without its IPv6 part is written back with an empty one.
        std::string again;
        const auto reread = bw::decodeTable(bw::encodeTable(table->v4, table->v6), again);
        BW_FUZZ_CHECK(reread && reread->v4 == table->v4 && reread->v6 == table->v6);
    }
    checkRoundTrip(bw::decodeFlag(payload), payload, bw::encodeFlag);
    checkRoundTrip(bw::decodeAnswer(payload), payload, bw::encodeAnswer);
    checkRoundTrip(bw::decodeRow(payload), payload, bw::encodeRow);
    checkRoundTrip(bw::decodeRefusal(payload), payload, bw::encodeRefusal);
    checkRoundTrip(bw::decodeLost(payload), payload, bw::encodeLost);
    checkRoundTrip(bw::decodeTeardownResult(payload), payload, bw::encodeTeardownResult);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A file in memory stands in for the socket: the reader sees the bytes
    // arrive and then the end of the stream, as from a peer that closed.
    const int fd = memfd_create("bw-fuzz-helper", MFD_CLOEXEC);
    if (fd < 0)
        return 0;
    if (write(fd, data, size) != static_cast<ssize_t>(size) || lseek(fd, 0, SEEK_SET) != 0) {
        close(fd);
        return 0;
    }
    bw::HelperMessage message;
    std::string whyNot;
    bw::ReadOutcome outcome;
    std::size_t consumed = 0;
    while ((outcome = bw::readHelperMessage(fd, message, whyNot)) == bw::ReadOutcome::Message) {
        BW_FUZZ_CHECK(message.payload.size() <= bw::kMaxHelperPayload);
        consumed += bw::kHelperHeaderSize + message.payload.size();
        decodeEveryWay(message.payload);
    }
    close(fd);
    BW_FUZZ_CHECK(consumed <= size);
    BW_FUZZ_CHECK((outcome == bw::ReadOutcome::Ended) == (consumed == size));
    BW_FUZZ_CHECK((outcome == bw::ReadOutcome::Broken) == !whyNot.empty());
    return 0;
}
