// SPDX-License-Identifier: MIT
// The session's side of the served debugfs folder: reads, writes and polls
// of its CRC files, answered from the device they belong to and the
// session's clock.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <thread>

#include "real_calls.h"
#include "session.h"
#include "virtual_clock.h"

namespace drmsim {

const Session::OpenDevice *Session::device_by_serial(uint64_t serial) const {
    for (const auto &[fd, d] : devices_)
        if (d.serial == serial)
            return &d;
    return nullptr;
}

double Session::debugfs_now(uint64_t serial) const {
    const OpenDevice *d = device_by_serial(serial);
    return d ? timestamp(*d) : 0;
}

std::optional<ssize_t> Session::debugfs_read(int fd, void *buf, size_t count) {
    std::lock_guard lock(mu_);
    if (!debugfs_.owns(fd))
        return std::nullopt;
    const OpenDevice *d = device_by_serial(debugfs_.serial_of(fd));
    return debugfs_.read(fd, buf, count, d ? d->device.get() : nullptr, d ? timestamp(*d) : 0);
}

std::optional<ssize_t> Session::debugfs_write(int fd, const void *buf, size_t count) {
    std::lock_guard lock(mu_);
    if (!debugfs_.owns(fd))
        return std::nullopt;
    const OpenDevice *d = device_by_serial(debugfs_.serial_of(fd));
    return debugfs_.write(fd, buf, count, d ? d->device.get() : nullptr);
}

// poll() on debugfs files, waiting on the session's clock: the virtual one
// moves to the next entry (or the end of the timeout) at once, the real
// one is slept on. Other descriptors in the set are only looked at.
std::optional<int> Session::debugfs_poll(pollfd *fds, nfds_t nfds, int timeout_ms) {
    std::unique_lock lock(mu_);
    bool ours = false;
    for (nfds_t i = 0; i < nfds; ++i)
        ours = ours || debugfs_.owns(fds[i].fd);
    if (!ours)
        return std::nullopt;
    VirtualClock &clock = VirtualClock::get();
    const auto started = std::chrono::steady_clock::now();
    const double virtual_deadline = clock.now() + timeout_ms / 1000.0;
    for (;;) {
        int ready = 0;
        double wait = std::numeric_limits<double>::infinity();
        for (nfds_t i = 0; i < nfds; ++i) {
            fds[i].revents = 0;
            if (!debugfs_.owns(fds[i].fd)) {
                pollfd other = fds[i];
                if (real::poll(&other, 1, 0) > 0)
                    fds[i].revents = other.revents;
            } else {
                const uint64_t serial = debugfs_.serial_of(fds[i].fd);
                const OpenDevice *d = device_by_serial(serial);
                const Device *device = d ? d->device.get() : nullptr;
                const double now = debugfs_now(serial);
                fds[i].revents = short(debugfs_.poll(fds[i].fd, device, now) &
                                       (fds[i].events | POLLERR | POLLHUP));
                wait = std::min(wait, debugfs_.next_entry_at(fds[i].fd, device) - now);
            }
            ready += fds[i].revents != 0;
        }
        if (ready > 0 || timeout_ms == 0)
            return ready;
        if (clock.on()) {
            const double left = timeout_ms < 0 ? wait : virtual_deadline - clock.now();
            if (std::isinf(left))
                return 0; // nothing will come and no timeout: do not hang
            clock.advance(std::max(0.0, std::min(wait, left)));
            if (wait >= left)
                return 0;
            continue;
        }
        const double left =
            timeout_ms < 0 ? wait
                           : timeout_ms / 1000.0 - std::chrono::duration<double>(
                                                       std::chrono::steady_clock::now() - started)
                                                       .count();
        if (left <= 0)
            return 0;
        const double nap = std::max(0.0, std::min(wait, left)) + 1e-4;
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::duration<double>(std::isinf(nap) ? 1.0 : nap));
        lock.lock();
    }
}

} // namespace drmsim
