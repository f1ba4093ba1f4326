// SPDX-License-Identifier: MIT
// The virtual clock: waits on standard input answered at once, and the events it fires.
#include "virtual_clock.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <stdexcept>
#include <string>

#include "real_calls.h"
#include "requests.h"

namespace drmsim {
namespace {

constexpr double kNever = std::numeric_limits<double>::infinity();

// The request of "setcrtc:N" when its row ties events, else null.
const Request *request_tying_events(std::string_view when) {
    const size_t colon = when.find(':');
    if (colon == std::string_view::npos)
        return nullptr;
    const Request *request = find_request(when.substr(0, colon));
    return request && request->ties_events ? request : nullptr;
}

// "setcrtc or atomic": the requests that tie events.
std::string requests_tying_events() {
    std::string names;
    for (const Request &r : requests())
        if (r.ties_events)
            names += (names.empty() ? "" : " or ") + std::string(r.name);
    return names;
}

double parse_seconds(std::string_view text, std::string_view event) {
    double v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || !(v >= 0) || std::isinf(v))
        throw std::invalid_argument("DRMSIM_EVENTS (--event): bad time in \"" +
                                    std::string(event) + "\"");
    return v;
}

timespec to_timespec(double seconds) {
    if (seconds < 0)
        seconds = 0;
    timespec ts{};
    ts.tv_sec = time_t(seconds);
    ts.tv_nsec = long(std::lround((seconds - double(ts.tv_sec)) * 1e9));
    if (ts.tv_nsec >= 1000000000L)
        ts.tv_sec += 1, ts.tv_nsec -= 1000000000L;
    return ts;
}

struct SignalName {
    std::string_view name;
    int signo;
};
constexpr SignalName kSignals[] = {{"sigint", SIGINT}, {"sigterm", SIGTERM}, {"sighup", SIGHUP}};

// Lets the program's handler run under the wait's signal mask.
void deliver(int signo, const sigset_t &wait_mask) {
    sigset_t saved;
    pthread_sigmask(SIG_SETMASK, &wait_mask, &saved);
    raise(signo);
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
}

} // namespace

VirtualClock &VirtualClock::get() {
    static VirtualClock *clock = new VirtualClock; // never destroyed: used until exit
    return *clock;
}

VirtualClock::VirtualClock() {
    const char *mode = std::getenv("DRMSIM_CLOCK");
    on_ = mode && std::string_view(mode) == "virtual";
    if (mode && !on_ && *mode && std::string_view(mode) != "real")
        throw std::invalid_argument("DRMSIM_CLOCK=" + std::string(mode) +
                                    " is neither \"virtual\" nor \"real\"");
    real::clock_gettime(CLOCK_MONOTONIC, &base_);
    if (const char *events = std::getenv("DRMSIM_EVENTS")) {
        std::string_view rest(events);
        while (!rest.empty()) {
            size_t comma = rest.find(',');
            std::string_view event = rest.substr(0, comma);
            rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
            if (!event.empty())
                add_event(event); // throws: a bad event stops the program before it runs
        }
    }
}

bool VirtualClock::on() const {
    std::lock_guard lock(mu_);
    return on_;
}

void VirtualClock::set_on(bool on) {
    std::lock_guard lock(mu_);
    on_ = on;
}

double VirtualClock::now() const {
    std::lock_guard lock(mu_);
    return now_;
}

void VirtualClock::advance(double seconds) {
    std::lock_guard lock(mu_);
    if (seconds > 0)
        now_ += seconds;
}

timespec VirtualClock::monotonic() const {
    const timespec since = to_timespec(now());
    timespec ts{base_.tv_sec + since.tv_sec, base_.tv_nsec + since.tv_nsec};
    if (ts.tv_nsec >= 1000000000L)
        ts.tv_sec += 1, ts.tv_nsec -= 1000000000L;
    return ts;
}

bool VirtualClock::input_arrived() const {
    std::lock_guard lock(mu_);
    for (const Event &e : events_)
        if (e.kind == Event::input && e.at <= now_)
            return true;
    return false;
}

void VirtualClock::reset() {
    std::lock_guard lock(mu_);
    now_ = 0;
    events_.clear();
}

void VirtualClock::add_event(std::string_view event) {
    Event e{};
    const size_t at = event.find('@');
    const std::string_view what = event.substr(0, at);
    const std::string_view when = at == event.npos ? std::string_view() : event.substr(at + 1);
    const auto signal = std::find_if(std::begin(kSignals), std::end(kSignals),
                                     [&](const SignalName &s) { return s.name == what; });
    const Request *request = request_tying_events(when);
    if (at == event.npos || (what != "input" && signal == std::end(kSignals)) ||
        (when.find(':') != when.npos && !request))
        throw std::invalid_argument("DRMSIM_EVENTS (--event): bad \"" + std::string(event) +
                                    "\"; expected input@T, SIG@T, input@REQ:N or SIG@REQ:N, with "
                                    "SIG sigint, sigterm or sighup, T seconds and REQ " +
                                    requests_tying_events());
    e.signo = what == "input" ? 0 : signal->signo;
    if (request) {
        e.kind = what == "input" ? Event::input : Event::signal_at_call;
        e.request = request;
        e.at = kNever; // input arrives when the call is made
        std::string_view n = when.substr(when.find(':') + 1);
        auto [end, ec] = std::from_chars(n.data(), n.data() + n.size(), e.nth);
        if (ec != std::errc() || end != n.data() + n.size() || e.nth == 0)
            throw std::invalid_argument("DRMSIM_EVENTS (--event): bad call number in \"" +
                                        std::string(event) + "\"; expected 1 or more");
    } else {
        e.kind = what == "input" ? Event::input : Event::signal;
        e.at = parse_seconds(when, event);
    }
    std::lock_guard lock(mu_);
    events_.push_back(e);
}

