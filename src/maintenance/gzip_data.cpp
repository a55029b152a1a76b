#include "maintenance/gzip_data.h"

#include <zlib.h>

#include <algorithm>

namespace bw {

bool isGzip(std::string_view bytes) {
    return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0x1F &&
           static_cast<unsigned char>(bytes[1]) == 0x8B;
}

namespace {

// The size the last member's trailer announces (modulo 4 GiB): a good first guess
// for the output, so it is allocated once instead of grown step by step.
std::size_t announcedSize(std::string_view bytes) {
    if (bytes.size() < 18)
        return 0;
    const auto* tail = reinterpret_cast<const unsigned char*>(bytes.data() + bytes.size() - 4);
    return std::size_t{tail[0]} | std::size_t{tail[1]} << 8 | std::size_t{tail[2]} << 16 |
           std::size_t{tail[3]} << 24;
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
    // One byte over the limit tells a list that is too big from one that just fits.
    out.bytes.resize(std::min(limit + 1, std::max<std::size_t>(announcedSize(bytes), 1 << 16)));
    std::size_t produced = 0;
    auto fail = [&](std::string why) {
        inflateEnd(&stream);
        return Gunzipped{false, {}, std::move(why)};
    };
    for (;;) {
        if (produced == out.bytes.size())
            out.bytes.resize(std::min(limit + 1, out.bytes.size() * 2));
        const auto room = static_cast<uInt>(
            std::min<std::size_t>(out.bytes.size() - produced, std::size_t{1} << 30));
        stream.next_out = reinterpret_cast<Bytef*>(out.bytes.data() + produced);
        stream.avail_out = room;
        const int status = inflate(&stream, Z_NO_FLUSH);
        produced += room - stream.avail_out;
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
    out.bytes.resize(produced);
    out.ok = true;
    return out;
}

Gunzipped listText(std::string bytes, std::size_t limit) {
    if (isGzip(bytes))
        return gunzip(bytes, limit);
    return {true, std::move(bytes), {}};
}

}  // namespace bw
