// SPDX-License-Identifier: MIT
// The process-wide session: simulated descriptors, call counts, faults, journal and snapshots.
#include "session.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "errno_text.h"
#include "leak_report.h"
#include "real_calls.h"
#include "request_descriptions.h"
#include "requests.h"
#include "virtual_clock.h"

namespace drmsim {
namespace {

double monotonic_seconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// Reads a whole (small) regular file without going through our own open().
// Anything else is left alone: opening a FIFO for reading waits for a
// writer, and opening a device node can have effects of its own.
std::optional<std::string> read_file(int dirfd, const char *path) {
    struct stat st {};
    if (fstatat(dirfd, path, &st, 0) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    // O_NONBLOCK in case the name was replaced by a FIFO since the check.
    int fd = real::openat(dirfd, path, O_RDONLY | O_CLOEXEC | O_NONBLOCK, 0);
    if (fd < 0)
        return std::nullopt;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        real::close(fd);
        return std::nullopt;
    }
    std::string text;
    char buf[4096];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        text.append(buf, size_t(n));
        if (text.size() > (1u << 20)) { // no description is this big
            real::close(fd);
            return std::nullopt;
        }
    }
    real::close(fd);
    return text;
}

void write_reports_at_exit() {
    Session::get().report_open_devices();
}

} // namespace

Session &Session::get() {
    static Session *session = new Session; // never destroyed: used until exit
    return *session;
}

Session::Session() {
    read_environment();
}

void Session::read_environment() {
    auto env = [](const char *name) -> std::string {
        const char *v = std::getenv(name);
        return v ? v : "";
    };
    journal_.set_file(env("DRMSIM_JOURNAL"));
    report_path_ = env("DRMSIM_REPORT");
    snapshots_.set_dir(env("DRMSIM_SNAPSHOTS"));
    std::string verbose = env("DRMSIM_VERBOSE");
    verbose_ = !verbose.empty() && verbose != "0";
    faults_.read_environment(env("DRMSIM_FAIL"), env("DRMSIM_DELAY"));
    try {
        pixel_faults_ = parse_pixel_faults(env("DRMSIM_PIXEL_FAULTS"));
    } catch (const std::invalid_argument &e) {
        std::fprintf(stderr, "drmsim: DRMSIM_PIXEL_FAULTS: %s, ignored\n", e.what());
    }
    debugfs_.set_faults(&pixel_faults_);
    debugfs_.set_dir(env("DRMSIM_DEBUGFS"));
    g_debugfs_served = debugfs_.serving();
}

std::optional<int> Session::try_open(int dirfd, const char *path, int flags) {
    if (!path)
        return std::nullopt;
    std::string_view p(path);
    if (g_debugfs_served.load() && (dirfd == AT_FDCWD || p.starts_with("/"))) {
        std::lock_guard lock(mu_);
        auto last = devices_.find(last_opened_);
        OpenDevice *d = last == devices_.end() ? nullptr : &last->second;
        if (auto r = debugfs_.open(p, flags, d ? d->serial : 0, d ? d->device.get() : nullptr)) {
            if (*r < 0) {
                errno = -*r;
                return -1;
            }
            ++g_debugfs_files;
            return *r;
        }
    }
    if (!p.ends_with(".json"))
        return std::nullopt;
    // A device is opened read-write; reading or writing a JSON file is not
    // opening a device.
    if ((flags & O_ACCMODE) != O_RDWR ||
        (flags & (O_CREAT | O_TRUNC | O_APPEND | O_DIRECTORY | O_PATH)))
        return std::nullopt;
    auto text = read_file(dirfd, path);
    if (!text || !looks_like_description(*text))
        return std::nullopt;
    return open_description(*text, path, flags);
}

int Session::open_description(const std::string &text, const std::string &label, int flags) {
    std::unique_ptr<Device> device;
    try {
        device = std::make_unique<Device>(parse_description(text));
    } catch (const DescriptionError &e) {
        std::fprintf(stderr, "drmsim: %s: %s\n", label.c_str(), e.what());
        errno = EINVAL;
        return -1;
    }
    // A real descriptor of its own, so that close, fcntl and select work.
    int fd = memfd_create("drmsim-device", (flags & O_CLOEXEC) ? MFD_CLOEXEC : 0);
    if (fd < 0)
        return -1;
    if (flags & O_NONBLOCK)
        fcntl(fd, F_SETFL, O_NONBLOCK);

    std::lock_guard lock(mu_);
    OpenDevice d;
    d.device = std::move(device);
    d.label = label;
    d.opened_at = monotonic_seconds();
    d.serial = next_serial_++;
    if (verbose_)
        std::fprintf(stderr, "drmsim: open %s -> fd %d: %zu CRTCs, %zu connectors, %zu planes\n",
                     label.c_str(), fd, d.device->crtcs().size(), d.device->connectors().size(),
                     d.device->planes().size());
    d.device->set_writeback_faults(&pixel_faults_.writeback);
    devices_[fd] = std::move(d);
    closed_reports_.erase(fd);
    last_opened_ = fd;
    ++g_open_devices;
    if (!exit_hook_installed_) {
        exit_hook_installed_ = true;
        std::atexit(write_reports_at_exit);
    }
    return fd;
}

