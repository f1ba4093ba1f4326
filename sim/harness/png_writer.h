// SPDX-License-Identifier: MIT
// Writes a picture as an 8-bit RGB PNG.
#pragma once

#include <string>

namespace drmsim {

struct Picture;

// false (with the reason in `error`) when the file cannot be written.
bool write_png(const std::string &path, const Picture &picture, std::string &error);

} // namespace drmsim
