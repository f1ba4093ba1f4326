// SPDX-License-Identifier: MIT
// The --report JSON Lines writer and the monotonic clock it times with.
#include "report.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include <nlohmann/json.hpp>

#include "picture.h"

using nlohmann::json;

namespace {

// "crc_reference" and "writeback", for the checks that got that far.
void add_references(json &line, const PixelReferences &references) {
    if (references.crc)
        line["crc_reference"] = {{"step", references.crc->step},
                                 {"format", references.crc->shown}};
    if (references.writeback_format)
        line["writeback"] = {{"format", format_name(*references.writeback_format)},
                             {"tolerance", references.writeback_tolerance}};
}

const char *reason_name(EndReason reason) {
    switch (reason) {
    case EndReason::input:
        return "input";
    case EndReason::signal:
        return "signal";
    case EndReason::handovers:
        return "handovers";
    case EndReason::failure:
        return "failure";
    case EndReason::formats:
        return "formats";
    }
    return "failure";
}

json crtc_json(const kms_device &device, uint32_t index) {
    return {{"index", index}, {"id", device.crtcs[index]->id}};
}

// Text from the command line or the kernel need not be UTF-8 (a path with
// a byte 0xff, a mode name cut inside a character): such bytes are written
// as U+FFFD instead of making the writer throw.
std::string text_of(const json &line) {
    return line.dump(-1, ' ', false, json::error_handler_t::replace);
}

// 2026-01-31T12:34:56Z
std::string utc_now() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

json mode_json(const drmModeModeInfo &mode) {
    return {{"name", std::string(mode.name, strnlen(mode.name, sizeof mode.name))},
            {"width", mode.hdisplay},
            {"height", mode.vdisplay},
            {"refresh", mode.vrefresh},
            {"clock", mode.clock},
            {"hsync_start", mode.hsync_start},
            {"hsync_end", mode.hsync_end},
            {"htotal", mode.htotal},
            {"hskew", mode.hskew},
            {"vsync_start", mode.vsync_start},
            {"vsync_end", mode.vsync_end},
            {"vtotal", mode.vtotal},
            {"vscan", mode.vscan},
            {"flags", mode.flags},
            {"type", mode.type}};
}

} // namespace

double monotonic_now() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

std::optional<Report> Report::open(const std::string &path, const struct stat *device,
                                   std::string &error) {
    Report report;
    report.started_ = monotonic_now();
    report.path_ = path;
    if (path == "-") {
        report.out_.reset(stdout);
        return report;
    }
    const std::string name = "report file '" + path + "' for --report";
    // Without O_NONBLOCK, opening a FIFO that nobody reads waits forever.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = errno == ENXIO ? name + " is a FIFO with no reader"
                               : "cannot open " + name + ": " + std::strerror(errno);
        return std::nullopt;
    }
    struct stat st {};
    const bool is_device = fstat(fd, &st) == 0 && device && st.st_dev == device->st_dev &&
                           st.st_ino == device->st_ino;
    if (is_device || (S_ISREG(st.st_mode) && ftruncate(fd, 0) < 0) ||
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) < 0) {
        error = is_device ? name + " is the device itself"
                          : "cannot open " + name + ": " + std::strerror(errno);
        ::close(fd);
        return std::nullopt;
    }
    report.out_.reset(fdopen(fd, "w"));
    if (!report.out_) {
        error = "cannot open " + name + ": " + std::strerror(errno);
        ::close(fd);
        return std::nullopt;
    }
    return report;
}

double Report::seconds_since_start() const {
    return std::round((monotonic_now() - started_) * 1e6) / 1e6; // to the microsecond
}

bool Report::write_line(const std::string &line) {
    if (!out_ || !error_.empty())
        return error_.empty();
    errno = 0;
    const bool written = std::fwrite(line.data(), 1, line.size(), out_.get()) == line.size() &&
                         std::fputc('\n', out_.get()) != EOF && std::fflush(out_.get()) == 0;
    if (!written) {
        error_ = "report " + (path_ == "-" ? std::string("(standard output)") : path_) + ": " +
                 (errno ? std::strerror(errno) : "short write");
        std::clearerr(out_.get());
    }
    return written;
}

