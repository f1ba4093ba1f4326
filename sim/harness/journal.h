// SPDX-License-Identifier: MIT
// The journal of mode-setting requests: what each asked for and how it was
// answered, kept in memory for the test API, appended as JSON lines to
// DRMSIM_JOURNAL and told on stderr with DRMSIM_VERBOSE.
#pragma once

#include <string>
#include <vector>

#include "drmsim.h"

namespace drmsim {

class Device;

struct Request;

// One line of the verbose account, without the newline.
std::string account(const JournalEntry &entry, const Request &request, const Device &device);

class Journal {
public:
    void set_file(const std::string &path) { path_ = path; }
    // Tells, appends and keeps one answered entry of a request that has a
    // description.
    void record(JournalEntry entry, const Request &request, const Device &device, bool verbose);
    const std::vector<JournalEntry> &entries() const { return entries_; }
    void clear() { entries_.clear(); }

private:
    std::string path_;
    std::vector<JournalEntry> entries_;
};

} // namespace drmsim
