// SPDX-License-Identifier: MIT
// The virtual clock: waits on standard input finish at once, moving a
// clock that only such waits advance, and scripted events (input arriving,
// SIGINT, SIGTERM, SIGHUP) happen at chosen virtual times.
#pragma once

#include <sys/select.h>

#include <csignal>
#include <ctime>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

namespace drmsim {

struct Request;

class VirtualClock {
public:
    // Reads DRMSIM_CLOCK and DRMSIM_EVENTS on first use.
    static VirtualClock &get();

    bool on() const;
    void set_on(bool on);
    double now() const;
    // Moves the clock on by `seconds` (a wait that ends by itself).
    void advance(double seconds);
    // Back to time 0 with no events.
    void reset();
    // "input@T", "SIG@T", "input@REQUEST:N" or "SIG@REQUEST:N" (a request
    // that ties events: setcrtc, atomic) with SIG one of sigint, sigterm,
    // sighup; throws std::invalid_argument naming the valid forms.
    void add_event(std::string_view event);
    // Inside the nth call of `request`: input tied to it arrives now, and
    // the signal (once) an event asks for is returned, else 0.
    int signal_at(const Request &request, unsigned nth);
    // True once scripted input has arrived: standard input then has
    // something to read (FIONREAD answers 1).
    bool input_arrived() const;
    // CLOCK_MONOTONIC as the program sees it: the real one when the clock
    // was made, plus the virtual time since.
    timespec monotonic() const;

    // A select/pselect on standard input, or a timed one on no descriptor
    // at all, under the virtual clock. `mask` is
    // pselect's signal mask (nullptr for select). On return `remaining`
    // holds what is left of the timeout. nullopt: not ours, make the real
    // call.
    std::optional<int> wait(int nfds, fd_set *readfds, fd_set *writefds, fd_set *exceptfds,
                            const timespec *timeout, const sigset_t *mask, timespec *remaining);

private:
    VirtualClock();
    struct Event {
        enum Kind { input, signal, signal_at_call } kind;
        int signo = 0;                    // for the signal kinds
        double at = 0;                    // seconds, for input and signal
        const Request *request = nullptr; // tied to a call: which request
        unsigned nth = 0;                 // and which of its calls
        bool done = false;                // signal events fire once
    };
    mutable std::mutex mu_;
    bool on_ = false;
    double now_ = 0;
    timespec base_{}; // the real CLOCK_MONOTONIC at creation
    std::vector<Event> events_;
};

} // namespace drmsim
