// crtc-relay's command line: GNU getopt_long options before one DEVICE
// operand. Only the syntax is checked here; screen names, modes and CRTC
// indices are checked against the device once it is open (selection.h).
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <variant>
#include <vector>

// A --mode value: WxH, optionally @HZ.
struct ModeRequest {
    uint32_t width = 0;
    uint32_t height = 0;
    std::optional<uint32_t> refresh_hz;
};

struct RelayOptions {
    std::string device;
    std::optional<std::string> screen; // a name as printed, or an index
    std::optional<ModeRequest> mode;   // default: the screen's first mode
    bool list = false;
    timespec period{5, 0};
    std::optional<uint64_t> handovers;          // default: until input or a signal
    std::optional<std::vector<uint32_t>> crtcs; // indices; default: all, in order
    bool capable = false;
    bool verify = false;
    std::optional<std::string> report; // a file, or "-" for standard output
    bool atomic = false;               // handovers as atomic commits
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

// The --help text, ending in a newline.
std::string relay_help(const char *program);
