#include "maintenance/drop_import.h"

#include <fstream>
#include <sstream>

#include "blocklist/number_text.h"
#include "maintenance/import_fields.h"

namespace bw {

namespace {

// The length check compares with this minus the file's size.
constexpr double kAuthenticationBase = 4096;

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

// The whole file at once, so that the file is closed before the first entry
// yields to the event loop.
bool readWhole(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad())
        return false;
    bytes = std::move(content).str();
    return true;
}

// Clears the running mark however the import ends.
class RunningMark {
public:
    explicit RunningMark(bool& mark) : mark_(mark) { mark_ = true; }
    ~RunningMark() { mark_ = false; }
    RunningMark(const RunningMark&) = delete;
    RunningMark& operator=(const RunningMark&) = delete;

private:
    bool& mark_;
};

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
    std::string bytes;
    if (!readWhole(path, bytes)) {
        // An unreadable file (gone, a folder, no access) cannot be vouched for either.
        show("File could not be authenticated.", MessageIcon::Exclamation);
        return;
    }
    ImportFields fields(bytes);
    std::string field;
    fields.next(field);
    if (leadingNumber(field) != kAuthenticationBase - static_cast<double>(bytes.size())) {
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
