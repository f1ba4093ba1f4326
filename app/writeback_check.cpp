// SPDX-License-Identifier: MIT
// The writeback check: a captured frame compared with the expected picture (writeback_check.h).
#include "writeback_check.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "kms_text.h"
#include "pixel_formats.h"
#include "png_rgb8.h"

namespace {

constexpr uint32_t kXR24 = pattern::fourcc_code('X', 'R', '2', '4');
constexpr uint32_t kXB24 = pattern::fourcc_code('X', 'B', '2', '4');
constexpr uint32_t kRA24 = pattern::fourcc_code('R', 'A', '2', '4');

// One captured pixel, 4 bytes, as 0xRRGGBB.
uint32_t rgb_of(uint32_t format, const uint8_t *p) {
    switch (format) {
    case kXB24: // R G B X
        return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
    case kRA24: // A B G R
        return uint32_t(p[3]) << 16 | uint32_t(p[2]) << 8 | p[1];
    default: // XR24: B G R X
        return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
    }
}

std::string hex(uint32_t v) {
    char text[9];
    std::snprintf(text, sizeof text, "0x%06" PRIx32, v);
    return text;
}

bool save_png(const std::string &path, const std::vector<uint32_t> &pixels, uint32_t width,
              uint32_t height, std::string &error) {
    std::vector<uint8_t> rgb(pixels.size() * 3);
    for (size_t i = 0; i < pixels.size(); ++i) {
        rgb[i * 3] = uint8_t(pixels[i] >> 16);
        rgb[i * 3 + 1] = uint8_t(pixels[i] >> 8);
        rgb[i * 3 + 2] = uint8_t(pixels[i]);
    }
    std::FILE *out = std::fopen(path.c_str(), "wb");
    if (!out) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    const bool written = write_png_rgb8(out, rgb, width, height, error, 1);
    return std::fclose(out) == 0 && written;
}

} // namespace

std::unique_ptr<WritebackCheck> WritebackCheck::prepare(kms_atomic *atomic,
                                                        const kms_screen &screen,
                                                        const std::vector<uint32_t> &crtcs,
                                                        timespec timeout,
                                                        const std::optional<std::string> &save,
                                                        std::string &error) {
    std::unique_ptr<WritebackCheck> check(new WritebackCheck);
    check->timeout_ = timeout;
    check->save_ = save;
    if (int err = kms_device_find_writebacks(atomic, &check->connectors_); err < 0) {
        error = "--verify=writeback: the device does not list writeback connectors: ";
        error += std::strerror(-err);
        return nullptr;
    }
    if (check->connectors_.empty()) {
        error = "--verify=writeback: the device has no writeback connector";
        return nullptr;
    }
    check->captures_.assign(check->connectors_.size(), nullptr);
    check->jobs_.resize(check->connectors_.size());
    for (uint32_t crtc : crtcs) {
        size_t found = check->connectors_.size();
        for (size_t i = 0; i < check->connectors_.size() && found == check->connectors_.size(); ++i)
            if (check->connectors_[i].possible_crtcs >> crtc & 1)
                found = i;
        if (found == check->connectors_.size()) {
            error = "--verify=writeback: no writeback connector can be fed by CRTC ";
            error += std::to_string(crtc);
            return nullptr;
        }
        check->connector_of_crtc_[crtc] = found;
        if (check->captures_[found])
            continue;
        const kms_writeback &connector = check->connectors_[found];
        uint32_t format = 0;
        for (uint32_t f : connector.formats)
            if (!format && (f == kXR24 || f == kXB24 || f == kRA24))
                format = f;
        if (!format) {
            std::string listed;
            for (uint32_t f : connector.formats) {
                listed += ' ';
                listed += fourcc_text(f);
            }
            error = "--verify=writeback: writeback connector ";
            error += std::to_string(connector.id);
            error += " writes only";
            error += listed;
            error += ", none of XR24 XB24 RA24 that crtc-relay reads";
            return nullptr;
        }
        check->captures_[found] =
            kms_framebuffer_create(atomic->device, screen.width, screen.height, format);
        if (!check->captures_[found]) {
            error = "--verify=writeback: kms_framebuffer_create() failed for a " +
                    fourcc_text(format) + " capture: " + std::strerror(errno);
            return nullptr;
        }
        check->jobs_[found] = {&connector, check->captures_[found], -1};
    }
    return check;
}

