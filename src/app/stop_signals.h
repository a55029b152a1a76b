#pragma once

#include <functional>

class QObject;

namespace bw {

// SIGTERM (a session ending, a service manager) and SIGINT close the program as
// its window's close box does: the handler runs from the event loop, so the
// settings are saved before the program ends. Install it once the start-up is
// over; a signal that came earlier is acted on then.
void closeOnStopSignals(QObject* owner, std::function<void()> close);

}  // namespace bw
