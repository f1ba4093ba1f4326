// SPDX-License-Identifier: MIT
// What each device descriptor holds or held at close, for DRMSIM_REPORT and leaks().
#include "leak_report.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <nlohmann/json.hpp>

#include "device.h"

namespace drmsim {
namespace {

std::string list(const std::vector<uint32_t> &ids) {
    std::string s;
    for (uint32_t id : ids)
        s += (s.empty() ? "" : ", ") + std::to_string(id);
    return s;
}

} // namespace

LeakReport leak_report(const Device &device, unsigned mappings, bool closed) {
    LeakReport r;
    r.closed = closed;
    r.framebuffers = device.framebuffer_ids();
    r.dumb_buffers = device.dumb_handles();
    r.mappings = mappings;
    r.blobs = device.file_blob_ids();
    r.gamma = device.changed_gamma();
    return r;
}

void publish_leak_report(const LeakReport &r, const std::string &report_path, bool verbose, int fd,
                         const std::string &label) {
    if (!report_path.empty()) {
        nlohmann::json j{{"closed", r.closed},
                         {"framebuffers", r.framebuffers},
                         {"dumb_buffers", r.dumb_buffers},
                         {"mappings", r.mappings},
                         {"blobs", r.blobs}};
        if (!r.gamma.empty())
            j["gamma"] = r.gamma; // absent when clean, so older reports read the same
        if (FILE *f = std::fopen(report_path.c_str(), "w")) {
            std::string text = j.dump() + "\n";
            std::fputs(text.c_str(), f);
            std::fclose(f);
        } else {
            std::fprintf(stderr, "drmsim: cannot write report %s: %s\n", report_path.c_str(),
                         std::strerror(errno));
        }
    }
    if (!verbose && report_path.empty())
        return;
    if (r.clean()) {
        if (verbose)
            std::fprintf(stderr, "drmsim: %s fd %d (%s): nothing left behind\n",
                         r.closed ? "close" : "exit with", fd, label.c_str());
        return;
    }
    // Blobs are named only when there are some: a legacy program's line
    // reads as it always did.
    std::string blobs = r.blobs.empty() ? "" : ", blobs [" + list(r.blobs) + "]";
    if (!r.gamma.empty())
        blobs += ", colour tables of CRTCs [" + list(r.gamma) + "]";
    std::fprintf(stderr,
                 "drmsim: left behind: framebuffers [%s], dumb buffers [%s], %u mappings%s%s\n",
                 list(r.framebuffers).c_str(), list(r.dumb_buffers).c_str(), r.mappings,
                 blobs.c_str(), r.closed ? "" : ", device still open at exit");
}

} // namespace drmsim
