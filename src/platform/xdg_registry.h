#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "platform/registry.h"

namespace bw {

// Keeps the bwdat URL scheme where a Linux desktop looks for it: a desktop
// entry in <data home>/applications that runs the registered command with the
// link, and the default-handler line in <config home>/mimeapps.list.
//
// Only keys under HKEY_CLASSES_ROOT\bwdat can be opened; others are refused
// (nothing else in the program writes the registry). Of the scheme's values,
// only the open command and the scheme's description (default value of the
// scheme key, the entry's Comment) have a counterpart on the desktop: the "URL
// Protocol" marker is what MimeType=x-scheme-handler/bwdat; says already, and
// the "EditFlags" bits steer a confirmation prompt this desktop does not have,
// so both are accepted and dropped.
class XdgRegistry : public Registry {
public:
    XdgRegistry(std::filesystem::path dataHome, std::filesystem::path configHome);

    RegistryStatus createKey(RegistryKey root, std::string_view subkey, RegistryKey& key) override;
    RegistryStatus openKeyForWriting(RegistryKey root, std::string_view subkey,
                                     RegistryKey& key) override;
    RegistryStatus setValue(RegistryKey key, std::string_view valueName, RegistryValueType type,
                            std::string_view data) override;
    RegistryStatus closeKey(RegistryKey key) override;

    std::filesystem::path desktopEntryFile() const;
    std::filesystem::path mimeAppsFile() const;

private:
    RegistryStatus open(RegistryKey root, std::string_view subkey, RegistryKey& key);
    // Writes both files once the command is known; false when that failed.
    bool publish() const;

    std::filesystem::path dataHome_;
    std::filesystem::path configHome_;
    std::map<RegistryKey, std::string> openKeys_;  // handle -> lower-case subkey path
    RegistryKey nextHandle_ = 1;
    std::optional<std::string> command_;
    std::optional<std::string> description_;
};

// The Exec line's value for a launch command of the form "<program>" %1 (or
// <program> %1): the program, quoted as desktop entries require when it holds
// blanks or other reserved characters, then %u for the link. Empty when the
// command names no program or holds a line break.
std::string desktopExecFromCommand(std::string_view command);

// mimeapps.list with <mimeType>=<desktopFile> as the default handler: an
// existing line for the type in [Default Applications] is replaced, otherwise
// the line is added to that group (the group is added when missing). Every
// other line stays as it was.
std::string withDefaultHandler(std::string_view mimeApps, std::string_view mimeType,
                               std::string_view desktopFile);

}  // namespace bw
