#include "program/settings.h"

#include <vector>

#include "blocklist/number_text.h"
#include "blocklist/text_lines.h"
#include "guard/guard_schedule.h"
#include "platform/whole_file.h"

namespace bw {

namespace {

void applyStartHidden(double flag, ProgramState& state) {
    const bool hidden = flag == 1;
    state.options.startHidden = hidden;
    state.windowVisible = !hidden;
    ++state.visibilityRequests;
}

void applyAggression(double v, ProgramState& state) {
    if (v > 100)
        v = 100;
    if (v < 0)
        v = 10;
    state.options.aggression = roundHalfToEven(v);
    state.options.aggressionText = formatPlainNumber(v);
    state.timer.intervalMs = guardIntervalFor(v);
}

}  // namespace

void applySettingsText(std::string_view bytes, ProgramState& state) {
    const auto lines = splitLines(bytes);
    auto line = [&](std::size_t i) { return i < lines.size() ? lines[i] : std::string_view{}; };
    if (lines.size() > 2)
        state.lastUpdateVersion = std::string(lines[2]);
    applyStartHidden(leadingNumber(line(0)), state);
    applyAggression(leadingNumber(line(1)), state);
}

SettingsLoad LOADSETTINGS(const std::filesystem::path& file, ProgramState& state) {
    const FileBytes contents = readOrCreateFile(file);
    if (!contents.ok)
        return {false, contents.error};
    if (contents.bytes.empty()) {
        state.windowVisible = true;
        ++state.visibilityRequests;
        return {};
    }
    applySettingsText(contents.bytes, state);
    return {};
}

std::string settingsText(const ProgramState& state) {
    // The version is one line of the file; anything after a line break in it
    // would not read back as the version anyway.
    const std::string& version = state.lastUpdateVersion;
    std::string text = state.options.startHidden ? "1" : "0";
    text += "\r\n";
    text += state.options.aggressionText;
    text += "\r\n";
    text += version.substr(0, version.find_first_of("\r\n"));
    text += "\r\n";
    return text;
}

WriteResult SAVESETTINGS(const std::filesystem::path& file, const ProgramState& state) {
    return writeFileAtomically(file, settingsText(state));
}

}  // namespace bw
