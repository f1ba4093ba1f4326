#include "session.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

#include <nlohmann/json.hpp>

#include "png_writer.h"
#include "real_calls.h"
#include "virtual_clock.h"

namespace drmsim {
namespace {

constexpr std::string_view kRequestNames[] = {
    "getresources",  "getconnector", "getencoder", "getcrtc", "getplaneresources", "getplane",
    "getproperties", "getproperty",  "createdumb", "mapdumb", "destroydumb",       "mmap",
    "addfb2",        "addfb",        "rmfb",       "setcrtc", "setplane",          "setclientcap",
    "getcap",        "version",      "gemclose"};

bool known_request(std::string_view name) {
    return std::find(std::begin(kRequestNames), std::end(kRequestNames), name) !=
           std::end(kRequestNames);
}

// Requests that change state, which an injected fault may answer with 0
// while changing nothing, as a faulty driver would.
bool can_ignore(std::string_view name) {
    return name == "setcrtc" || name == "setplane";
}

double monotonic_seconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// Reads a whole (small) file without going through our own open().
std::optional<std::string> read_file(int dirfd, const char *path) {
    int fd = real::openat(dirfd, path, O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0)
        return std::nullopt;
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

std::string list(const std::vector<uint32_t> &ids) {
    std::string s;
    for (uint32_t id : ids)
        s += (s.empty() ? "" : ", ") + std::to_string(id);
    return s;
}

std::string mode_name(const drm_mode_modeinfo &m) {
    return std::string(m.name, strnlen(m.name, sizeof m.name));
}

// Splits "a,b,c" and hands each non-empty item to `fn`.
template <typename Fn>
void for_each_item(std::string_view text, Fn fn) {
    while (!text.empty()) {
        size_t comma = text.find(',');
        std::string_view item = text.substr(0, comma);
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
        if (!item.empty())
            fn(item);
    }
}

std::optional<unsigned> parse_unsigned(std::string_view text) {
    unsigned v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return v;
}

// Opens, writes and closes at once: a descriptor kept open could take the
// place of one the program closed (its stdin, say) and change what the
// program sees there.
bool append_line(const std::string &path, const std::string &line) {
    int fd = real::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    bool ok = ::write(fd, line.data(), line.size()) == ssize_t(line.size());
    real::close(fd);
    return ok;
}

void write_reports_at_exit() {
    Session::get().report_open_devices();
}

} // namespace

std::string errno_name(int err) {
    const char *name = strerrorname_np(err);
    return name ? name : std::to_string(err);
}

std::optional<int> parse_errno(std::string_view text) {
    if (auto n = parse_unsigned(text); n && *n > 0 && *n < 4096)
        return int(*n);
    for (int e = 1; e < 200; ++e) {
        const char *name = strerrorname_np(e);
        if (name && text == name)
            return e;
    }
    return std::nullopt;
}

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
    journal_path_ = env("DRMSIM_JOURNAL");
    report_path_ = env("DRMSIM_REPORT");
    snapshot_dir_ = env("DRMSIM_SNAPSHOTS");
    std::string verbose = env("DRMSIM_VERBOSE");
    verbose_ = !verbose.empty() && verbose != "0";
    for_each_item(env("DRMSIM_FAIL"), [&](std::string_view failure) {
        // request:N:errno
        size_t a = failure.find(':'), b = failure.find(':', a == failure.npos ? a : a + 1);
        std::optional<unsigned> nth;
        std::optional<int> err;
        if (a != failure.npos && b != failure.npos) {
            nth = parse_unsigned(failure.substr(a + 1, b - a - 1));
            err = failure.substr(b + 1) == "ignore" && can_ignore(failure.substr(0, a))
                      ? std::optional<int>(0)
                      : parse_errno(failure.substr(b + 1));
        }
        if (!nth || !*nth || !err || !known_request(failure.substr(0, a))) {
            std::fprintf(stderr,
                         "drmsim: DRMSIM_FAIL: ignoring \"%.*s\" (expected request:N:errno, or "
                         "setcrtc:N:ignore or setplane:N:ignore)\n",
                         int(failure.size()), failure.data());
            return;
        }
        failures_.push_back({std::string(failure.substr(0, a)), *nth, *err});
    });
    for_each_item(env("DRMSIM_DELAY"), [&](std::string_view failure) {
        size_t a = failure.find(':');
        auto ms = a == failure.npos ? std::nullopt : parse_unsigned(failure.substr(a + 1));
        if (!ms || !known_request(failure.substr(0, a))) {
            std::fprintf(stderr, "drmsim: DRMSIM_DELAY: ignoring \"%.*s\" (expected request:MS)\n",
                         int(failure.size()), failure.data());
            return;
        }
        delays_[std::string(failure.substr(0, a))] = *ms;
    });
}

std::optional<int> Session::try_open(int dirfd, const char *path, int flags) {
    if (!path)
        return std::nullopt;
    std::string_view p(path);
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

std::optional<int> Session::injected_failure(std::string_view request, unsigned nth) const {
    for (const Failure &f : failures_)
        if (f.request == request && f.nth == nth)
            return f.err;
    return std::nullopt;
}

int Session::ioctl(int fd, unsigned long request, void *arg) {
    std::unique_lock lock(mu_);
    auto it = devices_.find(fd);
    if (it == devices_.end()) {
        errno = EBADF;
        return -1;
    }
    Device *device = it->second.device.get();
    const Device::CallInfo call = device->begin_call(request, arg);
    const bool journaled = request == DRM_IOCTL_MODE_SETCRTC || request == DRM_IOCTL_MODE_SETPLANE;
    JournalEntry entry;
    if (journaled)
        entry = describe(*device, request, arg);
    std::optional<int> injected;
    unsigned nth = 0;
    if (call.counts) {
        nth = ++counts_[std::string(call.name)];
        injected = injected_failure(call.name, nth);
        if (auto d = delays_.find(call.name); d != delays_.end() && d->second) {
            unsigned ms = d->second;
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
    // The CRTC a SETPLANE takes its plane away from changes picture too.
    int plane_crtc_before = -1;
    if (request == DRM_IOCTL_MODE_SETPLANE && entry.plane_index >= 0)
        plane_crtc_before = device->planes()[size_t(entry.plane_index)].crtc;

    int result;
    if (injected && *injected == 0) {
        result = 0;
        if (verbose_)
            std::fprintf(stderr, "drmsim: [t=%.3f] %s call %u: injected ignore (0, nothing done)\n",
                         timestamp(it->second), std::string(call.name).c_str(), nth);
    } else if (injected) {
        result = -*injected;
        if (verbose_ && !journaled)
            std::fprintf(stderr, "drmsim: [t=%.3f] %s call %u: injected failure %s\n",
                         timestamp(it->second), std::string(call.name).c_str(), nth,
                         errno_name(*injected).c_str());
    } else {
        result = device->ioctl(request, arg);
        if (result == -EINVAL && request_name(request) == "ioctl" && verbose_)
            std::fprintf(stderr, "drmsim: unsupported ioctl 0x%lx: EINVAL\n", request);
    }
    if (journaled) {
        entry.t = timestamp(it->second);
        entry.result = result;
        record(entry, *device);
        if (result == 0 && !injected && !snapshot_dir_.empty()) {
            if (request == DRM_IOCTL_MODE_SETCRTC) {
                if (entry.crtc_index >= 0)
                    snapshot(*device, unsigned(entry.crtc_index));
            } else {
                int now_on = device->planes()[size_t(entry.plane_index)].crtc;
                if (now_on >= 0)
                    snapshot(*device, unsigned(now_on));
                if (plane_crtc_before >= 0 && plane_crtc_before != now_on)
                    snapshot(*device, unsigned(plane_crtc_before));
            }
        }
    }
    const int signal = request == DRM_IOCTL_MODE_SETCRTC && call.counts
                           ? VirtualClock::get().signal_at_setcrtc(nth)
                           : 0;
    lock.unlock();
    if (signal)
        raise(signal);
    if (result < 0) {
        errno = -result;
        return -1;
    }
    return result;
}

JournalEntry Session::describe(const Device &device, unsigned long request, const void *arg) const {
    JournalEntry e;
    if (request == DRM_IOCTL_MODE_SETCRTC) {
        const auto &c = *static_cast<const drm_mode_crtc *>(arg);
        e.request = "SETCRTC";
        e.crtc = c.crtc_id;
        e.crtc_index = device.crtc_index(c.crtc_id);
        e.fb = c.fb_id;
        if (c.set_connectors_ptr && c.count_connectors <= 64) {
            auto *ids =
                reinterpret_cast<const uint32_t *>(static_cast<uintptr_t>(c.set_connectors_ptr));
            for (uint32_t i = 0; i < c.count_connectors; ++i) {
                e.connectors.push_back(ids[i]);
                e.connector_indices.push_back(device.connector_index(ids[i]));
            }
        }
        if (c.mode_valid)
            e.mode = ModeSummary{mode_name(c.mode), c.mode.hdisplay, c.mode.vdisplay};
    } else {
        const auto &p = *static_cast<const drm_mode_set_plane *>(arg);
        e.request = "SETPLANE";
        e.plane = p.plane_id;
        e.plane_index = device.plane_index(p.plane_id);
        e.crtc = p.crtc_id;
        e.crtc_index = device.crtc_index(p.crtc_id);
        e.fb = p.fb_id;
        e.src = {p.src_x, p.src_y, p.src_w, p.src_h};
        e.dst = {p.crtc_x, p.crtc_y, p.crtc_w, p.crtc_h};
    }
    return e;
}

std::string Session::account(const JournalEntry &e, const Device &device) const {
    char t[32];
    std::snprintf(t, sizeof t, "[t=%.3f]", e.t);
    auto index = [](int i) { return i >= 0 ? std::to_string(i) : std::string("?"); };
    std::string s = std::string("drmsim: ") + t + " " + e.request;
    if (e.request == "SETCRTC") {
        s += " crtc " + index(e.crtc_index) + " (id " + std::to_string(e.crtc) + ")";
        if (!e.mode) {
            s += " off";
        } else {
            s += " fb " + std::to_string(e.fb) + " -> ";
            if (e.connectors.empty())
                s += "no connector";
            for (size_t i = 0; i < e.connectors.size(); ++i) {
                int ci = e.connector_indices[i];
                s += i ? ", " : (e.connectors.size() > 1 ? "connectors " : "connector ");
                s += (ci >= 0 ? device.connectors()[size_t(ci)].name : std::string("?")) + " (id " +
                     std::to_string(e.connectors[i]) + ")";
            }
            s += " " + e.mode->name;
        }
    } else {
        s += " plane " + index(e.plane_index) + " (id " + std::to_string(e.plane) + ")";
        if (!e.fb) {
            s += " off";
        } else {
            s += " crtc " + index(e.crtc_index) + " (id " + std::to_string(e.crtc) + ") fb " +
                 std::to_string(e.fb);
            char rects[160];
            std::snprintf(rects, sizeof rects, " src %u,%u %ux%u dst %lld,%lld %llux%llu",
                          e.src[0] >> 16, e.src[1] >> 16, e.src[2] >> 16, e.src[3] >> 16,
                          (long long)e.dst[0], (long long)e.dst[1], (unsigned long long)e.dst[2],
                          (unsigned long long)e.dst[3]);
            s += rects;
        }
    }
    s += e.result == 0 ? ": ok" : ": refused, " + errno_name(-e.result);
    return s;
}

void Session::record(JournalEntry entry, const Device &device) {
    if (verbose_)
        std::fprintf(stderr, "%s\n", account(entry, device).c_str());
    if (!journal_path_.empty()) {
        nlohmann::json j;
        j["t"] = entry.t;
        j["request"] = entry.request;
        j["crtc"] = entry.crtc;
        j["crtc_index"] = entry.crtc_index;
        j["fb"] = entry.fb;
        j["connectors"] = entry.connectors;
        j["connector_indices"] = entry.connector_indices;
        if (entry.mode)
            j["mode"] = {{"name", entry.mode->name},
                         {"hdisplay", entry.mode->hdisplay},
                         {"vdisplay", entry.mode->vdisplay}};
        else
            j["mode"] = nullptr;
        if (entry.request == "SETPLANE") {
            j["plane"] = entry.plane;
            j["plane_index"] = entry.plane_index;
            j["src"] = entry.src;
            j["dst"] = entry.dst;
        }
        j["result"] = entry.result;
        if (!append_line(journal_path_, j.dump() + "\n")) {
            std::fprintf(stderr, "drmsim: cannot append to journal %s: %s\n", journal_path_.c_str(),
                         std::strerror(errno));
            journal_path_.clear();
        }
    }
    // Bounded so that a program cycling for days under the virtual clock
    // does not grow without end; tests read far fewer.
    constexpr size_t kJournalKept = 100000;
    if (journal_.size() >= kJournalKept)
        journal_.erase(journal_.begin(), journal_.begin() + kJournalKept / 2);
    journal_.push_back(std::move(entry));
}

void Session::snapshot(const Device &device, unsigned crtc) {
    Picture picture = device.compose(crtc);
    if (picture.width == 0)
        return;
    std::string path = snapshot_dir_ + "/crtc-" + std::to_string(crtc) + ".png", error;
    if (!write_png(path, picture, error))
        std::fprintf(stderr, "drmsim: snapshot: %s\n", error.c_str());
}

void *Session::mmap(void *addr, size_t length, int prot, int flags, int fd, off_t offset) {
    std::lock_guard lock(mu_);
    auto it = devices_.find(fd);
    if (it == devices_.end()) {
        errno = EBADF;
        return MAP_FAILED;
    }
    unsigned nth = ++counts_["mmap"];
    if (auto err = injected_failure("mmap", nth)) {
        if (verbose_)
            std::fprintf(stderr, "drmsim: [t=%.3f] mmap call %u: injected failure %s\n",
                         timestamp(it->second), nth, errno_name(*err).c_str());
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
    LeakReport r;
    r.closed = closed;
    r.framebuffers = d.device->framebuffer_ids();
    r.dumb_buffers = d.device->dumb_handles();
    for (const Mapping &m : mappings_)
        r.mappings += m.device_serial == d.serial;
    return r;
}

void Session::publish_report(const OpenDevice &d, int fd, const LeakReport &r) {
    if (!report_path_.empty()) {
        nlohmann::json j{{"closed", r.closed},
                         {"framebuffers", r.framebuffers},
                         {"dumb_buffers", r.dumb_buffers},
                         {"mappings", r.mappings}};
        if (FILE *f = std::fopen(report_path_.c_str(), "w")) {
            std::string text = j.dump() + "\n";
            std::fputs(text.c_str(), f);
            std::fclose(f);
        } else {
            std::fprintf(stderr, "drmsim: cannot write report %s: %s\n", report_path_.c_str(),
                         std::strerror(errno));
        }
    }
    if (!verbose_ && report_path_.empty())
        return;
    if (r.clean()) {
        if (verbose_)
            std::fprintf(stderr, "drmsim: %s fd %d (%s): nothing left behind\n",
                         r.closed ? "close" : "exit with", fd, d.label.c_str());
        return;
    }
    std::fprintf(stderr,
                 "drmsim: left behind: framebuffers [%s], dumb buffers [%s], %u mappings%s\n",
                 list(r.framebuffers).c_str(), list(r.dumb_buffers).c_str(), r.mappings,
                 r.closed ? "" : ", device still open at exit");
}

int Session::close(int fd) {
    std::lock_guard lock(mu_);
    auto it = devices_.find(fd);
    if (it == devices_.end())
        return 0;
    LeakReport r = report_for(it->second, true);
    publish_report(it->second, fd, r);
    it->second.device->release_file();
    closed_reports_[fd] = r;
    devices_.erase(it);
    --g_open_devices;
    return 0;
}

void Session::report_open_devices() {
    std::lock_guard lock(mu_);
    for (auto &[fd, d] : devices_)
        publish_report(d, fd, report_for(d, false));
}

void Session::fail(std::string_view request, unsigned nth, int err) {
    if (!known_request(request))
        throw std::invalid_argument("unknown request \"" + std::string(request) + "\"");
    if (err == 0 && !can_ignore(request))
        throw std::invalid_argument("only setcrtc and setplane can be ignored");
    std::lock_guard lock(mu_);
    failures_.push_back({std::string(request), nth, err});
}

void Session::delay(std::string_view request, unsigned milliseconds) {
    if (!known_request(request))
        throw std::invalid_argument("unknown request \"" + std::string(request) + "\"");
    std::lock_guard lock(mu_);
    delays_[std::string(request)] = milliseconds;
}

void Session::reset() {
    std::lock_guard lock(mu_);
    failures_.clear();
    delays_.clear();
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
    return journal_;
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
    journal_path_ = path;
}
void Session::set_report_file(const std::string &path) {
    std::lock_guard lock(mu_);
    report_path_ = path;
}
void Session::set_snapshot_dir(const std::string &dir) {
    std::lock_guard lock(mu_);
    snapshot_dir_ = dir;
}
void Session::set_verbose(bool on) {
    std::lock_guard lock(mu_);
    verbose_ = on;
}

} // namespace drmsim
