#include "maintenance/gzip_data.h"

#include <zlib.h>

#include <algorithm>

namespace bw {

bool isGzip(std::string_view bytes) {
    return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0x1F &&
           static_cast<unsigned char>(bytes[1]) == 0x8B;
}

namespace {

// Deflate never packs more than about 1032 bytes into one: a bound on what the
// input can give, whatever its trailer claims.
constexpr std::size_t kMostInflatedPerByte = 1032;

// The size the last member's trailer announces (modulo 4 GiB), believed only as
// far as the input could inflate: a good guess for the room to keep, so the
// output is not copied while it grows. Nothing is allocated from it alone.
std::size_t expectedSize(std::string_view bytes, std::size_t limit) {
    if (bytes.size() < 18)
        return 0;
    const auto* tail = reinterpret_cast<const unsigned char*>(bytes.data() + bytes.size() - 4);
    const std::size_t announced = std::size_t{tail[0]} | std::size_t{tail[1]} << 8 |
                                  std::size_t{tail[2]} << 16 | std::size_t{tail[3]} << 24;
    return std::min({announced, bytes.size() * kMostInflatedPerByte, limit + 1});
}

}  // namespace

Gunzipped gunzip(std::string_view bytes, std::size_t limit) {
    z_stream stream{};
    // 16 + MAX_WBITS: a gzip wrapper, not a bare zlib stream.
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK)
        return {false, {}, "cannot start decompressing"};
    Gunzipped out;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream.avail_in = static_cast<uInt>(bytes.size());
    // Room is reserved, not filled: only the pages the output reaches are ever touched.
    out.bytes.reserve(std::max<std::size_t>(expectedSize(bytes, limit), 1 << 16));
    std::size_t produced = 0;
    auto fail = [&](std::string why) {
        inflateEnd(&stream);
        return Gunzipped{false, {}, std::move(why)};
    };
    for (;;) {
        // One byte over the limit tells a list that is too big from one that just fits.
        if (produced == out.bytes.capacity())
            out.bytes.reserve(std::min(limit + 1, out.bytes.capacity() * 2));
        // The output grows by what inflates, one step of at most 1 MiB at a time.
        const std::size_t room =
            std::min({out.bytes.capacity() - produced, limit + 1 - produced, std::size_t{1} << 20});
        out.bytes.resize(produced + room);
        stream.next_out = reinterpret_cast<Bytef*>(out.bytes.data() + produced);
        stream.avail_out = static_cast<uInt>(room);
        const int status = inflate(&stream, Z_NO_FLUSH);
        produced += room - stream.avail_out;
        out.bytes.resize(produced);
        if (produced > limit)
            return fail("the list grows beyond " + std::to_string(limit) + " bytes");
        if (status == Z_STREAM_END) {
            // Concatenated members decompress one after another.
            if (stream.avail_in == 0 ||
                !isGzip({reinterpret_cast<const char*>(stream.next_in), stream.avail_in}))
                break;
            inflateReset(&stream);
            continue;
        }
        if (status == Z_BUF_ERROR && stream.avail_out == 0)
            continue;  // only the output was full
        if (status != Z_OK) {
            return fail(status == Z_BUF_ERROR ? "the compressed list breaks off before its end"
                                              : "the compressed list is damaged");
        }
    }
    inflateEnd(&stream);
    out.ok = true;
    return out;
}

Gunzipped listText(std::string bytes, std::size_t limit) {
    if (isGzip(bytes))
        return gunzip(bytes, limit);
    return {true, std::move(bytes), {}};
}

}  // namespace bw
