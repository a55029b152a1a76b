#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/host.h"
#include "platform/registry.h"

namespace bw {

// Creates registry keys and writes values given as full text paths
// ("HKEY_CLASSES_ROOT\bwdat\shell"). Every registry failure is silent; only a
// path of the wrong form is reported, with a message box.
class RegWrite {
public:
    RegWrite(Registry& registry, Host& host);

    // The handle of a root key name (exact case), or 0 for any other name.
    std::uint32_t ROOTKEY(std::string_view rootName);
    // Checks the path's form, then leaves the subkey path in path and the root's
    // handle in root. A path of the wrong form shows "Incorrect Format:" and
    // gives root 0, so the calling operation ends without touching the registry.
    void SPLITPATH(std::string& path, std::uint32_t& root);

    void CREATEKEY(std::string path);
    void SETSTRING(std::string path, std::string_view valueName, std::string_view text);
    // The value's bytes are the text's characters, one byte each.
    void SETBINARY(std::string path, std::string_view valueName, std::string_view text);

private:
    void setValue(std::string path, std::string_view valueName, RegistryValueType type);

    Registry& registry_;
    Host& host_;
    // Working values kept between calls, as the helper always has; nobody reads them back.
    std::uint32_t rootKey_ = 0;
    RegistryKey openKey_ = 0;
    RegistryStatus lastResult_ = kRegistryOk;
    std::string valueBuffer_;
};

}  // namespace bw
