// SPDX-License-Identifier: MIT
// The object layer's failure result: -errno after a failed libdrm call.
#pragma once

#include <cerrno>

namespace kms_detail {

// Never 0, so that a failure cannot read as success.
inline int negated_errno() {
    return errno > 0 ? -errno : -EIO;
}

} // namespace kms_detail
