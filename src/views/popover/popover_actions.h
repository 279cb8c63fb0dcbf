#pragma once

#include <functional>

namespace orvane {

class AppStore;
struct TimerSession;

// What the popover's sections and header ask of the view that places them.
// The root fills these; an empty one does nothing.
struct PopoverActions {
    // Shows the session flow (the header's new-session button, "Neuer Timer").
    std::function<void()> openSessionFlow;
    // Starts a session when none is open, stops or resumes the current one.
    std::function<void()> startOrStop;
};

// Stops `session` on the service as a task of its own: not tied to any view,
// it runs to its end even when the popover closes. The store publishes the
// summary.
void stopSessionTask(AppStore& store, const TimerSession& session);

} // namespace orvane
