// SPDX-License-Identifier: MIT
// DRMSIM_SNAPSHOTS: the PNGs of the CRTCs a request changed (snapshots.h).
#include "snapshots.h"

#include <cstdio>

#include "device.h"
#include "png_writer.h"
#include "request_descriptions.h"
#include "requests.h"

namespace drmsim {

void Snapshots::after(const JournalEntry &entry, const Request &request,
                      const std::vector<int> &plane_crtcs_before, const Device &device) const {
    if (!on() || entry.result != 0)
        return;
    for (int crtc : request.description->crtcs_touched(entry, plane_crtcs_before, device))
        if (crtc >= 0)
            write(device, unsigned(crtc));
}

void Snapshots::write(const Device &device, unsigned crtc) const {
    Picture picture = device.compose(crtc);
    if (picture.width == 0)
        return;
    std::string path = dir_ + "/crtc-" + std::to_string(crtc) + ".png", error;
    if (!write_png(path, picture, error))
        std::fprintf(stderr, "drmsim: snapshot: %s\n", error.c_str());
}

} // namespace drmsim