bool Session::is_device(int fd) {
    std::lock_guard lock(mu_);
    return devices_.count(fd) != 0;
}

Device &Session::device_of(int fd) {
    auto it = devices_.find(fd);
    if (it == devices_.end())
        throw std::invalid_argument("fd " + std::to_string(fd) + " is not a simulated device");
    return *it->second.device;
}

double Session::timestamp(const OpenDevice &d) const {
    VirtualClock &clock = VirtualClock::get();
    return clock.on() ? clock.now() : monotonic_seconds() - d.opened_at;
}

int Session::ioctl(int fd, unsigned long number, void *arg) {
    std::unique_lock lock(mu_);
    auto it = devices_.find(fd);
    if (it == devices_.end()) {
        errno = EBADF;
        return -1;
    }
    const Request *request = find_request(number);
    if (!request) {
        ++counts_["ioctl"];
        if (verbose_)
            std::fprintf(stderr, "drmsim: unsupported ioctl 0x%lx: EINVAL\n", number);
        errno = EINVAL;
        return -1;
    }
    Device *device = it->second.device.get();
    const bool counts = device->begin_call(*request, arg);
    const bool journaled = request->description && arg;
    JournalEntry entry;
    if (journaled) {
        entry = request->description->decode(*device, arg);
        entry.request = journal_name(*request);
    }
    std::optional<int> injected;
    std::optional<DriverFault> misapplied;
    unsigned nth = 0;
    if (counts) {
        nth = ++counts_[std::string(request->name)];
        injected = faults_.failure(request->name, nth);
        misapplied = faults_.driver_fault(request->name, nth);
        if (unsigned ms = faults_.delay_ms(request->name)) {
            lock.unlock();
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            lock.lock();
            it = devices_.find(fd);
            if (it == devices_.end()) { // closed by another thread meanwhile
                errno = EBADF;
                return -1;
            }
            device = it->second.device.get();
        }
    }
    // A request can take a plane away from a CRTC, whose picture changes too.
    std::vector<int> plane_crtcs_before;
    if (journaled)
        for (const Plane &p : device->planes())
            plane_crtcs_before.push_back(p.crtc);

    int result;
    if (injected && *injected == 0) {
        result = 0;
        if (verbose_)
            std::fprintf(stderr, "drmsim: [t=%.3f] %s call %u: injected ignore (0, nothing done)\n",
                         timestamp(it->second), std::string(request->name).c_str(), nth);
    } else if (injected) {
        result = -*injected;
        if (verbose_ && !journaled)
            std::fprintf(stderr, "drmsim: [t=%.3f] %s call %u: injected failure %s\n",
                         timestamp(it->second), std::string(request->name).c_str(), nth,
                         errno_name(*injected).c_str());
    } else if (misapplied && arg) {
        result = request->faulty_handler(*device, arg, *misapplied);
        if (verbose_)
            std::fprintf(stderr, "drmsim: [t=%.3f] %s call %u: injected driver fault %s\n",
                         timestamp(it->second), std::string(request->name).c_str(), nth,
                         std::string(driver_fault_name(*misapplied)).c_str());
    } else {
        result = device->ioctl(*request, arg);
    }
    if (journaled) {
        entry.t = timestamp(it->second);
        entry.result = result;
        journal_.record(entry, *request, *device, verbose_);
        if (!injected) // an ignored call changed no picture
            snapshots_.after(entry, *request, plane_crtcs_before, *device);
    }
    const int signal =
        request->ties_events && counts ? VirtualClock::get().signal_at(*request, nth) : 0;
    lock.unlock();
    if (signal)
        raise(signal);
    if (result < 0) {
        errno = -result;
        return -1;
    }
    return result;
}

