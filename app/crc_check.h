// SPDX-License-Identifier: MIT
// --verify=crc: the CRC a CRTC computes over what it sends out, read from
// the kernel's debugfs (DIR/crtc-N/crc/control and crc/data, one line per
// frame: "0xFRAME 0xCRC..."). After each mode set the CRTC must send
// kCrcEntries entries with advancing frame numbers and equal values, equal
// to those of the picture's first showing on that CRTC in this run.
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

    // After a mode set that gave the screen to CRTC `crtc` at step `step`:
    // reads its entries into `entries`; empty when they pass, else what
    // was wrong, in words.
    std::string check(uint32_t crtc, uint32_t step, std::vector<CrcEntry> &entries);

private:
    CrcCheck(std::string dir, timespec timeout) : dir_(std::move(dir)), timeout_(timeout) {}
    std::string data_path(uint32_t crtc) const;

    std::string dir_;
    timespec timeout_;
    struct Reference {
        std::vector<uint32_t> values;
        uint32_t step;
    };
    std::map<uint32_t, Reference> references_; // by CRTC index
};
