#include "maintenance/gzip_data.h"

#include <zlib.h>

#include <algorithm>

namespace bw {

bool isGzip(std::string_view bytes) {
    return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0x1F &&
           static_cast<unsigned char>(bytes[1]) == 0x8B;
}

Gunzipped gunzip(std::string_view bytes, std::size_t limit) {
    z_stream stream{};
    // 16 + MAX_WBITS: a gzip wrapper, not a bare zlib stream.
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK)
        return {false, {}, "cannot start decompressing"};
    Gunzipped out;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream.avail_in = static_cast<uInt>(bytes.size());
    std::string chunk(1 << 16, '\0');
    int status = Z_OK;
    for (;;) {
        stream.next_out = reinterpret_cast<Bytef*>(chunk.data());
        stream.avail_out = static_cast<uInt>(chunk.size());
        status = inflate(&stream, Z_NO_FLUSH);
        out.bytes.append(chunk.data(), chunk.size() - stream.avail_out);
        if (out.bytes.size() > limit) {
            inflateEnd(&stream);
            return {false, {}, "the list grows beyond " + std::to_string(limit) + " bytes"};
        }
        if (status == Z_STREAM_END) {
            // Concatenated members decompress one after another.
            if (stream.avail_in == 0 ||
                !isGzip({reinterpret_cast<const char*>(stream.next_in), stream.avail_in}))
                break;
            inflateReset(&stream);
            continue;
        }
        if (status != Z_OK) {
            inflateEnd(&stream);
            bool cut = status == Z_BUF_ERROR;
            return {false,
                    {},
                    cut ? "the compressed list breaks off before its end"
                        : "the compressed list is damaged"};
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
