// SPDX-License-Identifier: MIT
// crtc-relay's command line: GNU getopt_long options before one DEVICE
// operand. Only the syntax is checked here; screen names, modes and CRTC
// indices are checked against the device once it is open (selection.h).
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "test_pattern.h"

// A --mode value: WxH, optionally i (interlaced) or d (doublescan), then
// optionally @HZ.
struct ModeRequest {
    uint32_t width = 0;
    uint32_t height = 0;
    std::string scan; // "", "i" or "d"
    std::optional<uint32_t> refresh_hz;
};

// A --plane value: the kind of plane that shows the pattern, or a plane by
// its index in --list.
struct PlaneRequest {
    enum class Kind { primary, overlay, cursor, index } kind = Kind::primary;
    uint32_t number = 0; // overlay: K of overlay:K; index: the plane index
};

struct RelayOptions {
    bool plain = true; // no option given: the run keeps its original behaviour
    std::string device;
    std::optional<std::string> screen; // a name as printed, or an index
    std::optional<ModeRequest> mode;   // default: the screen's first mode
    bool list = false;
    timespec period{5, 0};
    std::optional<uint64_t> handovers;          // default: until input or a signal
    std::optional<std::vector<uint32_t>> crtcs; // indices; default: all, in order
    bool capable = false;
    bool verify = false;           // state: the kernel's bookkeeping read back
    bool verify_crc = false;       // the CRTC's CRC source
    bool verify_writeback = false; // a writeback capture of each picture (implies atomic)
    std::optional<std::string> debugfs; // the device's debugfs folder, for CRCs
    timespec verify_timeout{1, 0};      // longest wait for CRC entries or a capture
    std::optional<std::string> save;    // folder for the pictures of a failed capture
    std::optional<std::string> report; // a file, or "-" for standard output
    bool atomic = false;               // handovers as atomic commits
    std::optional<std::string> pattern; // a pattern name; default smpte
    std::optional<std::string> format;  // a format name, checked against the plane
    // --formats: the names given, or empty for "all" (the plane's list).
    std::optional<std::vector<std::string>> formats;
    PlaneRequest plane;
    std::optional<std::pair<int32_t, int32_t>> plane_pos;   // --plane-pos X,Y
    std::optional<std::pair<uint32_t, uint32_t>> plane_size; // --plane-size WxH
    bool json = false;                 // --list as one JSON document
    std::vector<std::string> other_than_list; // options given that --list does not take
};

struct ShowHelp {};
struct ShowVersion {};
struct MissingOperand {};
struct UsageError {
    std::string message; // one line, without the program name
};

using ParsedCommandLine =
    std::variant<RelayOptions, ShowHelp, ShowVersion, MissingOperand, UsageError>;

ParsedCommandLine parse_relay_options(int argc, char *const argv[]);

// The pattern of that name ("smpte"), or nullopt.
std::optional<pattern::TestPattern> pattern_by_name(std::string_view name);

// The --help text, ending in a newline.
std::string relay_help(const char *program);
