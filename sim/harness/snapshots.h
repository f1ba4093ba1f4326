// SPDX-License-Identifier: MIT
// DRMSIM_SNAPSHOTS: after each successful mode-setting request, a PNG of
// what every CRTC it changed now scans out.
#pragma once

#include <string>
#include <vector>

#include "drmsim.h"

namespace drmsim {

class Device;
struct Request;

class Snapshots {
public:
    void set_dir(const std::string &dir) { dir_ = dir; }
    bool on() const { return !dir_.empty(); }
    // `plane_crtcs_before`: each plane's CRTC index (-1 for none) before the
    // request. Writes the CRTCs the request's description says it touched;
    // a CRTC now off gets no new picture.
    void after(const JournalEntry &entry, const Request &request,
               const std::vector<int> &plane_crtcs_before, const Device &device) const;

private:
    void write(const Device &device, unsigned crtc) const;
    std::string dir_;
};

} // namespace drmsim
