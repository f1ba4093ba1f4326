// SPDX-License-Identifier: MIT
// How the request table describes a mode-setting request: its journal entry
// decoded from the ioctl argument, its verbose line, its journal object and
// the CRTCs whose picture it can change. One description per kind of call.
#pragma once

#include <set>
#include <span>
#include <string>

#include <nlohmann/json_fwd.hpp>

#include "drmsim.h"

namespace drmsim {

class Device;

struct RequestDescription {
    // The entry as the call was issued (result still unknown); the request
    // name is set by the caller from the table.
    JournalEntry (*decode)(const Device &device, const void *arg);
    // What the verbose line says between the request's name and the result.
    std::string (*account)(const JournalEntry &entry, const Device &device);
    // The journal object's fields but t, request and result.
    nlohmann::json (*journal_fields)(const JournalEntry &entry);
    // The CRTC indices whose picture the answered call may have changed,
    // given which CRTC each plane was on before it.
    std::set<int> (*crtcs_touched)(const JournalEntry &entry,
                                   std::span<const int> plane_crtcs_before, const Device &device);
};

extern const RequestDescription kSetCrtcDescription;
extern const RequestDescription kSetPlaneDescription;
extern const RequestDescription kAtomicDescription;

// "TEST_ONLY", "ALLOW_MODESET", ... for an ATOMIC call's flags.
std::vector<std::string> atomic_flag_names(uint32_t flags);

} // namespace drmsim
