// SPDX-License-Identifier: MIT
// Injected failures and delays: the Nth libdrm-level call of a request fails
// with a chosen errno, or every call of it sleeps first. Requests are named
// as the request table names them.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "driver_faults.h"

namespace drmsim {

class Faults {
public:
    // DRMSIM_FAIL ("request:N:errno,...") and DRMSIM_DELAY ("request:MS,...");
    // throws std::invalid_argument naming the item that does not parse and
    // the valid forms.
    void read_environment(std::string_view fail, std::string_view delay);
    // Throw std::invalid_argument for a request the device does not know.
    // `err` 0: the call answers 0 and changes nothing (ignorable requests).
    void fail(std::string_view request, unsigned nth, int err);
    void delay(std::string_view request, unsigned milliseconds);
    void clear();

    // The nth call of `request` answers 0 but applies a wrong state.
    void misapply(std::string_view request, unsigned nth, DriverFault fault);

    // The errno the nth call of `request` fails with (0: it is ignored),
    // if one was chosen.
    std::optional<int> failure(std::string_view request, unsigned nth) const;
    // How the nth call of `request` is applied wrongly, if it is.
    std::optional<DriverFault> driver_fault(std::string_view request, unsigned nth) const;
    unsigned delay_ms(std::string_view request) const;

private:
    struct Failure {
        std::string request;
        unsigned nth;
        int err;
        std::optional<DriverFault> fault;
    };
    std::vector<Failure> failures_;
    std::map<std::string, unsigned, std::less<>> delays_;
};

// "x-offset" for DriverFault::x_offset, and back; nullopt for other names.
std::optional<DriverFault> parse_driver_fault(std::string_view name);
std::string_view driver_fault_name(DriverFault fault);
// "other-mode, clock, ...": every name parse_driver_fault takes.
std::string driver_fault_names();

} // namespace drmsim
