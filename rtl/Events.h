// Calling an event (a std::function member; empty = unassigned).
#pragma once

// Calls the event when it is assigned and drops anything it raises: used
// where a handler's failure must not stop the caller's own work.
template <class Event, class... Args>
void CallGuarded(const Event& event, Args... args) {
    if (!event)
        return;
    try {
        event(args...);
    } catch (...) {
    }
}
