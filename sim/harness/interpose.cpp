// SPDX-License-Identifier: MIT
// The C library calls the simulation answers for simulated descriptors.
// Built into libdrmsim.so (LD_PRELOAD) and, for test executables, into the
// executable itself; either way these definitions come before the C
// library's, which they reach for everything that is not theirs.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/select.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <stdexcept>
#include <string_view>

#include "real_calls.h"
#include "session.h"
#include "virtual_clock.h"

using drmsim::Session;
using drmsim::VirtualClock;

namespace {

template <typename F>
F next(const char *name) {
    return reinterpret_cast<F>(drmsim::real::next(name));
}

// Paths the session may answer: device descriptions, and the debugfs
// folder when one is served.
bool names_json(const char *path) {
    return path && (std::string_view(path).ends_with(".json") || drmsim::g_debugfs_served.load());
}

mode_t mode_argument(int flags, va_list ap) {
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? mode_t(va_arg(ap, int)) : 0;
}

using OpenFn = int (*)(const char *, int, ...);
using OpenAtFn = int (*)(int, const char *, int, ...);

} // namespace

#define DRMSIM_EXPORT __attribute__((visibility("default")))

namespace {

// A fault, delay or event that does not parse would let the program run
// without it, and a fault test pass for the wrong reason: refuse the
// settings before the program's main runs.
__attribute__((constructor)) void check_settings() {
    try {
        Session::get();
        VirtualClock::get();
    } catch (const std::invalid_argument &e) {
        std::fprintf(stderr, "drmsim: %s\n", e.what());
        _exit(2);
    }
}

// A device description opened as a device: its simulated descriptor, or
// nothing when the path is another file.
std::optional<int> simulated_open(int dirfd, const char *path, int flags) {
    if (!names_json(path))
        return std::nullopt;
    return Session::get().try_open(dirfd, path, flags);
}

} // namespace

