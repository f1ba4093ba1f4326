// SPDX-License-Identifier: MIT
// The names of the object types a journal entry names (object_types.h).
#include "object_types.h"

#include <iterator>

namespace drmsim {
namespace {

constexpr std::string_view kNames[] = {"crtc", "plane", "connector"};
static_assert(std::size(kNames) == size_t(ObjectType::connector) + 1);

} // namespace

std::string_view object_type_name(ObjectType type) {
    return kNames[size_t(type)];
}

std::optional<ObjectType> object_type(std::string_view name) {
    for (size_t i = 0; i < std::size(kNames); ++i)
        if (kNames[i] == name)
            return ObjectType(i);
    return std::nullopt;
}

} // namespace drmsim
