// SPDX-License-Identifier: MIT
// The descriptions the request table's mode-setting rows point to, and the
// CRTCs each kind of call can change.
#include "request_descriptions.h"

#include "device.h"
#include "object_types.h"
#include "request_description_parts.h"

namespace drmsim {
namespace {

// A CRTC request changes its CRTC.
std::set<int> crtcs_of_setcrtc(const JournalEntry &e, std::span<const int>, const Device &) {
    return {e.crtc_index};
}

// A plane request changes the CRTCs the plane left and joined, whatever CRTC
// it named.
std::set<int> crtcs_of_setplane(const JournalEntry &e, std::span<const int> plane_crtcs_before,
                                const Device &device) {
    if (e.plane_index < 0)
        return {e.crtc_index};
    return {plane_crtcs_before[size_t(e.plane_index)], device.planes()[size_t(e.plane_index)].crtc};
}

// A commit changes the CRTCs it names and those its planes left or joined;
// a TEST_ONLY one changes nothing.
std::set<int> crtcs_of_atomic(const JournalEntry &e, std::span<const int> plane_crtcs_before,
                              const Device &device) {
    std::set<int> crtcs;
    if (e.flags & DRM_MODE_ATOMIC_TEST_ONLY)
        return crtcs;
    for (const JournalEntry::Object &o : e.objects) {
        const std::optional<ObjectType> type = object_type(o.type);
        if (type == ObjectType::crtc)
            crtcs.insert(o.index);
        if (type == ObjectType::plane) {
            crtcs.insert(plane_crtcs_before[size_t(o.index)]);
            crtcs.insert(device.planes()[size_t(o.index)].crtc);
        }
    }
    return crtcs;
}

} // namespace

const RequestDescription kSetCrtcDescription{decode_setcrtc, account_setcrtc,
                                             journal_fields_setcrtc, crtcs_of_setcrtc};
const RequestDescription kSetPlaneDescription{decode_setplane, account_setplane,
                                              journal_fields_setplane, crtcs_of_setplane};
const RequestDescription kAtomicDescription{decode_atomic, account_atomic, journal_fields_atomic,
                                            crtcs_of_atomic};

} // namespace drmsim
