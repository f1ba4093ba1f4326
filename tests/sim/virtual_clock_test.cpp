// SPDX-License-Identifier: MIT
// The virtual clock for waits on standard input: timeouts end at once,
// scripted input and signals arrive at virtual times, and real readiness on
// standard input still wins.
#include <sys/select.h>
#include <unistd.h>

#include <drm_fourcc.h>
#include <xf86drm.h>
#include <xf86drmMode.h>

#include <cerrno>
#include <csignal>

#include "sim_test_support.h"

namespace {

using drmsim_test::Device;

volatile sig_atomic_t g_sigints = 0;
volatile sig_atomic_t g_last_signal = 0;
void count_sigint(int signo) {
    g_sigints = g_sigints + 1;
    g_last_signal = signo;
}

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Standard input is a pipe the test holds the write end of; SIGINT, SIGTERM
// and SIGHUP have a counting handler and are blocked outside waits, as
// crtc-relay does it.
class VirtualClockTest : public ::testing::Test {
protected:
    void SetUp() override {
        drmsim::reset();
        drmsim::use_virtual_clock(true);
        ASSERT_EQ(pipe(pipe_), 0);
        saved_stdin_ = dup(0);
        ASSERT_GE(saved_stdin_, 0);
        ASSERT_EQ(dup2(pipe_[0], 0), 0);
        struct sigaction sa {};
        sa.sa_handler = count_sigint;
        sigemptyset(&sa.sa_mask);
        sigset_t block;
        sigemptyset(&block);
        for (size_t i = 0; i < std::size(kEndingSignals); ++i) {
            ASSERT_EQ(sigaction(kEndingSignals[i], &sa, &saved_actions_[i]), 0);
            sigaddset(&block, kEndingSignals[i]);
        }
        ASSERT_EQ(sigprocmask(SIG_BLOCK, &block, &saved_mask_), 0);
        wait_mask_ = saved_mask_;
        for (int signo : kEndingSignals)
            sigdelset(&wait_mask_, signo);
        g_sigints = 0;
        g_last_signal = 0;
    }
    void TearDown() override {
        dup2(saved_stdin_, 0);
        close(saved_stdin_);
        close(pipe_[0]);
        close(pipe_[1]);
        sigprocmask(SIG_SETMASK, &saved_mask_, nullptr);
        for (size_t i = 0; i < std::size(kEndingSignals); ++i)
            sigaction(kEndingSignals[i], &saved_actions_[i], nullptr);
        drmsim::use_virtual_clock(false);
        drmsim::reset();
    }
    // pselect on stdin alone, like crtc-relay's loop.
    int wait_stdin(long seconds, bool *readable = nullptr) {
        fd_set in;
        FD_ZERO(&in);
        FD_SET(0, &in);
        timespec timeout{seconds, 0};
        int r = pselect(1, &in, nullptr, nullptr, &timeout, &wait_mask_);
        if (readable)
            *readable = r > 0 && FD_ISSET(0, &in);
        return r;
    }
    int pipe_[2] = {-1, -1};
    int saved_stdin_ = -1;
    struct sigaction saved_actions_[std::size(kEndingSignals)]{};
    sigset_t saved_mask_{}, wait_mask_{};
};

TEST_F(VirtualClockTest, TimeoutsEndAtOnceAndMoveTheClock) {
    EXPECT_EQ(drmsim::virtual_now(), 0.0);
    bool readable = true;
    EXPECT_EQ(wait_stdin(5, &readable), 0);
    EXPECT_FALSE(readable) << "a timeout clears the read set";
    EXPECT_EQ(drmsim::virtual_now(), 5.0);

    fd_set in;
    FD_ZERO(&in);
    FD_SET(0, &in);
    timeval tv{5, 0};
    EXPECT_EQ(select(1, &in, nullptr, nullptr, &tv), 0);
    EXPECT_EQ(tv.tv_sec, 0);
    EXPECT_EQ(tv.tv_usec, 0);
    EXPECT_EQ(drmsim::virtual_now(), 10.0);
}

TEST_F(VirtualClockTest, InputArrivesAtItsTimeAndStays) {
    drmsim::add_event("input@7.5");
    bool readable = false;
    EXPECT_EQ(wait_stdin(5, &readable), 0);
    EXPECT_EQ(drmsim::virtual_now(), 5.0);
    EXPECT_EQ(wait_stdin(5, &readable), 1);
    EXPECT_TRUE(readable);
    EXPECT_EQ(drmsim::virtual_now(), 7.5);
    EXPECT_EQ(wait_stdin(5, &readable), 1) << "input is not consumed";
    EXPECT_EQ(drmsim::virtual_now(), 7.5);
}

// Mirrors Linux select, which leaves the unslept time in the timeout.
TEST_F(VirtualClockTest, SelectLeavesTheRemainingTime) {
    drmsim::add_event("input@2.25");
    fd_set in;
    FD_ZERO(&in);
    FD_SET(0, &in);
    timeval tv{5, 0};
    EXPECT_EQ(select(1, &in, nullptr, nullptr, &tv), 1);
    EXPECT_EQ(tv.tv_sec, 2);
    EXPECT_EQ(tv.tv_usec, 750000);
}

TEST_F(VirtualClockTest, RealInputWinsWithoutMovingTheClock) {
    drmsim::add_event("input@100");
    ASSERT_EQ(write(pipe_[1], "x", 1), 1);
    bool readable = false;
    EXPECT_EQ(wait_stdin(5, &readable), 1);
    EXPECT_TRUE(readable);
    EXPECT_EQ(drmsim::virtual_now(), 0.0);
}

TEST_F(VirtualClockTest, ClosedStdinFailsLikeTheRealWait) {
    close(0);
    EXPECT_EQ(wait_stdin(5), -1);
    EXPECT_EQ(errno, EBADF);
    EXPECT_EQ(drmsim::virtual_now(), 0.0);
}

TEST_F(VirtualClockTest, StdinAtEndOfFileIsReadableAtOnce) {
    close(pipe_[1]);
    pipe_[1] = -1;
    bool readable = false;
    EXPECT_EQ(wait_stdin(5, &readable), 1);
    EXPECT_TRUE(readable);
    EXPECT_EQ(drmsim::virtual_now(), 0.0);
}

TEST_F(VirtualClockTest, SigintAtATimeInterruptsTheWaitItFallsIn) {
    drmsim::add_event("sigint@8");
    EXPECT_EQ(wait_stdin(5), 0);
    EXPECT_EQ(g_sigints, 0);
    EXPECT_EQ(wait_stdin(5), -1);
    EXPECT_EQ(errno, EINTR);
    EXPECT_EQ(g_sigints, 1) << "the program's handler ran";
    EXPECT_EQ(drmsim::virtual_now(), 8.0);
    EXPECT_EQ(wait_stdin(5), 0) << "the signal fires once";
    EXPECT_EQ(g_sigints, 1);
}

// SIGTERM and SIGHUP, which timeout(1) and service managers send, are
// scripted like SIGINT: at a time, or inside a SETCRTC (then pending until
// the next wait lets them through).
TEST_F(VirtualClockTest, TerminationSignalsAtATimeAndInsideSetCrtc) {
    drmsim::add_event("sigterm@3");
    EXPECT_EQ(wait_stdin(5), -1);
    EXPECT_EQ(errno, EINTR);
    EXPECT_EQ(g_last_signal, SIGTERM);
    EXPECT_EQ(drmsim::virtual_now(), 3.0);

    drmsim::add_event("sighup@setcrtc:1");
    Device dev("one-crtc.json");
    uint32_t con_id = drmsim::connector_id(dev.fd(), 0);
    drmModeSetCrtc(dev.fd(), drmsim::crtc_id(dev.fd(), 0), 0, 0, 0, &con_id, 1, nullptr);
    EXPECT_EQ(g_last_signal, SIGTERM) << "SIGHUP stays pending outside the wait";
    EXPECT_EQ(wait_stdin(5), -1);
    EXPECT_EQ(errno, EINTR);
    EXPECT_EQ(g_last_signal, SIGHUP);
    EXPECT_EQ(drmsim::virtual_now(), 3.0);
}

// The program blocks SIGINT outside its wait, so a SIGINT raised inside
// SETCRTC stays pending and ends the next wait with EINTR.
TEST_F(VirtualClockTest, SigintInsideSetCrtcEndsTheNextWait) {
    drmsim::add_event("sigint@setcrtc:2");
    Device dev("one-crtc.json");
    drm_mode_create_dumb c{};
    c.width = 640;
    c.height = 480;
    c.bpp = 32;
    ASSERT_EQ(drmIoctl(dev.fd(), DRM_IOCTL_MODE_CREATE_DUMB, &c), 0);
    uint32_t handles[4] = {c.handle}, pitches[4] = {c.pitch}, offsets[4] = {}, fb = 0;
    ASSERT_EQ(
        drmModeAddFB2(dev.fd(), 640, 480, DRM_FORMAT_XRGB8888, handles, pitches, offsets, &fb, 0),
        0);
    drmModeConnector *con = drmModeGetConnector(dev.fd(), drmsim::connector_id(dev.fd(), 0));
    ASSERT_NE(con, nullptr);
    drmModeModeInfo mode = con->modes[0];
    drmModeFreeConnector(con);
    uint32_t con_id = drmsim::connector_id(dev.fd(), 0), crtc = drmsim::crtc_id(dev.fd(), 0);

    ASSERT_EQ(drmModeSetCrtc(dev.fd(), crtc, fb, 0, 0, &con_id, 1, &mode), 0);
    EXPECT_EQ(wait_stdin(5), 0);
    ASSERT_EQ(drmModeSetCrtc(dev.fd(), crtc, fb, 0, 0, &con_id, 1, &mode), 0);
    EXPECT_EQ(g_sigints, 0) << "blocked outside the wait";
    EXPECT_EQ(wait_stdin(5), -1);
    EXPECT_EQ(errno, EINTR);
    EXPECT_EQ(g_sigints, 1);
    EXPECT_EQ(drmsim::virtual_now(), 5.0);

    auto journal = drmsim::journal();
    ASSERT_EQ(journal.size(), 2u);
    EXPECT_EQ(journal[0].t, 0.0);
    EXPECT_EQ(journal[1].t, 5.0) << "journal times are virtual";
    drmModeRmFB(dev.fd(), fb);
}

TEST_F(VirtualClockTest, WaitsNotOnStdinAndWaitsWithTheClockOffPassThrough) {
    fd_set in;
    FD_ZERO(&in);
    FD_SET(pipe_[0], &in);
    timespec zero{0, 0};
    EXPECT_EQ(pselect(pipe_[0] + 1, &in, nullptr, nullptr, &zero, nullptr), 0);
    EXPECT_EQ(drmsim::virtual_now(), 0.0);

    drmsim::use_virtual_clock(false);
    FD_ZERO(&in);
    FD_SET(0, &in);
    timespec short_wait{0, 1000000};
    EXPECT_EQ(pselect(1, &in, nullptr, nullptr, &short_wait, nullptr), 0);
    EXPECT_EQ(drmsim::virtual_now(), 0.0);
}

TEST(VirtualClockEvents, BadSpecsAreRefused) {
    for (const char *bad : {"input", "input@", "input@-1", "sigint@x", "sigint@setcrtc:0",
                            "sigint@setcrtc:", "key@1", "sigkill@1", "sigterm@", "sighup"})
        EXPECT_THROW(drmsim::add_event(bad), std::invalid_argument) << bad;
    drmsim::reset();
}

} // namespace
