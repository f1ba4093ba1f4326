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

} // namespace

void Faults::read_environment(std::string_view fail, std::string_view delay) {
    for_each_item(fail, [&](std::string_view failure) {
        // request:N:errno
        size_t a = failure.find(':'), b = failure.find(':', a == failure.npos ? a : a + 1);
        std::optional<unsigned> nth;
        std::optional<int> err;
        if (a != failure.npos && b != failure.npos) {
            nth = parse_unsigned(failure.substr(a + 1, b - a - 1));
            const Request *request = find_request(failure.substr(0, a));
            err = failure.substr(b + 1) == "ignore" && request && request->ignorable
                      ? std::optional<int>(0)
                      : parse_errno(failure.substr(b + 1));
        }
        if (!nth || !*nth || !err || !find_request(failure.substr(0, a))) {
            std::fprintf(stderr,
                         "drmsim: DRMSIM_FAIL: ignoring \"%.*s\" (expected request:N:errno, or "
                         "request:N:ignore for %s)\n",
                         int(failure.size()), failure.data(), ignorable_names().c_str());
            return;
        }
        failures_.push_back({std::string(failure.substr(0, a)), *nth, *err});
    });
    for_each_item(delay, [&](std::string_view item) {
        size_t a = item.find(':');
        auto ms = a == item.npos ? std::nullopt : parse_unsigned(item.substr(a + 1));
        if (!ms || !find_request(item.substr(0, a))) {
            std::fprintf(stderr, "drmsim: DRMSIM_DELAY: ignoring \"%.*s\" (expected request:MS)\n",
                         int(item.size()), item.data());
            return;
        }
        delays_[std::string(item.substr(0, a))] = *ms;
    });
}

void Faults::fail(std::string_view request, unsigned nth, int err) {
    if (err == 0 && !require_known(request).ignorable)
        throw std::invalid_argument("only " + ignorable_names() + " can be ignored");
    require_known(request);
    failures_.push_back({std::string(request), nth, err});
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
        if (f.request == request && f.nth == nth)
            return f.err;
    return std::nullopt;
}

unsigned Faults::delay_ms(std::string_view request) const {
    auto it = delays_.find(request);
    return it == delays_.end() ? 0 : it->second;
}

} // namespace drmsim
