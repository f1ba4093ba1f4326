// SPDX-License-Identifier: MIT
// The C library's own definitions of the calls the simulation intercepts,
// found behind our interposers. The model uses these for its own files and
// memory so that it never re-enters itself.
#pragma once

#include <poll.h>
#include <sys/select.h>
#include <sys/types.h>

#include <csignal>
#include <ctime>

namespace drmsim::real {

int open(const char *path, int flags, mode_t mode);
int openat(int dirfd, const char *path, int flags, mode_t mode);
int close(int fd);
int ioctl(int fd, unsigned long request, void *arg);
void *mmap(void *addr, size_t length, int prot, int flags, int fd, off_t offset);
int munmap(void *addr, size_t length);
int select(int nfds, fd_set *readfds, fd_set *writefds, fd_set *exceptfds, timeval *timeout);
int pselect(int nfds, fd_set *readfds, fd_set *writefds, fd_set *exceptfds, const timespec *timeout,
            const sigset_t *sigmask);
int clock_gettime(clockid_t clock, timespec *ts);

ssize_t read(int fd, void *buf, size_t count);
ssize_t write(int fd, const void *buf, size_t count);
int poll(struct pollfd *fds, unsigned long nfds, int timeout_ms);

// Looks up the next definition of `name` after the caller's object.
void *next(const char *name);

} // namespace drmsim::real
