// SPDX-License-Identifier: MIT
// Runs crtc-relay on a simulated device and reads back what the device saw.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "run_program.h"

struct RelayRun {
    std::string device;                // file name under devices/, or an absolute path
    std::vector<std::string> options;  // crtc-relay's, before the device; REPORT: report_path
    std::vector<std::string> events;   // virtual-clock events; empty: real clock
    std::vector<std::string> failures; // request:N:errno
    std::vector<std::string> delays;   // request:ms
    // Pixel faults (crc-stale:1:2); with an option DEBUGFS the device serves
    // its debugfs folder there; SAVE names a folder of the run.
    std::vector<std::string> pixel_faults;
    bool snapshots = false;
    StdinKind stdin_kind = StdinKind::open_pipe;
    std::optional<std::chrono::milliseconds> write_stdin_after;
    std::optional<std::chrono::milliseconds> signal_after;
    int signal = SIGINT; // what signal_after sends
};

struct RelayResult {
    ProgramResult program;
    std::vector<nlohmann::json> journal; // one entry per mode-setting call
    nlohmann::json report;               // what the device had left at close
    std::string snapshot_dir;
    std::string report_path; // a file in the run's folder, for --report REPORT

    std::vector<uint32_t> crtc_indices() const;
    bool left_nothing_behind() const;
};

RelayResult run_relay(const RelayRun &run);

// One JSON value per non-empty line; throws on a line that is not JSON.
std::vector<nlohmann::json> parse_json_lines(const std::string &text);

// Path of a file in the project's devices/ folder; an absolute path as it is.
std::string device_path(const std::string &name);

struct Rgb {
    uint8_t r, g, b;
    bool operator==(const Rgb &) const = default;
};

struct Picture {
    uint32_t width = 0, height = 0;
    std::vector<Rgb> pixels;
    Rgb at(uint32_t x, uint32_t y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// Reads an 8-bit RGB or RGBA PNG; throws if it cannot.
Picture read_png(const std::string &path);