WritebackCheck::~WritebackCheck() {
    for (kms_writeback_job &job : jobs_)
        if (job.out_fence >= 0)
            close(job.out_fence);
    for (kms_framebuffer *fb : captures_)
        kms_framebuffer_destroy(fb);
}

kms_writeback_job *WritebackCheck::job(uint32_t crtc) {
    return &jobs_[connector_of_crtc_.at(crtc)];
}

std::string WritebackCheck::check(uint32_t crtc, uint32_t step, const ExpectedPicture &expected) {
    kms_writeback_job &job = *this->job(crtc);
    const std::string name = "CRTC " + std::to_string(crtc);
    if (job.out_fence < 0)
        return "the commit gave no writeback fence for " + name;
    pollfd p{job.out_fence, POLLIN, 0};
    const int timeout_ms = int(timeout_.tv_sec * 1000 + (timeout_.tv_nsec + 999999) / 1000000);
    const int ready = poll(&p, 1, timeout_ms);
    const int err = errno;
    close(job.out_fence);
    job.out_fence = -1;
    if (ready < 0)
        return "cannot wait for the writeback fence of " + name + ": " + std::strerror(err);
    if (ready == 0)
        return "the writeback fence of " + name + " did not signal within " +
               std::to_string(timeout_ms) + " ms";
    return compare(crtc, step, *job.fb, expected);
}

std::string WritebackCheck::compare(uint32_t crtc, uint32_t step, const kms_framebuffer &capture,
                                    const ExpectedPicture &expected) {
    const uint32_t width = expected.width, height = expected.height;
    if (capture.width != width || capture.height != height)
        return "the writeback capture of CRTC " + std::to_string(crtc) + " is " +
               std::to_string(capture.width) + "x" + std::to_string(capture.height) +
               ", the picture " + std::to_string(width) + "x" + std::to_string(height);
    void *map = nullptr;
    if (int err = kms_framebuffer_map(const_cast<kms_framebuffer *>(&capture), &map); err < 0)
        return "cannot map the writeback capture: " + std::to_string(err);
    std::vector<uint32_t> captured(expected.pixels.size());
    const auto *bytes = static_cast<const uint8_t *>(map);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            captured[size_t(y) * width + x] =
                rgb_of(capture.format, bytes + size_t(y) * capture.pitch + size_t(x) * 4);
    kms_framebuffer_unmap(const_cast<kms_framebuffer *>(&capture));

    auto differs = [&](uint32_t a, uint32_t b) {
        for (const int shift : {0, 8, 16})
            if (std::abs(int(a >> shift & 0xff) - int(b >> shift & 0xff)) > expected.tolerance)
                return true;
        return false;
    };
    size_t differing = 0, first = 0;
    for (size_t i = 0; i < captured.size(); ++i)
        if (differs(captured[i], expected.pixels[i]) && differing++ == 0)
            first = i;
    if (differing == 0)
        return {};
    std::string text = "the writeback capture of CRTC " + std::to_string(crtc) + " differs";
    if (expected.tolerance > 0)
        text += " by more than " + std::to_string(expected.tolerance) + " level" +
                (expected.tolerance == 1 ? "" : "s");
    text += " in " + std::to_string(differing) + " of " + std::to_string(captured.size()) +
            " pixels, first at " + std::to_string(first % width) + "," +
            std::to_string(first / width) + ": " + hex(captured[first]) + ", expected " +
            hex(expected.pixels[first]);
    if (save_) {
        const std::string base = *save_ + "/writeback-step" + std::to_string(step);
        std::string error;
        if (save_png(base + "-expected.png", expected.pixels, width, height, error) &&
            save_png(base + "-captured.png", captured, width, height, error))
            text += " (saved as " + base + "-expected.png and -captured.png)";
        else
            text += " (could not save the pictures: " + error + ")";
    }
    return text;
}
