// SPDX-License-Identifier: MIT
#include "relay_test_support.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <png.h>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

std::string device_path(const std::string &name) {
    if (name.starts_with('/'))
        return name;
    return std::string(DEVICES_DIR) + "/" + name;
}

std::vector<uint32_t> RelayResult::crtc_indices() const {
    std::vector<uint32_t> indices;
    for (const nlohmann::json &entry : journal)
        if (entry.at("request") == "SETCRTC")
            indices.push_back(entry.at("crtc_index").get<uint32_t>());
    return indices;
}

bool RelayResult::left_nothing_behind() const {
    return report.value("closed", false) && report.at("framebuffers").empty() &&
           report.at("dumb_buffers").empty() && report.at("mappings").get<int>() == 0 &&
           report.at("blobs").empty() && !report.contains("gamma");
}

std::vector<nlohmann::json> parse_json_lines(const std::string &text) {
    std::vector<nlohmann::json> values;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        if (!line.empty())
            values.push_back(nlohmann::json::parse(line));
    return values;
}

RelayResult run_relay(const RelayRun &run) {
    namespace fs = std::filesystem;
    static int run_number = 0;
    const fs::path dir = fs::temp_directory_path() / ("crtc-relay-app-" + std::to_string(getpid()) +
                                                      "-" + std::to_string(run_number++));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string journal = (dir / "journal.jsonl").string();
    const std::string report = (dir / "report.json").string();

    ProgramRun program;
    program.argv = {DRMSIM_RUN, "--journal", journal, "--report", report};
    if (!run.events.empty()) {
        program.argv.push_back("--virtual-clock");
        for (const std::string &event : run.events) {
            program.argv.push_back("--event");
            program.argv.push_back(event);
        }
    }
    for (const std::string &failure : run.failures) {
        program.argv.push_back("--fail");
        program.argv.push_back(failure);
    }
    for (const std::string &delay : run.delays) {
        program.argv.push_back("--delay");
        program.argv.push_back(delay);
    }
    for (const std::string &fault : run.pixel_faults) {
        program.argv.push_back("--pixel-fault");
        program.argv.push_back(fault);
    }
    const std::string debugfs = (dir / "debugfs").string();
    if (std::count(run.options.begin(), run.options.end(), "DEBUGFS")) {
        fs::create_directories(debugfs);
        program.argv.push_back("--debugfs");
        program.argv.push_back(debugfs);
    }
    if (run.snapshots) {
        program.argv.push_back("--snapshots");
        program.argv.push_back(dir.string());
    }
    program.argv.push_back("--");
    program.argv.push_back(CRTC_RELAY_BIN);
    const std::string report_path = (dir / "crtc-relay-report.jsonl").string();
    for (const std::string &option : run.options)
        program.argv.push_back(option == "REPORT"    ? report_path
                               : option == "DEBUGFS" ? debugfs
                               : option == "SAVE"    ? dir.string()
                                                     : option);
    program.argv.push_back(device_path(run.device));
    program.stdin_kind = run.stdin_kind;
    program.write_stdin_after = run.write_stdin_after;
    program.signal_after = run.signal_after;
    program.signal = run.signal;

    RelayResult result;
    result.program = run_program(program);
    result.snapshot_dir = dir.string();
    result.report_path = report_path;

    result.journal = parse_json_lines(read_file(journal));
    const std::string report_text = read_file(report);
    result.report =
        report_text.empty() ? nlohmann::json::object() : nlohmann::json::parse(report_text);
    return result;
}

Picture read_png(const std::string &path) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        throw std::runtime_error("cannot read PNG " + path);
    image.format = PNG_FORMAT_RGB;
    Picture picture;
    picture.width = image.width;
    picture.height = image.height;
    picture.pixels.resize(static_cast<size_t>(image.width) * image.height);
    if (!png_image_finish_read(&image, nullptr, picture.pixels.data(), 0, nullptr))
        throw std::runtime_error("cannot decode PNG " + path);
    return picture;
}
