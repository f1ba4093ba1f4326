// SPDX-License-Identifier: MIT
// The C library's own calls, found past the interposers.
#include "real_calls.h"

#include <dlfcn.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace drmsim::real {
namespace {

template <typename F>
F lookup(const char *name) {
    void *p = dlsym(RTLD_NEXT, name);
    if (!p) {
        std::fprintf(stderr, "drmsim: cannot find the C library's %s\n", name);
        std::abort();
    }
    return reinterpret_cast<F>(p);
}

} // namespace

void *next(const char *name) {
    return dlsym(RTLD_NEXT, name);
}

int open(const char *path, int flags, mode_t mode) {
    static auto fn = lookup<int (*)(const char *, int, ...)>("open");
    return fn(path, flags, mode);
}

int openat(int dirfd, const char *path, int flags, mode_t mode) {
    static auto fn = lookup<int (*)(int, const char *, int, ...)>("openat");
    return fn(dirfd, path, flags, mode);
}

int close(int fd) {
    static auto fn = lookup<int (*)(int)>("close");
    return fn(fd);
}

int ioctl(int fd, unsigned long request, void *arg) {
    static auto fn = lookup<int (*)(int, unsigned long, ...)>("ioctl");
    return fn(fd, request, arg);
}

void *mmap(void *addr, size_t length, int prot, int flags, int fd, off_t offset) {
    static auto fn = lookup<void *(*)(void *, size_t, int, int, int, off_t)>("mmap");
    return fn(addr, length, prot, flags, fd, offset);
}

int munmap(void *addr, size_t length) {
    static auto fn = lookup<int (*)(void *, size_t)>("munmap");
    return fn(addr, length);
}

int select(int nfds, fd_set *r, fd_set *w, fd_set *e, timeval *timeout) {
    static auto fn = lookup<int (*)(int, fd_set *, fd_set *, fd_set *, timeval *)>("select");
    return fn(nfds, r, w, e, timeout);
}

int pselect(int nfds, fd_set *r, fd_set *w, fd_set *e, const timespec *timeout,
            const sigset_t *mask) {
    static auto fn =
        lookup<int (*)(int, fd_set *, fd_set *, fd_set *, const timespec *, const sigset_t *)>(
            "pselect");
    return fn(nfds, r, w, e, timeout, mask);
}

ssize_t read(int fd, void *buf, size_t count) {
    static auto fn = lookup<ssize_t (*)(int, void *, size_t)>("read");
    return fn(fd, buf, count);
}

ssize_t write(int fd, const void *buf, size_t count) {
    static auto fn = lookup<ssize_t (*)(int, const void *, size_t)>("write");
    return fn(fd, buf, count);
}

int poll(struct pollfd *fds, unsigned long nfds, int timeout_ms) {
    static auto fn = lookup<int (*)(struct pollfd *, nfds_t, int)>("poll");
    return fn(fds, nfds, timeout_ms);
}

int clock_gettime(clockid_t clock, timespec *ts) {
    static auto fn = lookup<int (*)(clockid_t, timespec *)>("clock_gettime");
    return fn(clock, ts);
}

} // namespace drmsim::real