int VirtualClock::signal_at(const Request &request, unsigned nth) {
    std::lock_guard lock(mu_);
    int signo = 0;
    for (Event &e : events_)
        if (!e.done && e.request == &request && e.nth == nth) {
            e.done = true;
            if (e.kind == Event::input)
                e.at = now_; // the next wait sees it
            else if (!signo)
                signo = e.signo;
        }
    return signo;
}

std::optional<int> VirtualClock::wait(int nfds, fd_set *readfds, fd_set *writefds,
                                      fd_set *exceptfds, const timespec *timeout,
                                      const sigset_t *mask, timespec *remaining) {
    // Ours: a wait on standard input, or a plain timed wait on nothing
    // (a program that no longer watches an input at its end).
    const bool on_stdin = nfds > 0 && readfds && FD_ISSET(0, readfds);
    const bool on_nothing = nfds == 0 && timeout;
    if (!on() || (!on_stdin && !on_nothing))
        return std::nullopt;
    if (timeout &&
        (timeout->tv_sec < 0 || timeout->tv_nsec < 0 || timeout->tv_nsec >= 1000000000L)) {
        errno = EINVAL;
        return -1;
    }
    const double length =
        timeout ? double(timeout->tv_sec) + double(timeout->tv_nsec) / 1e9 : kNever;
    if (remaining && timeout)
        *remaining = *timeout;

    // (a) Whatever is true right now wins: a readable or closed stdin, a
    // signal the real wait reports.
    fd_set r, w, e;
    if (readfds)
        r = *readfds;
    if (writefds)
        w = *writefds;
    if (exceptfds)
        e = *exceptfds;
    timespec zero{};
    int now_result =
        real::pselect(nfds, readfds ? &r : nullptr, writefds ? &w : nullptr,
                      exceptfds ? &e : nullptr, &zero, mask);
    if (now_result != 0) {
        if (now_result > 0) {
            if (readfds)
                *readfds = r;
            if (writefds)
                *writefds = w;
            if (exceptfds)
                *exceptfds = e;
        }
        return now_result;
    }

    sigset_t wait_mask;
    if (mask)
        wait_mask = *mask;
    else
        pthread_sigmask(SIG_BLOCK, nullptr, &wait_mask);

    // (b) A signal left pending (raised where the program blocks it) ends
    // the wait as soon as the wait's mask lets it through.
    sigset_t pending;
    sigpending(&pending);
    for (const SignalName &s : kSignals)
        if (sigismember(&pending, s.signo) && !sigismember(&wait_mask, s.signo)) {
            deliver(s.signo, wait_mask);
            errno = EINTR;
            return -1;
        }

    // (c) Move the clock to whatever comes first.
    std::unique_lock lock(mu_);
    const double deadline = now_ + length;
    for (;;) {
        double input_at = kNever, sigint_at = kNever;
        Event *sigint = nullptr;
        for (Event &ev : events_) {
            if (ev.kind == Event::input && on_stdin)
                input_at = std::min(input_at, ev.at);
            if (ev.kind == Event::signal && !ev.done && ev.at < sigint_at)
                sigint_at = ev.at, sigint = &ev;
        }
        input_at = std::max(input_at, now_);
        sigint_at = std::max(sigint_at, now_);
        const double next = std::min({deadline, input_at, sigint_at});
        if (next == kNever) {
            lock.unlock();
            return std::nullopt; // nothing will ever happen: really block
        }
        now_ = next;
        if (remaining && timeout)
            *remaining = to_timespec(deadline - now_);
        if (input_at == next) {
            FD_ZERO(readfds);
            FD_SET(0, readfds);
            if (writefds)
                FD_ZERO(writefds);
            if (exceptfds)
                FD_ZERO(exceptfds);
            return 1;
        }
        if (sigint_at == next) {
            sigint->done = true;
            const int signo = sigint->signo;
            lock.unlock();
            deliver(signo, wait_mask);
            if (!sigismember(&wait_mask, signo)) {
                errno = EINTR;
                return -1;
            }
            lock.lock(); // blocked during the wait: it stays pending, go on waiting
            continue;
        }
        if (readfds)
            FD_ZERO(readfds);
        if (writefds)
            FD_ZERO(writefds);
        if (exceptfds)
            FD_ZERO(exceptfds);
        return 0;
    }
}

} // namespace drmsim
