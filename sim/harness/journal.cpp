// SPDX-License-Identifier: MIT
// The journal of mode-setting requests: the verbose line on stderr, the JSON
// line appended to the journal file, and the entries kept for tests; each
// request's own part comes from its row of the request table.
#include "journal.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <nlohmann/json.hpp>

#include "append_line.h"
#include "device.h"
#include "errno_text.h"
#include "request_descriptions.h"
#include "requests.h"

namespace drmsim {

std::string account(const JournalEntry &e, const Request &request, const Device &device) {
    char t[32];
    std::snprintf(t, sizeof t, "[t=%.3f]", e.t);
    return std::string("drmsim: ") + t + " " + e.request + request.description->account(e, device) +
           (e.result == 0 ? ": ok" : ": refused, " + errno_name(-e.result));
}

void Journal::record(JournalEntry entry, const Request &request, const Device &device,
                     bool verbose) {
    if (verbose)
        std::fprintf(stderr, "%s\n", account(entry, request, device).c_str());
    if (!path_.empty()) {
        nlohmann::json j = request.description->journal_fields(entry);
        j["t"] = entry.t;
        j["request"] = entry.request;
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
