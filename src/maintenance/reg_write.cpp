#include "maintenance/reg_write.h"

#include <array>
#include <utility>

namespace bw {

namespace {

constexpr std::array<std::pair<std::string_view, std::uint32_t>, 7> kRootKeys{{
    {"HKEY_CLASSES_ROOT", kClassesRoot},
    {"HKEY_CURRENT_USER", kCurrentUser},
    {"HKEY_LOCAL_MACHINE", kLocalMachine},
    {"HKEY_USERS", kUsers},
    {"HKEY_PERFORMANCE_DATA", kPerformanceData},
    {"HKEY_CURRENT_CONFIG", kCurrentConfig},
    {"HKEY_DYN_DATA", kDynData},
}};

bool wellFormed(std::string_view path) {
    return path.starts_with("HKEY_") && !path.ends_with('\\');
}

}  // namespace

RegWrite::RegWrite(Registry& registry, Host& host) : registry_(registry), host_(host) {}

std::uint32_t RegWrite::ROOTKEY(std::string_view rootName) {
    for (const auto& [name, handle] : kRootKeys) {
        if (name == rootName)
            return handle;
    }
    return kNoRegistryRoot;
}

void RegWrite::SPLITPATH(std::string& path, std::uint32_t& root) {
    if (!wellFormed(path)) {
        host_.showMessage(Message{"Incorrect Format:\n\n" + path, MessageIcon::None,
                                  MessageButtons::Ok, std::string()});
        root = kNoRegistryRoot;
        return;
    }
    std::size_t separator = path.find('\\');
    if (separator == std::string::npos) {
        root = ROOTKEY(path);
        path.clear();
        return;
    }
    root = ROOTKEY(std::string_view(path).substr(0, separator));
    path.erase(0, separator + 1);
}

void RegWrite::CREATEKEY(std::string path) {
    SPLITPATH(path, rootKey_);
    if (rootKey_ == kNoRegistryRoot)
        return;
    lastResult_ = registry_.createKey(rootKey_, path, openKey_);
    if (lastResult_ == kRegistryOk)
        lastResult_ = registry_.closeKey(openKey_);
}

void RegWrite::SETSTRING(std::string path, std::string_view valueName, std::string_view text) {
    valueBuffer_.assign(text);
    valueBuffer_.push_back('\0');  // strings are stored with their terminating null
    setValue(std::move(path), valueName, RegistryValueType::String);
}

void RegWrite::SETBINARY(std::string path, std::string_view valueName, std::string_view text) {
    valueBuffer_.assign(text);
    setValue(std::move(path), valueName, RegistryValueType::Binary);
}

void RegWrite::setValue(std::string path, std::string_view valueName, RegistryValueType type) {
    SPLITPATH(path, rootKey_);
    if (rootKey_ == kNoRegistryRoot)
        return;
    lastResult_ = registry_.openKeyForWriting(rootKey_, path, openKey_);
    if (lastResult_ != kRegistryOk)
        return;
    lastResult_ = registry_.setValue(openKey_, valueName, type, valueBuffer_);
    registry_.closeKey(openKey_);
}

}  // namespace bw
