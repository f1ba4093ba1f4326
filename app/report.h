// SPDX-License-Identifier: MIT
// The --report output: JSON Lines, one object per event, each line flushed
// as it is written so that a killed run leaves a readable prefix. The
// schema is in the README ("The report").
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kms_objects.h"

// How a run ended.
enum class EndReason { input, signal, handovers, failure, formats };

// One mode-setting call that gives the screen to a CRTC.
struct SetEvent {
    uint32_t step = 0; // 0 for the first picture, then 1 per handover
    uint32_t crtc_index = 0;
    uint32_t crtc_id = 0;
    bool atomic = false;          // an atomic commit rather than SETCRTC
    std::optional<int> test_only; // atomic: the TEST_ONLY commit's 0 or -errno
    int result = 0;               // 0 or -errno (the TEST_ONLY one's when that refused)
    uint64_t duration_us = 0;     // of the call alone
    std::optional<bool> verified; // null when not verified (no --verify, or refused)
    std::string mismatch;         // what differed, when verified is false
    uint32_t plane_id = 0;          // --plane overlay or cursor: the plane set after the screen
    std::optional<int> plane_result; // its 0 or -errno
    // --verify=crc: each entry's CRC values and frame numbers, as read.
    std::optional<std::vector<std::vector<uint32_t>>> crc;
    std::vector<uint32_t> frames;
};

// One format of a --formats sweep, after it was shown (or not).
struct FormatEvent {
    std::string format;           // "NV12"
    uint32_t crtc_index = 0;
    uint32_t crtc_id = 0;
    uint32_t plane_id = 0;        // the plane that showed it
    const char *result = "pass";  // "pass", "fail" or "skip"
    std::string reason;           // why it failed or was skipped
    std::optional<bool> verified; // null without --verify or when not shown
};

class Report {
public:
    // Writes nowhere.
    Report() = default;
    // "-" is standard output. nullopt with `error` set when the file cannot
    // be opened for writing.
    static std::optional<Report> open(const std::string &path, std::string &error);

    bool writes_to_stdout() const { return out_.get() == stdout; }

    void start(const std::string &device, const kms_screen &screen,
               const std::vector<uint32_t> &crtc_indices);
    // Records the call's duration for end() even when writing nowhere.
    void set(const SetEvent &event);
    void format(const FormatEvent &event);
    void end(EndReason reason, int signal, int status);

private:
    struct FileCloser {
        void operator()(std::FILE *f) const {
            if (f != stdout)
                std::fclose(f);
        }
    };
    void write_line(const std::string &line);
    double seconds_since_start() const;

    std::unique_ptr<std::FILE, FileCloser> out_;
    double started_ = 0; // monotonic seconds
    std::vector<uint64_t> durations_us_;
};

// Seconds on the monotonic clock.
double monotonic_now();
