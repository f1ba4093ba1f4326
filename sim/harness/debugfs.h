// SPDX-License-Identifier: MIT
// The device's debugfs folder (DRMSIM_DEBUGFS), served without touching
// the file system: crtc-N/crc/control and crtc-N/crc/data of each CRTC, as
// drm_debugfs_crc.c answers them, with CRC entries made on the session's
// clock at the mode's refresh rate from what the CRTC composes. Also the
// injected pixel faults (DRMSIM_PIXEL_FAULTS) of CRC sources and writeback.
#pragma once

#include <poll.h>

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device.h"

namespace drmsim {

struct CrcFault {
    enum Kind { none, stale, change, stop } kind = none;
    unsigned crtc = 0;
    unsigned after = 0; // entries of that CRTC before the fault shows
};

struct PixelFaults {
    std::vector<CrcFault> crc;
    WritebackFaults writeback;
};

// "crc-none:C", "crc-stale:C:N", "crc-change:C:N", "crc-stop:C:N",
// "wb-unsignalled:N", "wb-corrupt:N", separated by commas; throws
// std::invalid_argument naming the item that does not parse.
PixelFaults parse_pixel_faults(std::string_view text);

class Debugfs {
public:
    // The folder served, "" for none. Paths are matched as given.
    void set_dir(std::string dir);
    bool serving() const { return !dir_.empty(); }
    void set_faults(const PixelFaults *faults) { faults_ = faults; }

    // open() of `path` for the device `serial`: nullopt when the path is not
    // under the folder, else a descriptor or -errno.
    std::optional<int> open(std::string_view path, int flags, uint64_t serial, Device *device);
    bool owns(int fd) const { return files_.count(fd) != 0; }
    // Each returns what the call would (-errno on failure). `device` is the
    // file's device, null once it was closed; `now` its clock in seconds.
    ssize_t read(int fd, void *buf, size_t count, const Device *device, double now);
    ssize_t write(int fd, const void *buf, size_t count, const Device *device);
    // Readiness of the file (POLLIN when an entry waits) and the time of
    // its next entry (infinity when none will come).
    short poll(int fd, const Device *device, double now);
    double next_entry_at(int fd, const Device *device) const;
    void close(int fd);
    // The device the descriptor's file belongs to.
    uint64_t serial_of(int fd) const { return files_.at(fd).serial; }
    // Forgets the state of a closed device.
    void forget(uint64_t serial);

private:
    struct Entry {
        uint32_t frame;
        uint32_t crc;
    };
    struct CrcSource {
        std::string source;  // written to control; "" for none
        bool data_open = false;
        int64_t last_frame = -1; // frame of the last entry made
        unsigned made = 0;       // entries made, for the faults
        std::optional<Entry> stuck;
        // The CRC of the composed picture, computed again after an ioctl.
        uint64_t crc_generation = UINT64_MAX;
        uint32_t crc = 0;
        std::deque<Entry> entries;
    };
    struct File {
        uint64_t serial;
        unsigned crtc;
        bool data; // crc/data, else crc/control
        bool nonblock;
    };
    CrcSource &source(const File &f);
    const CrcFault *fault(unsigned crtc) const;
    void advance(CrcSource &s, unsigned crtc, const Device &device, double now);

    std::string dir_;
    const PixelFaults *faults_ = nullptr;
    std::map<int, File> files_;
    std::map<uint64_t, std::map<unsigned, CrcSource>> sources_;
};

} // namespace drmsim
