#include "platform/xdg_registry.h"

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/whole_file.h"

namespace bw {

namespace {

constexpr std::string_view kDesktopFileName = "bastionwatch-bwdat.desktop";
constexpr std::string_view kSchemeMimeType = "x-scheme-handler/bwdat";
constexpr std::string_view kSchemeKey = "bwdat";
constexpr std::string_view kCommandKey = "bwdat\\shell\\open\\command";
constexpr std::string_view kDefaultGroup = "[Default Applications]";

std::string lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

bool isSchemeKey(RegistryKey root, const std::string& subkey) {
    if (root != kClassesRoot)
        return false;
    return subkey == kSchemeKey || subkey.starts_with(std::string(kSchemeKey) + "\\");
}

// A registry string's text: its data up to the terminating null.
std::string stringText(std::string_view data) {
    return std::string(data.substr(0, data.find('\0')));
}

bool hasControlCharacter(std::string_view text) {
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7f)
            return true;
    }
    return false;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

// The program of a launch command: the quoted first word, or the first word.
std::string_view commandProgram(std::string_view command) {
    command = trimmed(command);
    if (command.starts_with('"')) {
        command.remove_prefix(1);
        return command.substr(0, command.find('"'));
    }
    return command.substr(0, command.find(' '));
}

// Desktop entry values escape backslashes once more on top of the Exec quoting.
std::string escapedValue(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += '\\';
        out += c;
    }
    return out;
}

std::string desktopEntry(const std::string& exec, const std::optional<std::string>& comment) {
    std::string entry = "[Desktop Entry]\nType=Application\nName=Bastionwatch\n";
    if (comment && !comment->empty() && !hasControlCharacter(*comment)) {
        entry += "Comment=" + escapedValue(*comment) + "\n";
    }
    entry += "Exec=" + exec + "\n";
    entry += "Terminal=false\nNoDisplay=true\n";
    entry += "MimeType=" + std::string(kSchemeMimeType) + ";\n";
    return entry;
}

std::vector<std::string> splitLines(std::string_view text) {
    std::vector<std::string> lines;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        lines.emplace_back(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return lines;
}

bool isGroupHeader(std::string_view line) {
    return trimmed(line).starts_with('[');
}

std::string_view lineKey(std::string_view line) {
    std::size_t equals = line.find('=');
    return equals == std::string_view::npos ? std::string_view() : trimmed(line.substr(0, equals));
}

// Reads the file whole. Absent counts as empty; present but unreadable is a failure,
// so that a file we cannot see is never replaced.
bool readExisting(const std::filesystem::path& file, std::string& bytes) {
    FileBytes content = readWholeFile(file);
    if (!content.ok)
        return content.errorNumber == ENOENT;
    bytes = std::move(content.bytes);
    return true;
}

// Reads the file once and writes what change makes of its content, only when
// that differs, so a second registration leaves the file alone.
template <class Change>
bool rewriteIfChanged(const std::filesystem::path& file, Change change) {
    std::string old;
    if (!readExisting(file, old))
        return false;
    const std::string bytes = change(old);
    if (old == bytes && std::filesystem::exists(file))
        return true;
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    // A symlinked file (managed dot files) keeps its link; its target is replaced.
    std::filesystem::path target = file;
    if (std::filesystem::is_symlink(file, ec)) {
        std::filesystem::path resolved = std::filesystem::canonical(file, ec);
        if (!ec)
            target = resolved;
    }
    return static_cast<bool>(writeFileAtomically(target, bytes));
}

std::filesystem::path absoluteFolder(const char* value) {
    if (!value || !*value)
        return {};
    std::filesystem::path folder(value);
    return folder.is_absolute() ? folder : std::filesystem::path();
}

std::filesystem::path xdgFolder(const char* variable, std::string_view fallbackUnderHome) {
    std::filesystem::path folder = absoluteFolder(std::getenv(variable));
    if (!folder.empty())
        return folder;
    std::filesystem::path home = absoluteFolder(std::getenv("HOME"));
    return home.empty() ? home : home / fallbackUnderHome;
}

}  // namespace