extern "C" {

DRMSIM_EXPORT int open(const char *path, int flags, ...) {
    static auto fn = next<OpenFn>("open");
    va_list ap;
    va_start(ap, flags);
    mode_t mode = mode_argument(flags, ap);
    va_end(ap);
    if (auto fd = simulated_open(AT_FDCWD, path, flags))
        return *fd;
    return fn(path, flags, mode);
}

DRMSIM_EXPORT int open64(const char *path, int flags, ...) {
    static auto fn = next<OpenFn>("open64");
    va_list ap;
    va_start(ap, flags);
    mode_t mode = mode_argument(flags, ap);
    va_end(ap);
    if (auto fd = simulated_open(AT_FDCWD, path, flags))
        return *fd;
    return fn(path, flags, mode);
}

DRMSIM_EXPORT int openat(int dirfd, const char *path, int flags, ...) {
    static auto fn = next<OpenAtFn>("openat");
    va_list ap;
    va_start(ap, flags);
    mode_t mode = mode_argument(flags, ap);
    va_end(ap);
    if (auto fd = simulated_open(dirfd, path, flags))
        return *fd;
    return fn(dirfd, path, flags, mode);
}

DRMSIM_EXPORT int openat64(int dirfd, const char *path, int flags, ...) {
    static auto fn = next<OpenAtFn>("openat64");
    va_list ap;
    va_start(ap, flags);
    mode_t mode = mode_argument(flags, ap);
    va_end(ap);
    if (auto fd = simulated_open(dirfd, path, flags))
        return *fd;
    return fn(dirfd, path, flags, mode);
}

// The fortified entry points (used when the flags are not compile-time
// constants); they take no mode.
DRMSIM_EXPORT int __open_2(const char *path, int flags) {
    if (auto fd = simulated_open(AT_FDCWD, path, flags))
        return *fd;
    return next<int (*)(const char *, int)>("__open_2")(path, flags);
}
DRMSIM_EXPORT int __open64_2(const char *path, int flags) {
    if (auto fd = simulated_open(AT_FDCWD, path, flags))
        return *fd;
    return next<int (*)(const char *, int)>("__open64_2")(path, flags);
}
DRMSIM_EXPORT int __openat_2(int dirfd, const char *path, int flags) {
    if (auto fd = simulated_open(dirfd, path, flags))
        return *fd;
    return next<int (*)(int, const char *, int)>("__openat_2")(dirfd, path, flags);
}
DRMSIM_EXPORT int __openat64_2(int dirfd, const char *path, int flags) {
    if (auto fd = simulated_open(dirfd, path, flags))
        return *fd;
    return next<int (*)(int, const char *, int)>("__openat64_2")(dirfd, path, flags);
}

DRMSIM_EXPORT int ioctl(int fd, unsigned long request, ...) noexcept {
    va_list ap;
    va_start(ap, request);
    void *arg = va_arg(ap, void *);
    va_end(ap);
    if (drmsim::g_open_devices.load() > 0 && Session::get().is_device(fd))
        return Session::get().ioctl(fd, request, arg);
    // Scripted input makes standard input readable without bytes in it; a
    // program that asks how many there are must not take that for its end.
    if (fd == 0 && request == FIONREAD && arg && VirtualClock::get().on() &&
        VirtualClock::get().input_arrived()) {
        *static_cast<int *>(arg) = 1;
        return 0;
    }
    return drmsim::real::ioctl(fd, request, arg);
}

DRMSIM_EXPORT void *mmap(void *addr, size_t length, int prot, int flags, int fd,
                         off_t offset) noexcept {
    if (fd >= 0 && drmsim::g_open_devices.load() > 0 && Session::get().is_device(fd))
        return Session::get().mmap(addr, length, prot, flags, fd, offset);
    return drmsim::real::mmap(addr, length, prot, flags, fd, offset);
}

DRMSIM_EXPORT void *mmap64(void *addr, size_t length, int prot, int flags, int fd,
                           off64_t offset) noexcept {
    return mmap(addr, length, prot, flags, fd, off_t(offset));
}

DRMSIM_EXPORT int munmap(void *addr, size_t length) noexcept {
    int r = drmsim::real::munmap(addr, length);
    if (r == 0 && drmsim::g_tracked_mappings.load() > 0)
        Session::get().unmapped(addr, length);
    return r;
}

DRMSIM_EXPORT int close(int fd) {
    if (drmsim::g_open_devices.load() > 0 || drmsim::g_debugfs_files.load() > 0)
        Session::get().close(fd);
    return drmsim::real::close(fd);
}

// The debugfs folder's files (debugfs.h); everything else goes straight on.
DRMSIM_EXPORT ssize_t read(int fd, void *buf, size_t count) {
    if (drmsim::g_debugfs_files.load() > 0)
        if (auto r = Session::get().debugfs_read(fd, buf, count)) {
            if (*r < 0) {
                errno = int(-*r);
                return -1;
            }
            return *r;
        }
    return drmsim::real::read(fd, buf, count);
}

DRMSIM_EXPORT ssize_t write(int fd, const void *buf, size_t count) {
    if (drmsim::g_debugfs_files.load() > 0)
        if (auto r = Session::get().debugfs_write(fd, buf, count)) {
            if (*r < 0) {
                errno = int(-*r);
                return -1;
            }
            return *r;
        }
    return drmsim::real::write(fd, buf, count);
}

DRMSIM_EXPORT int poll(struct pollfd *fds, nfds_t nfds, int timeout_ms) {
    if (drmsim::g_debugfs_files.load() > 0)
        if (auto r = Session::get().debugfs_poll(fds, nfds, timeout_ms))
            return *r;
    return drmsim::real::poll(fds, nfds, timeout_ms);
}

DRMSIM_EXPORT int select(int nfds, fd_set *readfds, fd_set *writefds, fd_set *exceptfds,
                         timeval *timeout) {
    VirtualClock &clock = VirtualClock::get();
    if (clock.on()) {
        timespec ts{}, remaining{};
        if (timeout) {
            if (timeout->tv_usec < 0 || timeout->tv_usec >= 1000000 || timeout->tv_sec < 0) {
                errno = EINVAL;
                return -1;
            }
            ts = {timeout->tv_sec, long(timeout->tv_usec) * 1000};
        }
        if (auto r = clock.wait(nfds, readfds, writefds, exceptfds, timeout ? &ts : nullptr,
                                nullptr, &remaining)) {
            if (timeout)
                *timeout = {remaining.tv_sec, suseconds_t(remaining.tv_nsec / 1000)};
            return *r;
        }
    }
    return drmsim::real::select(nfds, readfds, writefds, exceptfds, timeout);
}

DRMSIM_EXPORT int pselect(int nfds, fd_set *readfds, fd_set *writefds, fd_set *exceptfds,
                          const timespec *timeout, const sigset_t *sigmask) {
    VirtualClock &clock = VirtualClock::get();
    if (clock.on()) {
        timespec remaining{};
        if (auto r = clock.wait(nfds, readfds, writefds, exceptfds, timeout, sigmask, &remaining))
            return *r;
    }
    return drmsim::real::pselect(nfds, readfds, writefds, exceptfds, timeout, sigmask);
}

// Under the virtual clock the program's monotonic time is the virtual
// time, so that what it measures (a wait's remaining time, its report's
// times) agrees with what the device records.
DRMSIM_EXPORT int clock_gettime(clockid_t clock, timespec *ts) noexcept {
    if (clock == CLOCK_MONOTONIC && VirtualClock::get().on()) {
        *ts = VirtualClock::get().monotonic();
        return 0;
    }
    return drmsim::real::clock_gettime(clock, ts);
}

} // extern "C"
