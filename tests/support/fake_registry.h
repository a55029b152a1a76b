#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace bw::test {

// Printable bytes as they are, others as \xNN, null as \0; in double quotes.
inline std::string describeValueData(std::string_view data) {
    static const char* digits = "0123456789abcdef";
    std::string out = "\"";
    for (unsigned char c : data) {
        if (c == 0) {
            out += "\\0";
        } else if (c < 0x20 || c >= 0x7f) {
            out += "\\x";
            out += digits[c >> 4];
            out += digits[c & 0xf];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// A Registry that records every call as a line, such as
//   create 80000000 "bwdat" -> 1
//   set 2 "URL Protocol" string "\0"
// and keeps the values written, keyed "<root hex>\<subkey>|<value name>".
// Calls fail with the codes set below.
class FakeRegistry : public Registry {
public:
    RegistryStatus createKey(RegistryKey root, std::string_view subkey, RegistryKey& key) override {
        key = createResult == kRegistryOk ? nextKey++ : 0;
        if (key)
            openKeys[key] = rootName(root) + "\\" + std::string(subkey);
        calls.push_back("create " + rootName(root) + " \"" + std::string(subkey) + "\" -> " +
                        std::to_string(key));
        return createResult;
    }
    RegistryStatus openKeyForWriting(RegistryKey root, std::string_view subkey,
                                     RegistryKey& key) override {
        key = openResult == kRegistryOk ? nextKey++ : 0;
        if (key)
            openKeys[key] = rootName(root) + "\\" + std::string(subkey);
        calls.push_back("open " + rootName(root) + " \"" + std::string(subkey) + "\" -> " +
                        std::to_string(key));
        return openResult;
    }
    RegistryStatus setValue(RegistryKey key, std::string_view valueName, RegistryValueType type,
                            std::string_view data) override {
        calls.push_back("set " + std::to_string(key) + " \"" + std::string(valueName) + "\" " +
                        (type == RegistryValueType::String ? "string " : "binary ") +
                        describeValueData(data));
        if (setResult == kRegistryOk) {
            values[openKeys[key] + "|" + std::string(valueName)] = std::string(data);
        }
        return setResult;
    }
    RegistryStatus closeKey(RegistryKey key) override {
        calls.push_back("close " + std::to_string(key));
        return openKeys.erase(key) == 1 ? kRegistryOk : kRegistryBadKey;
    }

    static std::string rootName(RegistryKey root) {
        static const char* digits = "0123456789abcdef";
        std::string hex;
        for (int shift = 28; shift >= 0; shift -= 4) hex += digits[(root >> shift) & 0xf];
        return hex;
    }

    std::vector<std::string> calls;
    std::map<std::string, std::string> values;
    std::map<RegistryKey, std::string> openKeys;
    RegistryKey nextKey = 1;
    RegistryStatus createResult = kRegistryOk;
    RegistryStatus openResult = kRegistryOk;
    RegistryStatus setResult = kRegistryOk;
};

}  // namespace bw::test
