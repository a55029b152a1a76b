#pragma once

#include <string_view>

namespace bw {

// The character classes every list reader shares: blanks are spaces and tabs
// only (line ends are the line splitter's business), digits are ASCII only.
inline bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

inline bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

inline std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

}  // namespace bw
