// SPDX-License-Identifier: MIT
// The kinds of KMS object a journal entry names, and the one table of their
// names ("crtc", "plane", "connector").
#pragma once

#include <optional>
#include <string_view>

namespace drmsim {

enum class ObjectType { crtc, plane, connector };

// The name the journal gives the type.
std::string_view object_type_name(ObjectType type);
// The type of that name; nullopt for "?" and anything else.
std::optional<ObjectType> object_type(std::string_view name);

} // namespace drmsim
