// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "dumb_buffer.h"

namespace {

// These numbers are the kernel's ABI; a wrong header or record layout would
// send the request to a different ioctl.
TEST(DumbBufferRequests, MatchTheKernelAbi) {
    EXPECT_EQ(kms_detail::kCreateDumbRequest, 0xC02064B2ul);
    EXPECT_EQ(kms_detail::kMapDumbRequest, 0xC01064B3ul);
    EXPECT_EQ(kms_detail::kDestroyDumbRequest, 0xC00464B4ul);
}

} // namespace
