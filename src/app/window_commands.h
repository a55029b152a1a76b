#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/program_state.h"
#include "blocklist/ban_table.h"
#include "program/program.h"

namespace bw {

// What the window's widgets ask of the program, and what it shows of it.
// The window holds this rather than the Program itself, so its tests can
// drive it with a recording stand-in.
class WindowCommands {
public:
    virtual ~WindowCommands() = default;
    virtual const ProgramState& state() const = 0;
    virtual const BanTable& table() const = 0;

    virtual void guardTimerFired() = 0;
    virtual void sliderClicked(int position) = 0;
    virtual void startHiddenClicked(bool ticked) = 0;
    virtual void blockingClicked(bool ticked) = 0;
    virtual void fullLogClicked(bool ticked) = 0;
    // Says what became of the range, so the dialog can say why it refused it.
    virtual AddOutcome addRange(std::string_view profile, std::string_view start,
                                std::string_view end) = 0;
    virtual void removeEntry(EntryRef selected) = 0;
    virtual void filesDropped(const std::vector<std::string>& paths) = 0;
    virtual void checkForUpdates() = 0;
    virtual void viewConnectionLog() = 0;
    virtual void openSupportPage(SupportPage page) = 0;
    virtual void unload() = 0;
    // The subscribed lists, when there are any to show; the guard follows a
    // change made through them from its timer.
    virtual ListKeeper* lists() { return nullptr; }
    // The addresses never banned, for the Lists view.
    virtual std::vector<Lifeline> lifelines() const { return {}; }
    // Whether the guard refuses an address or range, and what decides it.
    virtual std::string checkAddress(const std::string& /*asked*/) { return {}; }
};

// The real thing: every call goes to the Program.
class ProgramCommands : public WindowCommands {
public:
    explicit ProgramCommands(Program& program) : program_(program) {}

    const ProgramState& state() const override;
    const BanTable& table() const override;
    void guardTimerFired() override;
    void sliderClicked(int position) override;
    void startHiddenClicked(bool ticked) override;
    void blockingClicked(bool ticked) override;
    void fullLogClicked(bool ticked) override;
    AddOutcome addRange(std::string_view profile, std::string_view start,
                        std::string_view end) override;
    void removeEntry(EntryRef selected) override;
    void filesDropped(const std::vector<std::string>& paths) override;
    void checkForUpdates() override;
    void viewConnectionLog() override;
    void openSupportPage(SupportPage page) override;
    void unload() override;
    ListKeeper* lists() override;
    std::vector<Lifeline> lifelines() const override;
    std::string checkAddress(const std::string& asked) override;

private:
    Program& program_;
};

}  // namespace bw
