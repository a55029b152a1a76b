#pragma once

#include <string_view>
#include <vector>

namespace bw {

// Calls f(line) for every line of the bytes. CR, LF and CR LF each end a line,
// so files from any system read alike; a last line without a line end counts.
// Lines are views into bytes, without their line end.
template <class F>
void forEachLine(std::string_view bytes, F&& f) {
    const char* p = bytes.data();
    const char* const end = p + bytes.size();
    while (p < end) {
        const char* q = p;
        while (q < end && *q != '\r' && *q != '\n') ++q;
        f(std::string_view(p, static_cast<std::size_t>(q - p)));
        if (q < end && *q == '\r' && q + 1 < end && q[1] == '\n')
            ++q;
        p = q + 1;
    }
}

std::vector<std::string_view> splitLines(std::string_view bytes);

}  // namespace bw
