// The journal of mode-setting requests: the verbose account on stderr, the
// JSON line appended to the journal file, and the entries kept for tests.
#include "journal.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <nlohmann/json.hpp>

#include "append_line.h"
#include "device.h"
#include "errno_text.h"

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

namespace {

std::string atomic_account(const JournalEntry &e, const Device &device) {
    std::string s;
    for (const std::string &flag : atomic_flag_names(e.flags))
        s += " " + flag;
    s += ":";
    for (size_t i = 0; i < e.objects.size(); ++i) {
        const JournalEntry::Object &o = e.objects[i];
        s += i ? "; " : " ";
        if (o.type == "connector")
            s += "connector " + device.connectors()[size_t(o.index)].name;
        else
            s += o.type + " " + index_text(o.index);
        s += " (id " + std::to_string(o.id) + ")";
        for (const auto &[name, value] : o.properties)
            s += " " + name + "=" + std::to_string(int64_t(value));
    }
    return s;
}

} // namespace

std::string account(const JournalEntry &e, const Device &device) {
    char t[32];
    std::snprintf(t, sizeof t, "[t=%.3f]", e.t);
    std::string s = std::string("drmsim: ") + t + " " + e.request;
    if (e.request == "SETCRTC") {
        s += " crtc " + index_text(e.crtc_index) + " (id " + std::to_string(e.crtc) + ")";
        if (!e.mode) {
            s += " off";
        } else {
            s += " fb " + std::to_string(e.fb) + " -> ";
            if (e.connectors.empty())
                s += "no connector";
            for (size_t i = 0; i < e.connectors.size(); ++i) {
                int ci = e.connector_indices[i];
                s += i ? ", " : (e.connectors.size() > 1 ? "connectors " : "connector ");
                s += (ci >= 0 ? device.connectors()[size_t(ci)].name : std::string("?")) + " (id " +
                     std::to_string(e.connectors[i]) + ")";
            }
            s += " " + e.mode->name;
        }
    } else if (e.request == "ATOMIC") {
        s += atomic_account(e, device);
    } else {
        s += " plane " + index_text(e.plane_index) + " (id " + std::to_string(e.plane) + ")";
        if (!e.fb) {
            s += " off";
        } else {
            s += " crtc " + index_text(e.crtc_index) + " (id " + std::to_string(e.crtc) + ") fb " +
                 std::to_string(e.fb);
            char rects[160];
            std::snprintf(rects, sizeof rects, " src %u,%u %ux%u dst %lld,%lld %llux%llu",
                          e.src[0] >> 16, e.src[1] >> 16, e.src[2] >> 16, e.src[3] >> 16,
                          (long long)e.dst[0], (long long)e.dst[1], (unsigned long long)e.dst[2],
                          (unsigned long long)e.dst[3]);
            s += rects;
        }
    }
    s += e.result == 0 ? ": ok" : ": refused, " + errno_name(-e.result);
    return s;
}

void Journal::record(JournalEntry entry, const Device &device, bool verbose) {
    if (verbose)
        std::fprintf(stderr, "%s\n", account(entry, device).c_str());
    if (!path_.empty()) {
        nlohmann::json j;
        j["t"] = entry.t;
        j["request"] = entry.request;
        if (entry.request == "ATOMIC") {
            j["flags"] = atomic_flag_names(entry.flags);
            j["objects"] = nlohmann::json::array();
            for (const JournalEntry::Object &o : entry.objects)
                j["objects"].push_back({{"id", o.id},
                                        {"type", o.type},
                                        {"index", o.index},
                                        {"properties", o.properties}});
        } else {
            j["crtc"] = entry.crtc;
            j["crtc_index"] = entry.crtc_index;
            j["fb"] = entry.fb;
            j["connectors"] = entry.connectors;
            j["connector_indices"] = entry.connector_indices;
            if (entry.mode)
                j["mode"] = {{"name", entry.mode->name},
                             {"hdisplay", entry.mode->hdisplay},
                             {"vdisplay", entry.mode->vdisplay}};
            else
                j["mode"] = nullptr;
            if (entry.request == "SETPLANE") {
                j["plane"] = entry.plane;
                j["plane_index"] = entry.plane_index;
                j["src"] = entry.src;
                j["dst"] = entry.dst;
            }
        }
        j["result"] = entry.result;
        if (!append_line(path_, j.dump() + "\n")) {
            std::fprintf(stderr, "drmsim: cannot append to journal %s: %s\n", path_.c_str(),
                         std::strerror(errno));
            path_.clear();
        }
    }
    // Bounded so that a program cycling for days under the virtual clock
    // does not grow without end; tests read far fewer.
    constexpr size_t kJournalKept = 100000;
    if (entries_.size() >= kJournalKept)
        entries_.erase(entries_.begin(), entries_.begin() + kJournalKept / 2);
    entries_.push_back(std::move(entry));
}

} // namespace drmsim
