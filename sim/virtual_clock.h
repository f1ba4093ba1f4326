// The virtual clock: waits on standard input finish at once, moving a
// clock that only such waits advance, and scripted events (input arriving,
// SIGINT) happen at chosen virtual times.
#pragma once

#include <sys/select.h>

#include <csignal>
#include <ctime>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

namespace drmsim {

class VirtualClock {
public:
    // Reads DRMSIM_CLOCK and DRMSIM_EVENTS on first use.
    static VirtualClock &get();

    bool on() const;
    void set_on(bool on);
    double now() const;
    // Back to time 0 with no events.
    void reset();
    // "input@T", "sigint@T" or "sigint@setcrtc:N"; throws std::invalid_argument.
    void add_event(std::string_view event);
    // True (once) when an event asks for SIGINT inside the nth SETCRTC.
    bool sigint_at_setcrtc(unsigned nth);

    // A select/pselect on standard input under the virtual clock. `mask` is
    // pselect's signal mask (nullptr for select). On return `remaining`
    // holds what is left of the timeout. nullopt: not ours, make the real
    // call.
    std::optional<int> wait(int nfds, fd_set *readfds, fd_set *writefds, fd_set *exceptfds,
                            const timespec *timeout, const sigset_t *mask, timespec *remaining);

private:
    VirtualClock();
    struct Event {
        enum Kind { input, sigint, sigint_at_setcrtc } kind;
        double at = 0;     // seconds, for input and sigint
        unsigned nth = 0;  // for sigint_at_setcrtc
        bool done = false; // sigint events fire once
    };
    mutable std::mutex mu_;
    bool on_ = false;
    double now_ = 0;
    std::vector<Event> events_;
};

} // namespace drmsim
