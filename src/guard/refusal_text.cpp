#include "guard/refusal_text.h"

#include <netinet/in.h>

#include <cstdio>

namespace bw {

namespace {

// A command name is whatever the program chose: quoted, so no name can pass
// for the fields that follow it.
std::string quoted(std::string_view name) {
    std::string text = "\"";
    for (unsigned char c : name) {
        if (c == '"' || c == '\\') {
            text += '\\';
            text += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", c);
            text += escape;
        } else {
            text += static_cast<char>(c);
        }
    }
    return text + "\"";
}

// Why no name can be given, or empty when one can.
std::string unnamedReason(const RefusalRecord& refusal) {
    if (refusal.pid == 0)
        return refusal.programUnknown.empty() ? std::string("not known") : refusal.programUnknown;
    if (refusal.command.empty())
        return "pid " + std::to_string(refusal.pid) + ", which ended before its name was read";
    return {};
}

}  // namespace

std::string protocolName(std::uint8_t protocol) {
    switch (protocol) {
        case IPPROTO_TCP:
            return "TCP";
        case IPPROTO_UDP:
            return "UDP";
        case IPPROTO_ICMP:
            return "ICMP";
        case IPPROTO_SCTP:
            return "SCTP";
        case IPPROTO_UDPLITE:
            return "UDP-Lite";
        default:
            return "protocol " + std::to_string(protocol);
    }
}

std::string_view directionText(RefusedDirection direction) {
    return direction == RefusedDirection::Incoming ? "incoming" : "outgoing";
}

std::string programText(const RefusalRecord& refusal) {
    const std::string why = unnamedReason(refusal);
    if (!why.empty())
        return "unknown (" + why + ")";
    return refusal.command + " (pid " + std::to_string(refusal.pid) + ")";
}

std::string refusalDetailsLine(const RefusalRecord& refusal) {
    const std::string why = unnamedReason(refusal);
    const std::string program =
        why.empty() ? quoted(refusal.command) + " (pid " + std::to_string(refusal.pid) + ")"
                    : "unknown (" + why + ")";
    return "    Details: program " + program + ", port " + std::to_string(refusal.port) + ", " +
           protocolName(refusal.protocol) + ", " + std::string(directionText(refusal.direction));
}

}  // namespace bw
