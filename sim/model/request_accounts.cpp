// SPDX-License-Identifier: MIT
// The verbose line of each mode-setting request: what it asked for, in the
// device's own words, between the request's name and its result.
#include <cstdio>

#include "device.h"
#include "object_types.h"
#include "request_description_parts.h"

namespace drmsim {
namespace {

std::string index_text(int i) {
    return i >= 0 ? std::to_string(i) : std::string("?");
}

} // namespace

std::vector<std::string> atomic_flag_names(uint32_t flags) {
    constexpr std::pair<uint32_t, const char *> kNames[] = {
        {DRM_MODE_ATOMIC_TEST_ONLY, "TEST_ONLY"},
        {DRM_MODE_ATOMIC_ALLOW_MODESET, "ALLOW_MODESET"},
        {DRM_MODE_ATOMIC_NONBLOCK, "NONBLOCK"},
        {DRM_MODE_PAGE_FLIP_EVENT, "PAGE_FLIP_EVENT"},
        {DRM_MODE_PAGE_FLIP_ASYNC, "PAGE_FLIP_ASYNC"}};
    std::vector<std::string> names;
    for (auto [bit, name] : kNames)
        if (flags & bit) {
            names.emplace_back(name);
            flags &= ~bit;
        }
    if (flags) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%x", flags);
        names.emplace_back(hex);
    }
    return names;
}

std::string account_setcrtc(const JournalEntry &e, const Device &device) {
    std::string s = " crtc " + index_text(e.crtc_index) + " (id " + std::to_string(e.crtc) + ")";
    if (!e.mode)
        return s + " off";
    s += " fb " + std::to_string(e.fb) + " -> ";
    if (e.connectors.empty())
        s += "no connector";
    for (size_t i = 0; i < e.connectors.size(); ++i) {
        int ci = e.connector_indices[i];
        s += i ? ", " : (e.connectors.size() > 1 ? "connectors " : "connector ");
        s += (ci >= 0 ? device.connectors()[size_t(ci)].name : std::string("?")) + " (id " +
             std::to_string(e.connectors[i]) + ")";
    }
    return s + " " + e.mode->name;
}

std::string account_setplane(const JournalEntry &e, const Device &) {
    std::string s = " plane " + index_text(e.plane_index) + " (id " + std::to_string(e.plane) + ")";
    if (!e.fb)
        return s + " off";
    s += " crtc " + index_text(e.crtc_index) + " (id " + std::to_string(e.crtc) + ") fb " +
         std::to_string(e.fb);
    char rects[160];
    std::snprintf(rects, sizeof rects, " src %u,%u %ux%u dst %lld,%lld %llux%llu", e.src[0] >> 16,
                  e.src[1] >> 16, e.src[2] >> 16, e.src[3] >> 16, (long long)e.dst[0],
                  (long long)e.dst[1], (unsigned long long)e.dst[2], (unsigned long long)e.dst[3]);
    return s + rects;
}

std::string account_atomic(const JournalEntry &e, const Device &device) {
    std::string s;
    for (const std::string &flag : atomic_flag_names(e.flags))
        s += " " + flag;
    s += ":";
    for (size_t i = 0; i < e.objects.size(); ++i) {
        const JournalEntry::Object &o = e.objects[i];
        s += i ? "; " : " ";
        if (object_type(o.type) == ObjectType::connector)
            s += o.type + " " + device.connectors()[size_t(o.index)].name;
        else
            s += o.type + " " + index_text(o.index);
        s += " (id " + std::to_string(o.id) + ")";
        for (const auto &[name, value] : o.properties)
            s += " " + name + "=" + std::to_string(int64_t(value));
    }
    return s;
}

} // namespace drmsim
