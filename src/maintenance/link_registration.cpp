#include "maintenance/link_registration.h"

#include <string>
#include <string_view>

namespace bw {

namespace {

constexpr std::string_view kSchemeKey = "HKEY_CLASSES_ROOT\\bwdat";
constexpr std::string_view kCommandKey = "HKEY_CLASSES_ROOT\\bwdat\\shell\\open\\command";

}  // namespace

void registerLinkScheme(RegWrite& regWrite, const std::filesystem::path& executable) {
    // Keys first: the value writers only open keys that exist.
    regWrite.CREATEKEY(std::string(kSchemeKey));
    regWrite.CREATEKEY("HKEY_CLASSES_ROOT\\bwdat\\shell");
    regWrite.CREATEKEY("HKEY_CLASSES_ROOT\\bwdat\\shell\\open");
    regWrite.CREATEKEY(std::string(kCommandKey));
    regWrite.SETSTRING(std::string(kSchemeKey), "", "URL: ZQ Hub Address");
    regWrite.SETSTRING(std::string(kSchemeKey), "URL Protocol", "");
    regWrite.SETBINARY(std::string(kSchemeKey), "EditFlags", std::string_view("\x02\0\0\0", 4));
    std::string command(1, '"');
    command += executable.string();
    command += "\" %1";
    regWrite.SETSTRING(std::string(kCommandKey), "", command);
}

}  // namespace bw
