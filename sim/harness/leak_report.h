// SPDX-License-Identifier: MIT
// What a device file still holds: written to DRMSIM_REPORT and told on
// stderr when the descriptor closes, or at exit while it is still open.
#pragma once

#include <string>

#include "drmsim.h"

namespace drmsim {

class Device;

LeakReport leak_report(const Device &device, unsigned mappings, bool closed);

// Overwrites `report_path` (when set) with the report as one JSON line; with
// a report file or `verbose`, tells on stderr what was left behind.
void publish_leak_report(const LeakReport &report, const std::string &report_path, bool verbose,
                         int fd, const std::string &label);

} // namespace drmsim
