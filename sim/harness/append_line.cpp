// SPDX-License-Identifier: MIT
// Appends one line to a file past the interposers.
#include "append_line.h"

#include <fcntl.h>
#include <unistd.h>

#include "real_calls.h"

namespace drmsim {

bool append_line(const std::string &path, const std::string &line) {
    int fd = real::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    bool ok = ::write(fd, line.data(), line.size()) == ssize_t(line.size());
    real::close(fd);
    return ok;
}

} // namespace drmsim
