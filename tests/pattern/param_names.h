// SPDX-License-Identifier: MIT
// Stable, readable names for parameterised pattern tests: the case's own
// description (a string parameter, or its PrintTo) with every run of
// characters that a test name may not hold turned into one '_', so that a
// failing case can be named to `ctest -R` and followed from run to run.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <sstream>
#include <string>
#include <type_traits>

namespace param_names {

inline std::string sanitized(const std::string &text) {
    std::string name;
    for (const char c : text) {
        if (std::isalnum(static_cast<unsigned char>(c)))
            name += c;
        else if (!name.empty() && name.back() != '_')
            name += '_';
    }
    while (!name.empty() && name.back() == '_')
        name.pop_back();
    return name;
}

// INSTANTIATE_TEST_SUITE_P(..., param_names::Described{}).
struct Described {
    template <typename Param>
    std::string operator()(const testing::TestParamInfo<Param> &info) const {
        if constexpr (std::is_convertible_v<Param, std::string>) {
            return sanitized(info.param);
        } else {
            std::ostringstream text;
            PrintTo(info.param, &text);
            return sanitized(text.str());
        }
    }
};

} // namespace param_names
