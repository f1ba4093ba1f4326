// SPDX-License-Identifier: MIT
// The --report JSON Lines writer and the monotonic clock it times with.
#include "report.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>

#include <nlohmann/json.hpp>

using nlohmann::json;

namespace {

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

} // namespace

double monotonic_now() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

std::optional<Report> Report::open(const std::string &path, std::string &error) {
    Report report;
    report.started_ = monotonic_now();
    if (path == "-") {
        report.out_.reset(stdout);
        return report;
    }
    report.out_.reset(std::fopen(path.c_str(), "w"));
    if (!report.out_) {
        error = "cannot open report file '" + path + "' for --report: " + std::strerror(errno);
        return std::nullopt;
    }
    return report;
}

double Report::seconds_since_start() const {
    return std::round((monotonic_now() - started_) * 1e6) / 1e6; // to the microsecond
}

void Report::write_line(const std::string &line) {
    if (!out_)
        return;
    std::fputs(line.c_str(), out_.get());
    std::fputc('\n', out_.get());
    std::fflush(out_.get());
}

void Report::start(const std::string &device, const kms_screen &screen,
                   const std::vector<uint32_t> &crtc_indices) {
    json crtcs = json::array();
    for (uint32_t index : crtc_indices)
        crtcs.push_back(crtc_json(*screen.device, index));
    uint32_t screen_index = 0;
    while (screen_index < screen.device->num_screens() &&
           screen.device->screens[screen_index].get() != &screen)
        ++screen_index;
    write_line(json{
        {"event", "start"},
        {"t", seconds_since_start()},
        {"device", device},
        {"screen", {{"index", screen_index}, {"name", screen.name}, {"id", screen.id}}},
        {"mode",
         {{"name", screen.mode.name},
          {"width", screen.mode.hdisplay},
          {"height", screen.mode.vdisplay},
          {"refresh", screen.mode.vrefresh}}},
        {"crtcs",
         crtcs}}.dump());
}

void Report::set(const SetEvent &event) {
    durations_us_.push_back(event.duration_us);
    json line{{"event", "set"},
              {"t", seconds_since_start()},
              {"step", event.step},
              {"crtc", {{"index", event.crtc_index}, {"id", event.crtc_id}}},
              {"api", event.atomic ? "atomic" : "legacy"},
              {"test_only", nullptr},
              {"result", event.result},
              {"duration_us", event.duration_us},
              {"verified", nullptr}};
    if (event.test_only)
        line["test_only"] = *event.test_only;
    if (event.verified)
        line["verified"] = *event.verified;
    if (!event.mismatch.empty())
        line["mismatch"] = event.mismatch;
    if (event.crc) {
        line["crc"] = *event.crc;
        line["frames"] = event.frames;
    }
    if (event.plane_id) {
        line["plane"] = {{"id", event.plane_id}, {"result", nullptr}};
        if (event.plane_result)
            line["plane"]["result"] = *event.plane_result;
    }
    write_line(line.dump());
}

void Report::format(const FormatEvent &event) {
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
    write_line(line.dump());
}

void Report::end(EndReason reason, int signal, int status) {
    json line{{"event", "end"},   {"t", seconds_since_start()},   {"reason", reason_name(reason)},
              {"status", status}, {"sets", durations_us_.size()}, {"duration_us", nullptr}};
    if (reason == EndReason::signal)
        line["signal"] = sigabbrev_np(signal) ? std::string("SIG") + sigabbrev_np(signal) : "";
    if (!durations_us_.empty()) {
        std::vector<uint64_t> sorted = durations_us_;
        std::sort(sorted.begin(), sorted.end());
        // The lower middle value for an even count: always a measured one.
        line["duration_us"] = {{"min", sorted.front()},
                               {"median", sorted[(sorted.size() - 1) / 2]},
                               {"max", sorted.back()}};
    }
    write_line(line.dump());
}