void *Session::mmap(void *addr, size_t length, int prot, int flags, int fd, off_t offset) {
    std::lock_guard lock(mu_);
    auto it = devices_.find(fd);
    if (it == devices_.end()) {
        errno = EBADF;
        return MAP_FAILED;
    }
    const std::string name(mmap_request().name);
    unsigned nth = ++counts_[name];
    if (auto err = faults_.failure(name, nth)) {
        if (verbose_)
            std::fprintf(stderr, "drmsim: [t=%.3f] %s call %u: injected failure %s\n",
                         timestamp(it->second), name.c_str(), nth, errno_name(*err).c_str());
        errno = *err;
        return MAP_FAILED;
    }
    // Dumb buffers can only be shared; a private copy-on-write mapping is
    // refused as the kernel's GEM mmap refuses it.
    int type = flags & MAP_TYPE;
    if ((type != MAP_SHARED && type != MAP_SHARED_VALIDATE) || offset < 0 || length == 0) {
        errno = EINVAL;
        return MAP_FAILED;
    }
    std::shared_ptr<BufferObject> buffer;
    if (int e = it->second.device->find_mapping(uint64_t(offset), length, buffer)) {
        errno = -e;
        return MAP_FAILED;
    }
    void *p = buffer->map(addr, length, prot, flags);
    if (p == MAP_FAILED)
        return p;
    mappings_.push_back({reinterpret_cast<uintptr_t>(p), length, it->second.serial, buffer});
    ++g_tracked_mappings;
    return p;
}

void Session::unmapped(void *addr, size_t length) {
    std::lock_guard lock(mu_);
    const uintptr_t a = reinterpret_cast<uintptr_t>(addr), b = a + length;
    std::vector<Mapping> kept;
    for (Mapping &m : mappings_) {
        uintptr_t end = m.start + m.length;
        if (b <= m.start || a >= end) {
            kept.push_back(std::move(m));
            continue;
        }
        // Whatever of the mapping lies outside the unmapped range stays.
        if (m.start < a)
            kept.push_back({m.start, a - m.start, m.device_serial, m.buffer});
        if (end > b)
            kept.push_back({b, end - b, m.device_serial, m.buffer});
    }
    mappings_ = std::move(kept);
    g_tracked_mappings = int(mappings_.size());
}

LeakReport Session::report_for(const OpenDevice &d, bool closed) const {
    unsigned mappings = 0;
    for (const Mapping &m : mappings_)
        mappings += m.device_serial == d.serial;
    return leak_report(*d.device, mappings, closed);
}

int Session::close(int fd) {
    std::lock_guard lock(mu_);
    if (debugfs_.owns(fd)) {
        debugfs_.close(fd);
        --g_debugfs_files;
        return 0;
    }
    auto it = devices_.find(fd);
    if (it == devices_.end())
        return 0;
    LeakReport r = report_for(it->second, true);
    publish_leak_report(r, report_path_, verbose_, fd, it->second.label);
    it->second.device->release_file();
    debugfs_.forget(it->second.serial);
    closed_reports_[fd] = r;
    devices_.erase(it);
    --g_open_devices;
    return 0;
}

void Session::report_open_devices() {
    std::lock_guard lock(mu_);
    for (auto &[fd, d] : devices_)
        publish_leak_report(report_for(d, false), report_path_, verbose_, fd, d.label);
}

void Session::fail(std::string_view request, unsigned nth, int err) {
    std::lock_guard lock(mu_);
    faults_.fail(request, nth, err);
}

void Session::delay(std::string_view request, unsigned milliseconds) {
    std::lock_guard lock(mu_);
    faults_.delay(request, milliseconds);
}

void Session::reset() {
    std::lock_guard lock(mu_);
    faults_.clear();
    counts_.clear();
    journal_.clear();
    VirtualClock::get().reset();
}

unsigned Session::request_count(std::string_view request) {
    std::lock_guard lock(mu_);
    auto it = counts_.find(request);
    return it == counts_.end() ? 0 : it->second;
}

std::vector<JournalEntry> Session::journal() {
    std::lock_guard lock(mu_);
    return journal_.entries();
}

LeakReport Session::leaks(int fd) {
    std::lock_guard lock(mu_);
    if (auto it = devices_.find(fd); it != devices_.end())
        return report_for(it->second, false);
    if (auto it = closed_reports_.find(fd); it != closed_reports_.end())
        return it->second;
    throw std::invalid_argument("fd " + std::to_string(fd) + " was never a simulated device");
}

int Session::last_opened() {
    std::lock_guard lock(mu_);
    return devices_.count(last_opened_) ? last_opened_ : -1;
}

void Session::set_journal_file(const std::string &path) {
    std::lock_guard lock(mu_);
    journal_.set_file(path);
}
void Session::set_report_file(const std::string &path) {
    std::lock_guard lock(mu_);
    report_path_ = path;
}
void Session::set_snapshot_dir(const std::string &dir) {
    std::lock_guard lock(mu_);
    snapshots_.set_dir(dir);
}
void Session::set_verbose(bool on) {
    std::lock_guard lock(mu_);
    verbose_ = on;
}
void Session::set_debugfs_dir(const std::string &dir) {
    std::lock_guard lock(mu_);
    debugfs_.set_dir(dir);
    g_debugfs_served = debugfs_.serving();
}
void Session::set_pixel_faults(const std::string &faults) {
    std::lock_guard lock(mu_);
    pixel_faults_ = parse_pixel_faults(faults);
}

} // namespace drmsim