std::string desktopExecFromCommand(std::string_view command) {
    std::string_view program = commandProgram(command);
    if (program.empty() || hasControlCharacter(program))
        return {};
    // Quoted only when the path needs it: xdg-open without a desktop session
    // splits Exec at blanks and takes quotes literally, so a plain path must
    // stay plain for it to find the program.
    const bool needsQuotes =
        program.find_first_of(" \t\"'\\><~|&;$*?#()`") != std::string_view::npos;
    std::string exec = needsQuotes ? "\"" : "";
    for (char c : program) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            exec += '\\';
        exec += c;
        if (c == '%')
            exec += '%';
    }
    if (needsQuotes)
        exec += '"';
    return escapedValue(exec) + " %u";
}

std::string withDefaultHandler(std::string_view mimeApps, std::string_view mimeType,
                               std::string_view desktopFile) {
    std::vector<std::string> lines = splitLines(mimeApps);
    const std::string handler = std::string(mimeType) + "=" + std::string(desktopFile);

    std::size_t group = 0;
    while (group < lines.size() && trimmed(lines[group]) != kDefaultGroup) ++group;
    if (group == lines.size()) {
        if (!lines.empty() && !trimmed(lines.back()).empty())
            lines.emplace_back();
        lines.emplace_back(kDefaultGroup);
        lines.push_back(handler);
    } else {
        bool placed = false;
        std::size_t lastContent = group;
        std::size_t i = group + 1;
        while (i < lines.size() && !isGroupHeader(lines[i])) {
            if (lineKey(lines[i]) == mimeType) {
                if (placed) {
                    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
                    continue;
                }
                lines[i] = handler;
                placed = true;
            }
            if (!trimmed(lines[i]).empty())
                lastContent = i;
            ++i;
        }
        if (!placed)
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(lastContent + 1), handler);
    }

    std::string out;
    for (const std::string& line : lines) out += line + "\n";
    return out;
}

XdgRegistry::XdgRegistry(std::filesystem::path dataHome, std::filesystem::path configHome)
    : dataHome_(std::move(dataHome)), configHome_(std::move(configHome)) {}

std::filesystem::path XdgRegistry::desktopEntryFile() const {
    return dataHome_ / "applications" / kDesktopFileName;
}

std::filesystem::path XdgRegistry::mimeAppsFile() const {
    return configHome_ / "mimeapps.list";
}

RegistryStatus XdgRegistry::createKey(RegistryKey root, std::string_view subkey, RegistryKey& key) {
    return open(root, subkey, key);
}

RegistryStatus XdgRegistry::openKeyForWriting(RegistryKey root, std::string_view subkey,
                                              RegistryKey& key) {
    return open(root, subkey, key);
}

RegistryStatus XdgRegistry::open(RegistryKey root, std::string_view subkey, RegistryKey& key) {
    key = 0;
    std::string path = lowered(subkey);
    if (!isSchemeKey(root, path))
        return kRegistryNotSupported;
    key = nextHandle_++;
    openKeys_[key] = std::move(path);
    return kRegistryOk;
}

RegistryStatus XdgRegistry::setValue(RegistryKey key, std::string_view valueName,
                                     RegistryValueType type, std::string_view data) {
    auto found = openKeys_.find(key);
    if (found == openKeys_.end())
        return kRegistryBadKey;
    if (!valueName.empty() || type != RegistryValueType::String)
        return kRegistryOk;
    if (found->second == kCommandKey) {
        command_ = stringText(data);
    } else if (found->second == kSchemeKey) {
        description_ = stringText(data);
    } else {
        return kRegistryOk;
    }
    return publish() ? kRegistryOk : kRegistryAccessDenied;
}

RegistryStatus XdgRegistry::closeKey(RegistryKey key) {
    return openKeys_.erase(key) == 1 ? kRegistryOk : kRegistryBadKey;
}

bool XdgRegistry::publish() const {
    if (!command_)
        return true;
    std::string exec = desktopExecFromCommand(*command_);
    if (exec.empty() || dataHome_.empty() || configHome_.empty())
        return false;
    auto entry = [&](const std::string&) { return desktopEntry(exec, description_); };
    if (!rewriteIfChanged(desktopEntryFile(), entry))
        return false;
    return rewriteIfChanged(mimeAppsFile(), [](const std::string& mimeApps) {
        return withDefaultHandler(mimeApps, kSchemeMimeType, kDesktopFileName);
    });
}

std::unique_ptr<Registry> makeDesktopRegistry() {
    return std::make_unique<XdgRegistry>(xdgFolder("XDG_DATA_HOME", ".local/share"),
                                         xdgFolder("XDG_CONFIG_HOME", ".config"));
}

}  // namespace bw
