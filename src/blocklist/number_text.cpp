#include "blocklist/number_text.h"

#include <charconv>
#include <cmath>
#include <cstdint>

#include "blocklist/characters.h"

namespace bw {

namespace {

// Up to 15 plain digits fit a double exactly: the common case, kept off from_chars.
std::optional<double> shortDigits(std::string_view digits) {
    if (digits.size() > 15)
        return std::nullopt;
    std::uint64_t value = 0;
    for (char c : digits) {
        if (!isDigit(c))
            return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return static_cast<double>(value);
}

}  // namespace

std::optional<double> numberFromText(std::string_view text) {
    text = trimBlanks(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || !isDigit(text.front()))
        return std::nullopt;
    std::optional<double> value = shortDigits(text);
    if (!value) {
        double parsed = 0;
        auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed);
        if (ec != std::errc() || end != text.data() + text.size())
            return std::nullopt;
        value = parsed;
    }
    return negative ? -*value : *value;
}

double leadingNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && isBlank(text[i])) ++i;
    std::string number;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        if (text[i] == '-')
            number += '-';
        ++i;
    }
    // A leading zero changes no value and lets ".5" and "-.5" convert.
    number += '0';
    bool point = false;
    bool digits = false;
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (isDigit(c)) {
            digits = true;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            break;
        }
        number += c;
    }
    if (!digits)
        return 0;
    if (number.back() == '.')
        number.pop_back();
    double value = 0;
    std::from_chars(number.data(), number.data() + number.size(), value);
    return value == 0 ? 0 : value;  // no "-0"
}

int roundHalfToEven(double value) {
    double rounded = std::round(value);
    if (std::fabs(value - std::trunc(value)) == 0.5)
        rounded = 2 * std::round(value / 2);
    return static_cast<int>(rounded);
}

std::string formatPlainNumber(double value) {
    if (value == 0 || std::isnan(value))
        return "0";
    char buffer[400];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    if (ec != std::errc())
        return "0";
    return std::string(buffer, end);
}

}  // namespace bw
