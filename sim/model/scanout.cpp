// SPDX-License-Identifier: MIT
// What a CRTC shows: its planes composed at the mode's size.
#include <algorithm>

#include "device.h"
#include "drmsim.h"

namespace drmsim {
namespace {

uint32_t blend(uint32_t below, uint32_t above) {
    // Premultiplied alpha, the kernel's default "pixel blend mode".
    uint32_t a = above >> 24;
    if (a == 255)
        return above & 0xffffff;
    uint32_t out = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        uint32_t s = (above >> shift) & 0xff, d = (below >> shift) & 0xff;
        out |= std::min<uint32_t>(255, s + d * (255 - a) / 255) << shift;
    }
    return out;
}

// Draws the 16.16 source rectangle of `fb` scaled into the destination
// rectangle of `picture`, nearest pixel; C8 pixels through `palette`.
void draw(Picture &picture, const Framebuffer &fb, const std::array<uint32_t, 4> &src,
          int64_t dst_x, int64_t dst_y, uint64_t dst_w, uint64_t dst_h,
          const ColorTable &palette) {
    if (!dst_w || !dst_h || !fb.buffers[0])
        return;
    const FormatInfo &info = *fb.info;
    PlaneBytes planes;
    for (unsigned i = 0; i < info.num_planes && i < 3; ++i) {
        if (!fb.buffers[i])
            return;
        auto bytes = fb.buffers[i]->bytes();
        planes.bytes[i] = fb.offsets[i] < bytes.size()
                              ? std::span<const uint8_t>(bytes).subspan(fb.offsets[i])
                              : std::span<const uint8_t>();
        planes.pitches[i] = fb.pitches[i];
    }
    for (int64_t y = std::max<int64_t>(0, dst_y);
         y < std::min<int64_t>(picture.height, dst_y + int64_t(dst_h)); ++y) {
        uint64_t sy = (uint64_t(src[1]) + uint64_t(y - dst_y) * src[3] / dst_h) >> 16;
        for (int64_t x = std::max<int64_t>(0, dst_x);
             x < std::min<int64_t>(picture.width, dst_x + int64_t(dst_w)); ++x) {
            uint64_t sx = (uint64_t(src[0]) + uint64_t(x - dst_x) * src[2] / dst_w) >> 16;
            if (sx >= fb.width || sy >= fb.height)
                continue;
            uint32_t &px = picture.pixels[size_t(y) * picture.width + size_t(x)];
            px = blend(px, decode_pixel(info, planes, uint32_t(sx), uint32_t(sy), palette));
        }
    }
}

} // namespace

Picture Device::compose(unsigned index) const {
    Picture picture;
    const Crtc &crtc = crtcs_.at(index);
    if (!crtc.active || crtc.switched_off)
        return picture;
    picture.width = crtc.mode.hdisplay;
    picture.height = crtc.mode.vdisplay;
    picture.pixels.assign(size_t(picture.width) * picture.height, 0);
    const ColorTable palette{crtc.gamma_red, crtc.gamma_green, crtc.gamma_blue};
    if (crtc.primary_plane < 0 && crtc.fb) {
        draw(picture, *crtc.fb,
             {crtc.x << 16, crtc.y << 16, picture.width << 16, picture.height << 16}, 0, 0,
             picture.width, picture.height, palette);
    }
    // Primary plane at the bottom, then the others in the order listed.
    std::vector<const Plane *> order;
    if (crtc.primary_plane >= 0)
        order.push_back(&planes_[size_t(crtc.primary_plane)]);
    for (size_t i = 0; i < planes_.size(); ++i)
        if (int(i) != crtc.primary_plane)
            order.push_back(&planes_[i]);
    for (const Plane *p : order)
        if (p->crtc == int(index) && p->fb)
            draw(picture, *p->fb, p->src, p->crtc_x, p->crtc_y, p->crtc_w, p->crtc_h, palette);
    return picture;
}

} // namespace drmsim
