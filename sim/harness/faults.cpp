// SPDX-License-Identifier: MIT
// Injected failures and delays, read from DRMSIM_FAIL and DRMSIM_DELAY (faults.h).
#include "faults.h"

#include <cstdio>
#include <stdexcept>
#include <vector>

#include "errno_text.h"
#include "requests.h"

namespace drmsim {
namespace {

// Splits "a,b,c" and hands each non-empty item to `fn`.
template <typename Fn>
void for_each_item(std::string_view text, Fn fn) {
    while (!text.empty()) {
        size_t comma = text.find(',');
        std::string_view item = text.substr(0, comma);
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
        if (!item.empty())
            fn(item);
    }
}

const Request &require_known(std::string_view request) {
    const Request *r = find_request(request);
    if (!r)
        throw std::invalid_argument("unknown request \"" + std::string(request) + "\"");
    return *r;
}

// "setcrtc or setplane": the requests an injected fault may ignore.
std::string ignorable_names() {
    std::vector<std::string_view> names;
    for (const Request &r : requests())
        if (r.ignorable)
            names.push_back(r.name);
    std::string s;
    for (size_t i = 0; i < names.size(); ++i)
        s += std::string(i == 0                  ? ""
                         : i + 1 == names.size() ? " or "
                                                 : ", ") +
             std::string(names[i]);
    return s;
}

constexpr std::pair<std::string_view, DriverFault> kDriverFaults[] = {
    {"other-mode", DriverFault::other_mode},
    {"clock", DriverFault::clock},
    {"x-offset", DriverFault::x_offset},
    {"y-offset", DriverFault::y_offset},
    {"stale-encoder", DriverFault::stale_encoder},
    {"old-route", DriverFault::old_route},
    {"no-mode", DriverFault::no_mode},
    {"foreign-encoder", DriverFault::foreign_encoder},
};

// "setcrtc": the requests a driver fault can be injected into.
std::string misapplicable_names() {
    std::string s;
    for (const Request &r : requests())
        if (r.faulty_handler)
            s += (s.empty() ? "" : ", ") + std::string(r.name);
    return s;
}

} // namespace

std::optional<DriverFault> parse_driver_fault(std::string_view name) {
    for (const auto &[text, fault] : kDriverFaults)
        if (name == text)
            return fault;
    return std::nullopt;
}

std::string_view driver_fault_name(DriverFault fault) {
    for (const auto &[text, f] : kDriverFaults)
        if (f == fault)
            return text;
    return "?";
}

std::string driver_fault_names() {
    std::string s;
    for (const auto &[text, fault] : kDriverFaults)
        s += (s.empty() ? "" : ", ") + std::string(text);
    return s;
}

void Faults::read_environment(std::string_view fail, std::string_view delay) {
    for_each_item(fail, [&](std::string_view failure) {
        // request:N:errno
        size_t a = failure.find(':'), b = failure.find(':', a == failure.npos ? a : a + 1);
        std::optional<unsigned> nth;
        std::optional<int> err;
        std::optional<DriverFault> fault;
        if (a != failure.npos && b != failure.npos) {
            nth = parse_unsigned(failure.substr(a + 1, b - a - 1));
            const Request *request = find_request(failure.substr(0, a));
            const std::string_view what = failure.substr(b + 1);
            fault = request && request->faulty_handler ? parse_driver_fault(what) : std::nullopt;
            err = fault                                               ? std::optional<int>(0)
                  : what == "ignore" && request && request->ignorable ? std::optional<int>(0)
                                                                      : parse_errno(what);
        }
        if (!nth || !*nth || !err || !find_request(failure.substr(0, a)))
            throw std::invalid_argument(
                "DRMSIM_FAIL (--fail): bad \"" + std::string(failure) +
                "\"; expected request:N:errno with N from 1 (setcrtc:2:EINVAL), request:N:ignore "
                "for " +
                ignorable_names() + ", or request:N:FAULT for " + misapplicable_names() +
                ", FAULT one of " + driver_fault_names());
        failures_.push_back({std::string(failure.substr(0, a)), *nth, *err, fault});
    });
    for_each_item(delay, [&](std::string_view item) {
        size_t a = item.find(':');
        auto ms = a == item.npos ? std::nullopt : parse_unsigned(item.substr(a + 1));
        if (!ms || !find_request(item.substr(0, a)))
            throw std::invalid_argument("DRMSIM_DELAY (--delay): bad \"" + std::string(item) +
                                        "\"; expected request:MS (setcrtc:200)");
        delays_[std::string(item.substr(0, a))] = *ms;
    });
}

void Faults::fail(std::string_view request, unsigned nth, int err) {
    if (err == 0 && !require_known(request).ignorable)
        throw std::invalid_argument("only " + ignorable_names() + " can be ignored");
    require_known(request);
    failures_.push_back({std::string(request), nth, err, std::nullopt});
}

void Faults::misapply(std::string_view request, unsigned nth, DriverFault fault) {
    if (!require_known(request).faulty_handler)
        throw std::invalid_argument("driver faults apply only to " + misapplicable_names());
    failures_.push_back({std::string(request), nth, 0, fault});
}

void Faults::delay(std::string_view request, unsigned milliseconds) {
    require_known(request);
    delays_[std::string(request)] = milliseconds;
}

void Faults::clear() {
    failures_.clear();
    delays_.clear();
}

std::optional<int> Faults::failure(std::string_view request, unsigned nth) const {
    for (const Failure &f : failures_)
        if (f.request == request && f.nth == nth && !f.fault)
            return f.err;
    return std::nullopt;
}

std::optional<DriverFault> Faults::driver_fault(std::string_view request, unsigned nth) const {
    for (const Failure &f : failures_)
        if (f.request == request && f.nth == nth && f.fault)
            return f.fault;
    return std::nullopt;
}

unsigned Faults::delay_ms(std::string_view request) const {
    auto it = delays_.find(request);
    return it == delays_.end() ? 0 : it->second;
}

} // namespace drmsim
