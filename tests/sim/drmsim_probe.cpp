// SPDX-License-Identifier: MIT
// A small DRM client that preload_test.cpp runs under libdrmsim.so, the way
// crtc-relay runs: it only knows libdrm and the C library.
//
//   drmsim_probe DEVICE show          show a red picture on CRTC 0, clean up
//   drmsim_probe DEVICE leak          show it and exit without cleaning up
//   drmsim_probe DEVICE cycle         show it, then every 5 s (pselect on
//                                     stdin, SIGINT blocked outside the
//                                     wait) hand the screen to the next CRTC
//   drmsim_probe DEVICE cycle-select  the same with plain select()
//
// Prints one line per step on stdout; exit status 0 after cleanup, 1 on a
// failure before the loop.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/select.h>
#include <unistd.h>

#include <drm_fourcc.h>
#include <xf86drm.h>
#include <xf86drmMode.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

void on_sigint(int) {}

int fail(const char *what) {
    std::printf("%s failed: %s\n", what, std::strerror(errno));
    return 1;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s DEVICE show|leak|cycle|cycle-select\n", argv[0]);
        return 2;
    }
    const std::string action = argv[2];
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    struct sigaction sa {};
    sa.sa_handler = on_sigint;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);

    int fd = open(argv[1], O_RDWR);
    if (fd < 0)
        return fail("open");
    drmModeRes *res = drmModeGetResources(fd);
    if (!res || res->count_connectors < 1 || res->count_crtcs < 1)
        return fail("drmModeGetResources");
    std::vector<uint32_t> crtcs(res->crtcs, res->crtcs + res->count_crtcs);
    drmModeConnector *con = drmModeGetConnector(fd, res->connectors[0]);
    if (!con || con->count_modes < 1)
        return fail("drmModeGetConnector");
    drmModeModeInfo mode = con->modes[0];
    uint32_t connector = con->connector_id;
    drmModeFreeConnector(con);
    drmModeFreeResources(res);

    drm_mode_create_dumb create{};
    create.width = mode.hdisplay;
    create.height = mode.vdisplay;
    create.bpp = 32;
    if (drmIoctl(fd, DRM_IOCTL_MODE_CREATE_DUMB, &create))
        return fail("CREATE_DUMB");
    drm_mode_map_dumb map{};
    map.handle = create.handle;
    if (drmIoctl(fd, DRM_IOCTL_MODE_MAP_DUMB, &map))
        return fail("MAP_DUMB");
    auto *pixels = static_cast<uint8_t *>(
        mmap(nullptr, create.size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, off_t(map.offset)));
    if (pixels == MAP_FAILED)
        return fail("mmap");
    for (uint32_t y = 0; y < create.height; ++y)
        for (uint32_t x = 0; x < create.width; ++x) {
            uint8_t *p = pixels + size_t(y) * create.pitch + size_t(x) * 4;
            p[0] = 0x00, p[1] = 0x00, p[2] = 0xff, p[3] = 0xff; // XR24 red, byte by byte
        }
    uint32_t handles[4] = {create.handle}, pitches[4] = {create.pitch}, offsets[4] = {0}, fb = 0;
    if (drmModeAddFB2(fd, create.width, create.height, DRM_FORMAT_XRGB8888, handles, pitches,
                      offsets, &fb, 0))
        return fail("drmModeAddFB2");
    if (drmModeSetCrtc(fd, crtcs[0], fb, 0, 0, &connector, 1, &mode))
        return fail("drmModeSetCrtc");
    std::printf("shown on crtc %u\n", crtcs[0]);
    if (action == "leak")
        return 0;
    munmap(pixels, create.size);

    if (action == "cycle" || action == "cycle-select") {
        const bool use_pselect = action == "cycle";
        sigset_t blocked, wait_mask;
        sigemptyset(&blocked);
        sigaddset(&blocked, SIGINT);
        if (use_pselect)
            sigprocmask(SIG_BLOCK, &blocked, &wait_mask);
        sigdelset(&wait_mask, SIGINT);
        for (size_t next = 1;;) {
            fd_set in;
            FD_ZERO(&in);
            FD_SET(0, &in);
            int r;
            if (use_pselect) {
                timespec timeout{5, 0};
                r = pselect(1, &in, nullptr, nullptr, &timeout, &wait_mask);
            } else {
                timeval timeout{5, 0};
                r = select(1, &in, nullptr, nullptr, &timeout);
            }
            if (r < 0) {
                std::printf(errno == EINTR ? "interrupted\n" : "wait failed: %s\n",
                            std::strerror(errno));
                break;
            }
            if (r > 0) {
                std::printf("input\n");
                break;
            }
            if (next >= crtcs.size())
                next = 0;
            if (drmModeSetCrtc(fd, crtcs[next], fb, 0, 0, &connector, 1, &mode)) {
                std::printf("setcrtc failed: %s\n", std::strerror(errno));
                break;
            }
            std::printf("timeout, crtc %zu\n", next);
            ++next;
        }
    }
    drmModeRmFB(fd, fb);
    drm_mode_destroy_dumb destroy{};
    destroy.handle = create.handle;
    drmIoctl(fd, DRM_IOCTL_MODE_DESTROY_DUMB, &destroy);
    close(fd);
    std::printf("done\n");
    return 0;
}
