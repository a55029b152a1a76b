#include "blocklist/number_text.h"

#include <charconv>
#include <cmath>

namespace bw {

double leadingNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    std::string number;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        if (text[i] == '-') number += '-';
        ++i;
    }
    bool point = false;
    bool digits = false;
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (c >= '0' && c <= '9') {
            digits = true;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            break;
        }
        number += c;
    }
    if (!digits) return 0;
    if (number.back() == '.') number.pop_back();
    const char* begin = number.data();
    if (*begin == '.') {
        number.insert(0, "0");
        begin = number.data();
    } else if (begin[0] == '-' && begin[1] == '.') {
        number.insert(1, "0");
        begin = number.data();
    }
    double value = 0;
    std::from_chars(begin, number.data() + number.size(), value);
    return value == 0 ? 0 : value;  // no "-0"
}

std::string formatPlainNumber(double value) {
    if (value == 0 || std::isnan(value)) return "0";
    char buffer[400];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    if (ec != std::errc()) return "0";
    return std::string(buffer, end);
}

}  // namespace bw