bool Report::start(const StartEvent &event) {
    const kms_screen &screen = *event.screen;
    json crtcs = json::array();
    for (uint32_t index : event.crtcs)
        crtcs.push_back(crtc_json(*screen.device, index));
    uint32_t screen_index = 0;
    while (screen_index < screen.device->num_screens() &&
           screen.device->screens[screen_index].get() != &screen)
        ++screen_index;
    json handovers = nullptr;
    if (event.handovers)
        handovers = *event.handovers;
    return write_line(text_of(json{
        {"event", "start"},
        {"t", seconds_since_start()},
        {"version", CRTC_RELAY_VERSION},
        {"started", utc_now()},
        {"device", event.device},
        {"driver",
         {{"name", event.driver_name},
          {"version", event.driver_version},
          {"date", event.driver_date}}},
        {"screen", {{"index", screen_index}, {"name", screen.name}, {"id", screen.id}}},
        {"mode", mode_json(screen.mode)},
        {"crtcs", crtcs},
        {"distinct_crtcs", event.distinct_crtcs},
        {"options",
         {{"period", double(event.period.tv_sec) + double(event.period.tv_nsec) / 1e9},
          {"handovers", handovers},
          {"verify", event.verify},
          {"atomic", event.atomic},
          {"capable", event.capable}}}}));
}

bool Report::set(const SetEvent &event) {
    ++sets_;
    if (event.duration_us)
        durations_us_.push_back(*event.duration_us);
    json line{{"event", "set"},
              {"t", seconds_since_start()},
              {"step", event.step},
              {"crtc", {{"index", event.crtc_index}, {"id", event.crtc_id}}},
              {"api", event.atomic ? "atomic" : "legacy"},
              {"test_only", nullptr},
              {"result", event.result},
              {"duration_us", nullptr},
              {"verified", nullptr}};
    if (event.duration_us)
        line["duration_us"] = *event.duration_us;
    if (event.test_only)
        line["test_only"] = *event.test_only;
    if (event.atomic_step)
        line["atomic_step"] = event.atomic_step;
    if (event.verified)
        line["verified"] = *event.verified;
    if (!event.mismatch.empty())
        line["mismatch"] = event.mismatch;
    if (event.crc) {
        line["crc"] = *event.crc;
        line["frames"] = event.frames;
    }
    add_references(line, event.references);
    if (event.plane_id) {
        line["plane"] = {{"id", event.plane_id}, {"result", nullptr}};
        if (event.plane_result)
            line["plane"]["result"] = *event.plane_result;
    }
    return write_line(text_of(line));
}

bool Report::format(const FormatEvent &event) {
    json line{{"event", "format"},
              {"t", seconds_since_start()},
              {"format", event.format},
              {"crtc", {{"index", event.crtc_index}, {"id", event.crtc_id}}},
              {"plane", event.plane_id},
              {"result", event.result},
              {"verified", nullptr}};
    if (event.verified)
        line["verified"] = *event.verified;
    if (!event.reason.empty())
        line["reason"] = event.reason;
    if (event.step)
        line["step"] = *event.step;
    if (event.crc)
        line["crc"] = *event.crc;
    add_references(line, event.references);
    return write_line(text_of(line));
}

bool Report::end(const EndEvent &event) {
    json line{{"event", "end"},
              {"t", seconds_since_start()},
              {"reason", reason_name(event.reason)},
              {"status", event.status},
              {"sets", sets_},
              {"duration_us", nullptr},
              {"requested", nullptr},
              {"done", event.done},
              {"teardown_failures", json::array()}};
    if (event.requested)
        line["requested"] = *event.requested;
    if (event.reason == EndReason::signal)
        line["signal"] = sigabbrev_np(event.signal) ? std::string("SIG") + sigabbrev_np(event.signal)
                                                    : "";
    for (const kms_release_failure &failure : event.teardown_failures)
        line["teardown_failures"].push_back({{"request", failure.request}, {"result", failure.error}});
    if (!durations_us_.empty()) {
        std::vector<uint64_t> sorted = durations_us_;
        std::sort(sorted.begin(), sorted.end());
        // The lower middle value for an even count: always a measured one.
        line["duration_us"] = {{"min", sorted.front()},
                               {"median", sorted[(sorted.size() - 1) / 2]},
                               {"max", sorted.back()}};
    }
    return write_line(text_of(line));
}
