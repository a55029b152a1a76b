#include "maintenance/drop_import.h"

#include <cstdint>
#include <string>

#include "base/running_mark.h"
#include "maintenance/import_fields.h"
#include "maintenance/number_ignoring_blanks.h"
#include "platform/whole_file.h"

namespace bw {

namespace {

// The length check compares with this minus the file's size.
constexpr double kAuthenticationBase = 4096;
// Far above any real blocklist; the file is read whole, so it bounds the memory an import takes.
constexpr std::uint64_t kLargestImport = 128ull * 1024 * 1024;

bool hasImportSuffix(std::string_view path) {
    if (path.size() < 4)
        return false;
    std::string suffix(path.substr(path.size() - 4));
    for (char& c : suffix) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return suffix == ".P2P";
}

}  // namespace

DropImport::DropImport(Host& host, std::function<void(std::string_view)> addBanRange)
    : host_(host), addBanRange_(std::move(addBanRange)) {}

void DropImport::filesDropped(const std::vector<std::string>& paths) {
    if (paths.empty() || running_)
        return;
    RunningMark mark(running_);
    import(paths.front());
}

void DropImport::import(const std::string& path) {
    if (!hasImportSuffix(path)) {
        show("Unrecognized file.", MessageIcon::Information);
        return;
    }
    // Read whole, so the file is closed before the first entry yields to the event loop.
    FileBytes content = readRegularFile(path, kLargestImport);
    const std::string& bytes = content.bytes;
    if (content.notRegular) {
        show("File not imported: " + path + " is not a regular file (a folder, pipe or device).",
             MessageIcon::Exclamation);
        return;
    }
    if (content.tooLarge) {
        show("File not imported: " + path + " is " + std::to_string(content.size) +
                 " bytes long, more than the " + std::to_string(kLargestImport) +
                 " bytes an import can take.",
             MessageIcon::Exclamation);
        return;
    }
    if (!content.ok) {
        // An unreadable file (gone, a folder, no access) cannot be vouched for either.
        show("File could not be authenticated.", MessageIcon::Exclamation);
        return;
    }
    ImportFields fields(bytes);
    std::string field;
    fields.next(field);
    if (numberIgnoringBlanks(field) != kAuthenticationBase - static_cast<double>(bytes.size())) {
        show("File could not be authenticated.", MessageIcon::Exclamation);
        return;
    }
    while (fields.next(field)) addBanRange_(field);
}

void DropImport::show(std::string text, MessageIcon icon) {
    host_.showMessage(
        Message{std::move(text), icon, MessageButtons::Ok, std::string(kApplicationTitle)});
}

}  // namespace bw
