#include "snapshots.h"

#include <cstdio>
#include <set>

#include "device.h"
#include "png_writer.h"

namespace drmsim {

void Snapshots::after(const JournalEntry &entry, const std::vector<int> &plane_crtcs_before,
                      const Device &device) const {
    if (!on() || entry.result != 0)
        return;
    // A plane request changes the CRTCs the plane left and joined, whatever
    // CRTC it named; a CRTC request changes its CRTC.
    std::set<int> crtcs;
    if (entry.request == "ATOMIC") {
        // A commit changes the CRTCs it names and those its planes left or
        // joined; a TEST_ONLY one changes nothing.
        if (entry.flags & DRM_MODE_ATOMIC_TEST_ONLY)
            return;
        for (const JournalEntry::Object &o : entry.objects) {
            if (o.type == "crtc")
                crtcs.insert(o.index);
            if (o.type == "plane") {
                crtcs.insert(plane_crtcs_before[size_t(o.index)]);
                crtcs.insert(device.planes()[size_t(o.index)].crtc);
            }
        }
    } else if (entry.plane_index >= 0) {
        crtcs.insert(plane_crtcs_before[size_t(entry.plane_index)]);
        crtcs.insert(device.planes()[size_t(entry.plane_index)].crtc);
    } else {
        crtcs.insert(entry.crtc_index);
    }
    for (int crtc : crtcs)
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
