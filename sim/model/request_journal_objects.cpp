// SPDX-License-Identifier: MIT
// The journal object of each mode-setting request (the fields besides t,
// request and result), as sim/README.md lists them.
#include <nlohmann/json.hpp>

#include "request_description_parts.h"

namespace drmsim {

nlohmann::json journal_fields_setcrtc(const JournalEntry &e) {
    nlohmann::json j;
    j["crtc"] = e.crtc;
    j["crtc_index"] = e.crtc_index;
    j["fb"] = e.fb;
    j["connectors"] = e.connectors;
    j["connector_indices"] = e.connector_indices;
    if (e.mode)
        j["mode"] = {
            {"name", e.mode->name}, {"hdisplay", e.mode->hdisplay}, {"vdisplay", e.mode->vdisplay}};
    else
        j["mode"] = nullptr;
    return j;
}

// A plane request carries the CRTC request's fields too (mode null).
nlohmann::json journal_fields_setplane(const JournalEntry &e) {
    nlohmann::json j = journal_fields_setcrtc(e);
    j["plane"] = e.plane;
    j["plane_index"] = e.plane_index;
    j["src"] = e.src;
    j["dst"] = e.dst;
    return j;
}

nlohmann::json journal_fields_atomic(const JournalEntry &e) {
    nlohmann::json j;
    j["flags"] = atomic_flag_names(e.flags);
    j["objects"] = nlohmann::json::array();
    for (const JournalEntry::Object &o : e.objects)
        j["objects"].push_back(
            {{"id", o.id}, {"type", o.type}, {"index", o.index}, {"properties", o.properties}});
    return j;
}

} // namespace drmsim
