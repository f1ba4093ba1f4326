// SPDX-License-Identifier: MIT
// Appending a line to an output file (journal, report).
#pragma once

#include <string>

namespace drmsim {

// Opens, writes and closes at once: a descriptor kept open could take the
// place of one the program closed (its stdin, say) and change what the
// program sees there. False (errno set) when the line was not written whole.
bool append_line(const std::string &path, const std::string &line);

} // namespace drmsim
