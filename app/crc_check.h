// SPDX-License-Identifier: MIT
// --verify=crc: the CRC a CRTC computes over what it sends out, read from
// the kernel's debugfs (DIR/crtc-N/crc/control and crc/data, one line per
// frame: "0xFRAME 0xCRC..."). After each mode set the CRTC must send
// kCrcEntries entries with advancing frame numbers and equal values, equal
// to those of the picture's first showing on that CRTC in this run (CRCs
// of one picture may differ between CRTCs; a sweep shows many pictures).
#pragma once

#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "kms_objects.h"

inline constexpr size_t kCrcEntries = 3;

struct CrcEntry {
    uint32_t frame = 0;
    std::vector<uint32_t> values;
};

// The showing whose CRC is the reference for a picture on a CRTC.
struct CrcReference {
    uint32_t step = 0;
    std::string shown; // what showed it ("XR24")
};

class CrcCheck {
public:
    // Up front, before any mode set: finds the device's debugfs folder
    // (`dir`, else /sys/kernel/debug/dri/MINOR of the device node) and
    // selects the "auto" source of every CRTC in `crtcs`. nullopt with
    // `error` naming what is missing (the caller refuses with status 2).
    static std::optional<CrcCheck> prepare(const kms_device &device,
                                           const std::vector<uint32_t> &crtcs,
                                           const std::optional<std::string> &dir,
                                           timespec timeout, std::string &error);

    // After a mode set that gave the screen to CRTC `crtc` at step `step`
    // showing `shown` (a format's name), whose picture is named `picture`
    // (picture_key): reads its entries into `entries` and, once they
    // arrived, the reference they were compared with (this step's own when
    // the picture is new there) into `reference`. Empty when they pass,
    // else what was wrong, in words.
    std::string check(uint32_t crtc, uint32_t step, const std::string &picture,
                      const std::string &shown, std::vector<CrcEntry> &entries,
                      std::optional<CrcReference> &reference);

private:
    CrcCheck(std::string dir, timespec timeout) : dir_(std::move(dir)), timeout_(timeout) {}
    std::string data_path(uint32_t crtc) const;

    std::string dir_;
    timespec timeout_;
    struct Reference {
        std::vector<uint32_t> values;
        CrcReference showing;
    };
    std::map<std::pair<uint32_t, std::string>, Reference> references_; // by CRTC index, picture
};
