// SPDX-License-Identifier: MIT
// The simulated debugfs folder and its CRC files (debugfs.h).
#include "debugfs.h"

#include <sys/mman.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <stdexcept>

#include <zlib.h>

#include "drmsim.h"
#include "real_calls.h"

namespace drmsim {
namespace {

constexpr size_t kEntriesMax = 128; // DRM_CRC_ENTRIES_NR
constexpr size_t kLineLength = 10 + 11 * 1 + 1 + 1; // LINE_LEN(1): one CRC value

std::optional<unsigned> number(std::string_view text) {
    unsigned v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return v;
}

std::vector<std::string_view> split(std::string_view text, char sep) {
    std::vector<std::string_view> parts;
    for (;;) {
        const size_t at = text.find(sep);
        parts.push_back(text.substr(0, at));
        if (at == std::string_view::npos)
            return parts;
        text.remove_prefix(at + 1);
    }
}

// The mode's refresh rate in frames per second, from its timings.
double refresh_rate(const drm_mode_modeinfo &mode) {
    if (mode.clock && mode.htotal && mode.vtotal)
        return mode.clock * 1000.0 / (double(mode.htotal) * mode.vtotal);
    return mode.vrefresh ? mode.vrefresh : 60;
}

// CRC-32 of the composed picture, one 32-bit word (0x00RRGGBB) per pixel,
// least significant byte first.
uint32_t picture_crc(const Picture &picture) {
    if constexpr (std::endian::native == std::endian::little)
        return uint32_t(crc32_z(0, reinterpret_cast<const Bytef *>(picture.pixels.data()),
                                picture.pixels.size() * 4));
    std::vector<uint8_t> bytes(picture.pixels.size() * 4);
    for (size_t i = 0; i < picture.pixels.size(); ++i)
        for (int k = 0; k < 4; ++k)
            bytes[i * 4 + k] = uint8_t(picture.pixels[i] >> (8 * k));
    uLong crc = crc32(0L, Z_NULL, 0);
    for (size_t at = 0; at < bytes.size(); at += 1u << 30)
        crc = crc32(crc, bytes.data() + at, uInt(std::min<size_t>(1u << 30, bytes.size() - at)));
    return uint32_t(crc);
}

bool crtc_on(const Device &device, unsigned crtc) {
    const Crtc &c = device.crtcs()[crtc];
    return c.active && !c.switched_off;
}

} // namespace

PixelFaults parse_pixel_faults(std::string_view text) {
    PixelFaults faults;
    if (text.empty())
        return faults;
    for (std::string_view item : split(text, ',')) {
        const std::vector<std::string_view> f = split(item, ':');
        auto bad = [&] {
            return std::invalid_argument("bad pixel fault \"" + std::string(item) + "\"");
        };
        std::vector<unsigned> n;
        for (size_t i = 1; i < f.size(); ++i) {
            auto v = number(f[i]);
            if (!v)
                throw bad();
            n.push_back(*v);
        }
        if (f[0] == "crc-none" && n.size() == 1)
            faults.crc.push_back({CrcFault::none, n[0], 0});
        else if (f[0] == "crc-stale" && n.size() == 2)
            faults.crc.push_back({CrcFault::stale, n[0], n[1]});
        else if (f[0] == "crc-change" && n.size() == 2)
            faults.crc.push_back({CrcFault::change, n[0], n[1]});
        else if (f[0] == "crc-stop" && n.size() == 2)
            faults.crc.push_back({CrcFault::stop, n[0], n[1]});
        else if (f[0] == "wb-unsignalled" && n.size() == 1)
            faults.writeback.unsignalled.push_back(n[0]);
        else if (f[0] == "wb-corrupt" && n.size() == 1)
            faults.writeback.corrupt.push_back(n[0]);
        else
            throw bad();
    }
    return faults;
}

void Debugfs::set_dir(std::string dir) {
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    dir_ = std::move(dir);
}

const CrcFault *Debugfs::fault(unsigned crtc) const {
    if (faults_)
        for (const CrcFault &f : faults_->crc)
            if (f.crtc == crtc)
                return &f;
    return nullptr;
}

Debugfs::CrcSource &Debugfs::source(const File &f) {
    return sources_[f.serial][f.crtc];
}

// drm_debugfs_crtc_add and drm_debugfs_crtc_crc_add: crtc-N for every
// CRTC, crc/ in it only for a CRTC with a CRC source.
std::optional<int> Debugfs::open(std::string_view path, int flags, uint64_t serial,
                                 Device *device) {
    if (dir_.empty() || !path.starts_with(dir_) || path.size() <= dir_.size() ||
        path[dir_.size()] != '/')
        return std::nullopt;
    const std::vector<std::string_view> parts = split(path.substr(dir_.size() + 1), '/');
    if (!device || parts.size() != 3 || !parts[0].starts_with("crtc-") || parts[1] != "crc" ||
        (parts[2] != "control" && parts[2] != "data"))
        return -ENOENT;
    const auto crtc = number(parts[0].substr(5));
    if (!crtc || *crtc >= device->crtcs().size())
        return -ENOENT;
    const CrcFault *f = fault(*crtc);
    if (f && f->kind == CrcFault::none)
        return -ENOENT;
    const bool data = parts[2] == "data";
    if (data && (flags & O_ACCMODE) != O_RDONLY)
        return -EACCES; // S_IRUGO
    File file{serial, *crtc, data, (flags & O_NONBLOCK) != 0};
    if (data) {
        // crtc_crc_open: an atomic driver's CRTC must be on.
        CrcSource &s = source(file);
        if (!crtc_on(*device, *crtc))
            return -EIO;
        if (s.data_open)
            return -EBUSY;
        s.data_open = true;
        s.last_frame = -1;
        s.entries.clear();
    }
    const int fd = memfd_create(data ? "drmsim-crc-data" : "drmsim-crc-control", MFD_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        if (data)
            source(file).data_open = false;
        return -err;
    }
    files_[fd] = file;
    return fd;
}

// Entries for the frames that have ended since the last call, while the
// data file is open and the CRTC is on, at most the kernel's 128 waiting.
void Debugfs::advance(CrcSource &s, unsigned crtc, const Device &device, double now) {
    if (!s.data_open || s.source.empty() || !crtc_on(device, crtc))
        return;
    const double rate = refresh_rate(device.crtcs()[crtc].mode);
    // The small allowance keeps a wait until (frame / rate) from landing
    // just short of that frame.
    const auto current = int64_t(std::floor(now * rate + 1e-6));
    if (s.last_frame < 0 || current - s.last_frame > int64_t(kEntriesMax))
        s.last_frame = std::max<int64_t>(s.last_frame < 0 ? current : current - kEntriesMax, 0);
    if (current <= s.last_frame)
        return;
    if (s.crc_generation != device.generation()) {
        s.crc = picture_crc(device.compose(crtc));
        s.crc_generation = device.generation();
    }
    const uint32_t crc = s.crc;
    const CrcFault *f = fault(crtc);
    for (int64_t frame = s.last_frame + 1; frame <= current; ++frame) {
        Entry e{uint32_t(frame), crc};
        const bool faulty = f && ++s.made > f->after;
        if (faulty && f->kind == CrcFault::stop)
            continue;
        if (faulty && f->kind == CrcFault::change)
            e.crc ^= 0x00ff00ffu;
        if (faulty && f->kind == CrcFault::stale && s.stuck)
            e = *s.stuck; // the frame counter no longer moves
        if (!faulty)
            s.stuck = e;
        if (s.entries.size() < kEntriesMax) // else dropped: "overflow of CRC buffer"
            s.entries.push_back(e);
    }
    s.last_frame = current;
}

// crtc_crc_read and crc_control_show.
ssize_t Debugfs::read(int fd, void *buf, size_t count, const Device *device, double now) {
    const File &f = files_.at(fd);
    CrcSource &s = source(f);
    if (!f.data) {
        const std::string text = (s.source.empty() ? std::string("auto") : s.source) + "\n";
        const size_t n = std::min(count, text.size());
        std::memcpy(buf, text.data(), n);
        return ssize_t(n);
    }
    if (s.source.empty())
        return 0;
    if (device)
        advance(s, f.crtc, *device, now);
    if (s.entries.empty())
        return -EAGAIN; // the caller waits (poll) before asking again
    if (count < kLineLength)
        return -EINVAL;
    const Entry e = s.entries.front();
    s.entries.pop_front();
    char line[kLineLength + 1];
    std::snprintf(line, sizeof line, "0x%08x 0x%08x\n", e.frame, e.crc);
    std::memcpy(buf, line, kLineLength);
    return ssize_t(kLineLength);
}

// crc_control_write: the source is checked as vkms checks it ("auto" or
// nothing), and cannot change while the data file is open.
ssize_t Debugfs::write(int fd, const void *buf, size_t count, const Device *device) {
    const File &f = files_.at(fd);
    if (f.data)
        return -EBADF; // opened read-only
    if (count == 0)
        return 0;
    if (count > 4095)
        return -E2BIG;
    std::string name(static_cast<const char *>(buf), count);
    if (name.back() == '\n')
        name.pop_back();
    if (!device)
        return -ENODEV;
    if (!name.empty() && name != "auto")
        return -EINVAL;
    CrcSource &s = source(f);
    if (s.data_open)
        return -EBUSY;
    s.source = name;
    return ssize_t(count);
}

short Debugfs::poll(int fd, const Device *device, double now) {
    const File &f = files_.at(fd);
    if (!f.data)
        return POLLIN | POLLOUT;
    CrcSource &s = source(f);
    if (device)
        advance(s, f.crtc, *device, now);
    return !s.source.empty() && !s.entries.empty() ? POLLIN | POLLRDNORM : 0;
}

double Debugfs::next_entry_at(int fd, const Device *device) const {
    constexpr double never = std::numeric_limits<double>::infinity();
    const File &f = files_.at(fd);
    const auto serial = sources_.find(f.serial);
    if (!f.data || !device || serial == sources_.end() || !serial->second.count(f.crtc))
        return never;
    const CrcSource &s = serial->second.at(f.crtc);
    if (!s.data_open || s.source.empty() || !crtc_on(*device, f.crtc))
        return never;
    const CrcFault *fault = this->fault(f.crtc);
    if (fault && fault->kind == CrcFault::stop && s.made >= fault->after)
        return never;
    const double rate = refresh_rate(device->crtcs()[f.crtc].mode);
    return double(s.last_frame + 1) / rate;
}

// crtc_crc_release: the entries go, the source name stays.
void Debugfs::close(int fd) {
    const auto it = files_.find(fd);
    if (it == files_.end())
        return;
    if (it->second.data) {
        CrcSource &s = source(it->second);
        s.data_open = false;
        s.entries.clear();
    }
    files_.erase(it);
}

void Debugfs::forget(uint64_t serial) {
    sources_.erase(serial);
}

} // namespace drmsim
