// SPDX-License-Identifier: MIT
// The requests the simulated device answers, one row each: the ioctl
// number, the name that DRMSIM_FAIL, DRMSIM_DELAY, DRMSIM_EVENTS, --verbose
// and the journal use, the handler, how calls are counted, how a
// mode-setting call is described and whether events can be tied to it.
// Everything in the simulated device that names or tells a request apart
// reads it from here.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "driver_faults.h"

namespace drmsim {

class Device;
struct RequestDescription;

// libdrm reads variable-length answers in rounds of two ioctls: the first
// with null array pointers to learn the counts, the second with arrays of
// that size. Only the first one of a round is a new call.
struct Round {
    // The ioctl could open a round: none of its array pointers is set.
    bool (*pointers_null)(const void *arg);
    // The answer had nothing to fetch, so libdrm's second ioctl carries
    // null pointers as well and must not count as a new call.
    bool (*counts_zero)(const void *arg);
};

struct Request {
    unsigned long number = 0; // ioctl request; 0 for mmap of the device descriptor
    std::string_view name;
    int (*handler)(Device &device, void *arg) = nullptr; // 0 or -errno; null for mmap
    const Round *round = nullptr;                        // null: every ioctl is one call
    bool argument_optional = false;                      // answered even with a null argument
    // An injected fault may answer it 0 and change nothing, as a faulty
    // driver would.
    bool ignorable = false;
    // The handler of a faulty driver that answers 0 but applies another
    // state (DRMSIM_FAIL request:N:KIND); null when no such fault applies.
    int (*faulty_handler)(Device &device, void *arg, DriverFault fault) = nullptr;
    // Mode-setting requests are journaled, told by --verbose and followed
    // by snapshots, as this says; null for the others.
    const RequestDescription *description = nullptr;
    // A DRMSIM_EVENTS signal can be raised inside its nth call
    // ("sigint@setcrtc:2").
    bool ties_events = false;
};

std::span<const Request> requests();
// The row of mmap on the device descriptor, the one request that is not an
// ioctl.
const Request &mmap_request();
// nullptr for a request the device does not know.
const Request *find_request(unsigned long number);
const Request *find_request(std::string_view name);

// The name in capitals, as the journal spells it ("SETCRTC").
std::string journal_name(const Request &request);

} // namespace drmsim
