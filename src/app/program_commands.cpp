#include "app/window_commands.h"

namespace bw {

const ProgramState& ProgramCommands::state() const {
    return program_.state();
}
const BanTable& ProgramCommands::table() const {
    return program_.table();
}
void ProgramCommands::guardTimerFired() {
    program_.guardTimerFired();
}
void ProgramCommands::sliderClicked(int position) {
    program_.sliderClicked(position);
}
void ProgramCommands::startHiddenClicked(bool ticked) {
    program_.startHiddenClicked(ticked);
}
void ProgramCommands::blockingClicked(bool ticked) {
    program_.blockingClicked(ticked);
}
void ProgramCommands::fullLogClicked(bool ticked) {
    program_.fullLogClicked(ticked);
}
AddOutcome ProgramCommands::addRange(std::string_view profile, std::string_view start,
                                     std::string_view end) {
    return program_.addRange(profile, start, end);
}
void ProgramCommands::removeEntry(EntryRef selected) {
    program_.removeEntry(selected);
}
void ProgramCommands::filesDropped(const std::vector<std::string>& paths) {
    program_.filesDropped(paths);
}
void ProgramCommands::checkForUpdates() {
    program_.checkForUpdates();
}
void ProgramCommands::viewConnectionLog() {
    program_.viewConnectionLog();
}
void ProgramCommands::openSupportPage(SupportPage page) {
    program_.openSupportPage(page);
}
void ProgramCommands::unload() {
    program_.unload();
}

ListKeeper* ProgramCommands::lists() {
    return &program_.lists();
}
std::vector<Lifeline> ProgramCommands::lifelines() const {
    return program_.lifelines();
}

std::string ProgramCommands::checkAddress(const std::string& asked) {
    return program_.checkAddress(asked);
}

}  // namespace bw
