#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "base/product.h"
#include "base/refusal_record.h"

namespace bw {

enum class MessageIcon { None, Information, Exclamation };
enum class MessageButtons { Ok };

struct Message {
    std::string text;
    MessageIcon icon = MessageIcon::None;
    MessageButtons buttons = MessageButtons::Ok;
    std::string title;  // empty: kApplicationTitle

    std::string shownTitle() const {
        return title.empty() ? std::string(kApplicationTitle) : title;
    }
};

// What the window (or the console runner) does for the core. Every call comes
// on the one thread that runs the program.
class Host {
public:
    virtual ~Host() = default;

    // A yield point: window events and due timer ticks may run before this returns.
    virtual void letPendingEventsRun() = 0;
    // Shows a message box; returns when the user dismissed it.
    virtual void showMessage(const Message& message) = 0;

    // The log view: emptied, and only ever extended at its end.
    virtual void clearLog() = 0;
    virtual void appendLog(std::string_view text) = 0;

    // The ban table changed: show the list afresh with no row selected.
    virtual void banListReset() = 0;
    // Something of ProgramState changed (counters, options, banner, timer, visibility).
    virtual void stateChanged() = 0;

    // Shows a progress box with the caption and keeps window events and guard
    // ticks running until finished() returns true (polled) or the user cancels,
    // then closes the box. The caller asks finished() again to tell which.
    virtual void waitWithProgress(std::string_view caption,
                                  const std::function<bool()>& finished) = 0;

    // A refusal joined ProgramState::recentRefusals (or repeated its last
    // record). reported: its rejection lines were written to the log view just
    // now, so what follows them may describe it.
    virtual void refusalRecorded(const RefusalRecord& /*refusal*/, bool /*reported*/) {}

    // Ends the program at once: no further events run and nothing else is saved.
    virtual void exitNow(int status) = 0;
};

}  // namespace bw
