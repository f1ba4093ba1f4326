// SPDX-License-Identifier: MIT
// The in-process interposers sit in the test executable ahead of the C
// library and the sanitizer runtime: calls that are not for a simulated
// device must reach those unchanged, and AddressSanitizer must keep
// working.
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "sim_test_support.h"

namespace {

using drmsim_test::Device;

TEST(Interposers, ForeignCallsPassThrough) {
    Device dev("one-crtc.json"); // a device is open, so the slow path is taken
    ASSERT_GE(dev.fd(), 0);
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    int queued = -1;
    ASSERT_EQ(ioctl(p[0], FIONREAD, &queued), 0);
    EXPECT_EQ(queued, 0);
    ASSERT_EQ(write(p[1], "abc", 3), 3);
    ASSERT_EQ(ioctl(p[0], FIONREAD, &queued), 0);
    EXPECT_EQ(queued, 3);
    winsize ws{};
    EXPECT_EQ(ioctl(p[0], TIOCGWINSZ, &ws), -1);
    EXPECT_EQ(errno, ENOTTY);

    void *anon = mmap(nullptr, 8192, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(anon, MAP_FAILED);
    static_cast<char *>(anon)[8191] = 1;
    EXPECT_EQ(munmap(anon, 8192), 0);
    EXPECT_EQ(close(p[0]), 0);
    EXPECT_EQ(close(p[1]), 0);
    EXPECT_EQ(close(p[1]), -1);
    EXPECT_EQ(errno, EBADF);
}

// Reads one byte past a heap block; only AddressSanitizer stops it. The
// index goes through a volatile so that the optimiser cannot see the
// overflow and warn about it at compile time.
int read_past_the_end(size_t n) {
    auto block = std::make_unique<char[]>(n);
    std::memset(block.get(), 1, n);
    volatile size_t past_the_end = n;
    return block[past_the_end];
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool address_sanitizer = true;
#elif defined(__has_feature)
constexpr bool address_sanitizer = __has_feature(address_sanitizer);
#else
constexpr bool address_sanitizer = false;
#endif

TEST(Interposers, AddressSanitizerStillCatchesOverflows) {
    if (!address_sanitizer)
        GTEST_SKIP() << "built without AddressSanitizer";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(read_past_the_end(16), "heap-buffer-overflow");
}

} // namespace
