#include "maintenance/link_intake.h"

#include <algorithm>

namespace bw {

namespace {

constexpr std::string_view kLinkPrefix = "bwdat://";

char asciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool isLink(std::string_view commandLineArgument) {
    if (commandLineArgument.size() < kLinkPrefix.size())
        return false;
    for (std::size_t i = 0; i < kLinkPrefix.size(); ++i) {
        if (asciiLower(commandLineArgument[i]) != kLinkPrefix[i])
            return false;
    }
    return true;
}

std::string linkPayload(std::string_view commandLineArgument) {
    if (!isLink(commandLineArgument))
        return {};
    return std::string(commandLineArgument.substr(kLinkPrefix.size()));
}

std::vector<std::string> linkLines(std::string_view payload) {
    std::vector<std::string> lines;
    for (std::size_t begin = 0;;) {
        const std::size_t slash = payload.find('/', begin);
        const std::string_view piece = payload.substr(begin, slash - begin);
        if (!piece.empty())
            lines.push_back(linkSegmentToLine(piece));
        if (slash == std::string_view::npos)
            break;
        begin = slash + 1;
    }
    return lines;
}

std::string percentDecoded(std::string_view text) {
    auto hexValue = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    std::string decoded;
    decoded.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        int high = text[i] == '%' && i + 2 < text.size() ? hexValue(text[i + 1]) : -1;
        int low = high >= 0 ? hexValue(text[i + 2]) : -1;
        if (low >= 0) {
            decoded += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            decoded += text[i];
        }
    }
    return decoded;
}

std::string linkSegmentToLine(std::string_view segment) {
    std::string line = percentDecoded(segment);
    // Colons first: the "@" that becomes the name's colon must not turn into a
    // dash. An IPv6 bound comes in brackets, whose colons are its own and stay;
    // a bracket left open keeps them to the end, and the line then reads as no
    // entry rather than as a different one.
    bool inBrackets = false;
    for (char& c : line) {
        if (c == '[')
            inBrackets = true;
        else if (c == ']')
            inBrackets = false;
        else if (c == ':' && !inBrackets)
            c = '-';
    }
    std::replace(line.begin(), line.end(), '@', ':');
    return line;
}

}  // namespace bw
