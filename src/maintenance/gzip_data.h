#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace bw {

// True when the bytes begin with the gzip magic number.
bool isGzip(std::string_view bytes);

struct Gunzipped {
    bool ok = false;
    std::string bytes;
    std::string error;  // why, when !ok
};

// Decompresses every gzip member of the bytes. A stream that breaks off, is
// corrupt, or grows beyond the limit fails.
Gunzipped gunzip(std::string_view bytes, std::size_t limit);

// The bytes as text: decompressed when gzip, as they are otherwise.
Gunzipped listText(std::string bytes, std::size_t limit);

}  // namespace bw
