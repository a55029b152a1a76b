#pragma once

#include <string_view>
#include <type_traits>
#include <vector>

namespace bw {

// Calls f(line) for every line of the bytes. CR, LF and CR LF each end a line,
// so files from any system read alike; a last line without a line end counts.
// Lines are views into bytes, without their line end. An f that returns a bool
// stops the reading by returning false.
template <class F>
void forEachLine(std::string_view bytes, F&& f) {
    const char* p = bytes.data();
    const char* const end = p + bytes.size();
    while (p < end) {
        const char* q = p;
        while (q < end && *q != '\r' && *q != '\n') ++q;
        const std::string_view line(p, static_cast<std::size_t>(q - p));
        if constexpr (std::is_same_v<std::invoke_result_t<F&, std::string_view>, bool>) {
            if (!f(line))
                return;
        } else {
            f(line);
        }
        if (q < end && *q == '\r' && q + 1 < end && q[1] == '\n')
            ++q;
        p = q + 1;
    }
}

std::vector<std::string_view> splitLines(std::string_view bytes);

}  // namespace bw
