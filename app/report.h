// SPDX-License-Identifier: MIT
// The --report output: JSON Lines, one object per event, each line flushed
// as it is written so that a killed run leaves a readable prefix. The
// schema is in the README ("The report"). A write that fails (a full disk,
// a reader that left, the file-size limit) is remembered: the run ends on
// it and says why.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "crc_check.h"
#include "kms_objects.h"

// How a run ended.
enum class EndReason { input, signal, handovers, failure, formats };

// What a run was asked to do and what it drives, for the start line.
struct StartEvent {
    std::string device; // the operand
    const kms_screen *screen = nullptr;
    std::vector<uint32_t> crtcs; // the cycle, as indices
    uint32_t distinct_crtcs = 0;
    timespec period{5, 0};
    std::optional<uint64_t> handovers;
    bool verify = false, atomic = false, capable = false;
    std::string driver_name, driver_version, driver_date; // drmGetVersion; empty if unknown
};

// What the pixel checks compared a picture with.
struct PixelReferences {
    std::optional<CrcReference> crc;          // the showing whose CRC was the reference
    std::optional<uint32_t> writeback_format; // the capture's format, when one was compared
    int writeback_tolerance = 0;              // levels per colour it was allowed
};

// One mode-setting call that gives the screen to a CRTC.
struct SetEvent {
    uint32_t step = 0; // 0 for the first picture, then 1 per handover
    uint32_t crtc_index = 0;
    uint32_t crtc_id = 0;
    bool atomic = false;          // an atomic commit rather than SETCRTC
    std::optional<int> test_only; // atomic: the TEST_ONLY commit's 0 or -errno
    // atomic: the step that failed before any commit was sent ("plane"...)
    const char *atomic_step = nullptr;
    int result = 0;               // 0 or -errno (the TEST_ONLY one's when that refused)
    std::optional<uint64_t> duration_us; // of the call alone; none when it was not made
    std::optional<bool> verified; // null when not verified (no --verify, or refused)
    std::string mismatch;         // what differed, when verified is false
    uint32_t plane_id = 0;          // --plane overlay or cursor: the plane set after the screen
    std::optional<int> plane_result; // its 0 or -errno
    // --verify=crc: each entry's CRC values and frame numbers, as read.
    std::optional<std::vector<std::vector<uint32_t>>> crc;
    std::vector<uint32_t> frames;
    PixelReferences references;
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
    std::optional<uint32_t> step; // of the set line that showed it
    std::optional<std::vector<uint32_t>> crc; // --verify=crc: the CRC values it showed with
    PixelReferences references;
};

struct EndEvent {
    EndReason reason = EndReason::failure;
    int signal = 0; // with EndReason::signal
    int status = 0;
    std::optional<uint64_t> requested; // --handovers
    uint64_t done = 0;                 // handovers made
    std::vector<kms_release_failure> teardown_failures;
};

class Report {
public:
    // Writes nowhere.
    Report() = default;
    // "-" is standard output. Never blocks (a FIFO without a reader is
    // refused) and truncates nothing before the file is known not to be
    // the device `device` (as stat() saw it). nullopt with `error` set when
    // the file cannot be used.
    static std::optional<Report> open(const std::string &path, const struct stat *device,
                                      std::string &error);

    bool writes_to_stdout() const { return out_.get() == stdout; }

    // Each returns false once a write has failed; error() then says why.
    bool start(const StartEvent &event);
    // Records the call's duration for end() even when writing nowhere.
    bool set(const SetEvent &event);
    bool format(const FormatEvent &event);
    bool end(const EndEvent &event);
    // "report FILE: <reason>" after a failed write; empty before.
    const std::string &error() const { return error_; }

private:
    struct FileCloser {
        void operator()(std::FILE *f) const {
            if (f != stdout)
                std::fclose(f);
        }
    };
    bool write_line(const std::string &line);
    double seconds_since_start() const;

    std::unique_ptr<std::FILE, FileCloser> out_;
    std::string path_;
    std::string error_;
    double started_ = 0; // monotonic seconds
    uint64_t sets_ = 0;
    std::vector<uint64_t> durations_us_; // of the calls made
};

// Seconds on the monotonic clock.
double monotonic_now();
