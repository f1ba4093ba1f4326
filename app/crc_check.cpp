// SPDX-License-Identifier: MIT
// The CRC check: reads a CRTC's debugfs CRC entries after a mode set and compares them (crc_check.h).
#include "crc_check.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

constexpr unsigned kDrmMajor = 226;

double seconds(timespec t) {
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return seconds(t);
}

std::string hex(uint32_t v) {
    char text[11];
    std::snprintf(text, sizeof text, "0x%08" PRIx32, v);
    return text;
}

std::string values_text(const std::vector<uint32_t> &values) {
    std::string text;
    for (uint32_t v : values) {
        if (!text.empty())
            text += ' ';
        text += hex(v);
    }
    return text;
}

// "0x0000012a 0x1234abcd ..." (drm_debugfs_crc.c's line); a driver without
// frame numbers writes "XXXXXXXXXX", which never advances.
std::optional<CrcEntry> parse_line(const std::string &line) {
    CrcEntry entry;
    const char *p = line.c_str();
    char *end = nullptr;
    if (std::strncmp(p, "XXXXXXXXXX", 10) == 0) {
        end = const_cast<char *>(p + 10);
    } else {
        entry.frame = uint32_t(std::strtoul(p, &end, 16));
        if (end == p)
            return std::nullopt;
    }
    for (p = end; *p && *p != '\n'; p = end) {
        const unsigned long v = std::strtoul(p, &end, 16);
        if (end == p)
            return std::nullopt;
        entry.values.push_back(uint32_t(v));
    }
    if (entry.values.empty())
        return std::nullopt;
    return entry;
}

// The debugfs folder of the DRM device node open on `fd`.
std::optional<std::string> folder_of(int fd, std::string &error) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || major(st.st_rdev) != kDrmMajor) {
        error = "--verify=crc: the device is not a DRM device node, so its debugfs folder is "
                "not known; give it with --debugfs DIR";
        return std::nullopt;
    }
    return "/sys/kernel/debug/dri/" + std::to_string(minor(st.st_rdev));
}

} // namespace

std::optional<CrcCheck> CrcCheck::prepare(const kms_device &device,
                                          const std::vector<uint32_t> &crtcs,
                                          const std::optional<std::string> &dir,
                                          timespec timeout, std::string &error) {
    std::string folder;
    if (dir) {
        folder = *dir;
    } else if (auto found = folder_of(device.fd, error)) {
        folder = *found;
    } else {
        return std::nullopt;
    }
    for (uint32_t crtc : crtcs) {
        const std::string control =
            folder + "/crtc-" + std::to_string(crtc) + "/crc/control";
        const int fd = open(control.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0) {
            const int err = errno;
            struct stat st {};
            if (err == ENOENT && stat(folder.c_str(), &st) != 0)
                error = "--verify=crc: no debugfs folder " + folder +
                        " (debugfs mounted at /sys/kernel/debug? run as root, or give "
                        "--debugfs DIR)";
            else if (err == ENOENT)
                error = "--verify=crc: CRTC " + std::to_string(crtc) +
                        " has no CRC source (no " + control + "): the driver offers none";
            else
                error = "--verify=crc: cannot open " + control + ": " + std::strerror(err);
            return std::nullopt;
        }
        const ssize_t n = write(fd, "auto", 4);
        const int err = errno;
        close(fd);
        if (n != 4) {
            error = "--verify=crc: CRTC " + std::to_string(crtc) +
                    "'s CRC source refuses \"auto\": " +
                    (n < 0 ? std::strerror(err) : "short write");
            return std::nullopt;
        }
    }
    return CrcCheck(folder, timeout);
}

std::string CrcCheck::data_path(uint32_t crtc) const {
    return dir_ + "/crtc-" + std::to_string(crtc) + "/crc/data";
}

std::string CrcCheck::check(uint32_t crtc, uint32_t step, const std::string &picture,
                            const std::string &shown, std::vector<CrcEntry> &entries,
                            std::optional<CrcReference> &reference) {
    entries.clear();
    reference.reset();
    const std::string name = "CRTC " + std::to_string(crtc);
    const std::string path = data_path(crtc);
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return "cannot open " + path + ": " + std::strerror(errno) +
               (errno == EIO ? " (the CRTC is off)" : "");
    const double deadline = now() + seconds(timeout_);
    std::string failure;
    while (entries.size() < kCrcEntries && failure.empty()) {
        char line[256];
        const ssize_t n = read(fd, line, sizeof line - 1);
        if (n > 0) {
            line[n] = '\0';
            if (auto entry = parse_line(line))
                entries.push_back(*entry);
            else
                failure = "unreadable CRC line from " + path + ": " + line;
            continue;
        }
        if (n == 0) {
            failure = path + " ended without an entry (no CRC source selected)";
            break;
        }
        if (errno != EAGAIN && errno != EINTR) {
            failure = "cannot read " + path + ": " + std::strerror(errno);
            break;
        }
        const double left = deadline - now();
        pollfd p{fd, POLLIN, 0};
        // poll answers 0 once the time left has passed.
        if (left <= 0 || poll(&p, 1, int(std::ceil(left * 1000))) == 0) {
            char waited[32];
            std::snprintf(waited, sizeof waited, "%g", seconds(timeout_));
            failure = name + " sent " + std::to_string(entries.size()) + " CRC entr" +
                      (entries.size() == 1 ? "y" : "ies") + " in " + waited + " s, not " +
                      std::to_string(kCrcEntries) + " (is it scanning out?)";
        }
    }
    close(fd);
    if (!failure.empty())
        return failure;

    for (size_t i = 1; i < entries.size(); ++i)
        if (entries[i].frame <= entries[i - 1].frame)
            return "the frame counter of " + name + " does not advance: entries of frames " +
                   hex(entries[i - 1].frame) + " then " + hex(entries[i].frame);
    for (size_t i = 1; i < entries.size(); ++i)
        if (entries[i].values != entries[0].values)
            return "the CRC of " + name + " is not stable: " + values_text(entries[0].values) +
                   " at frame " + hex(entries[0].frame) + ", " +
                   values_text(entries[i].values) + " at frame " + hex(entries[i].frame);
    const auto [found, first] = references_.try_emplace(
        {crtc, picture}, Reference{entries[0].values, {step, shown}});
    const Reference &recorded = found->second;
    reference = recorded.showing;
    if (first || recorded.values == entries[0].values)
        return {};
    std::string text = "the CRC of " + name + " is " + values_text(entries[0].values) + ", not " +
                       values_text(recorded.values);
    if (recorded.showing.shown == shown)
        text += " as at the picture's first showing there (step ";
    else
        text += " as " + recorded.showing.shown + " showed the same picture there (step ";
    return text + std::to_string(recorded.showing.step) + ")";
}
