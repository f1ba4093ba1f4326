// SPDX-License-Identifier: MIT
// Pixel formats the simulated device knows, written from the kernel's own
// format definitions (drm_fourcc.h, drm_fourcc.c): the plane layout the
// kernel checks framebuffers with, and where each component of a pixel
// lies, so that snapshots show what a plane of any such format shows.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace drmsim {

// How the bits of a pixel turn into a colour.
enum class Encoding : uint8_t {
    unorm,      // RGB(A) integer components, full scale all ones
    half_float, // RGB(A) IEEE binary16 components
    indexed,    // an index into the CRTC's colour lookup table
    yuv_packed, // two pixels share a 32-bit word of Y0, Y1, Cb, Cr
    yuv_semi,   // luma plane + one plane of 16-bit Cb:Cr words
    yuv_planar, // luma plane + a Cb plane and a Cr plane
};

// One component's place: `bits` wide at bit `shift` of the pixel's word.
struct Component {
    uint8_t shift = 0;
    uint8_t bits = 0; // 0: the format has none
};

struct FormatInfo {
    uint32_t fourcc;
    uint8_t num_planes;
    uint8_t cpp[3]; // bytes per pixel (per chroma sample) in each plane
    uint8_t hsub;   // horizontal chroma subsampling
    uint8_t vsub;   // vertical chroma subsampling
    bool has_alpha;
    Encoding encoding;
    // unorm, half_float: R G B A. yuv_packed: Y0 Y1 Cb Cr in the 32-bit word
    // of a pixel pair; yuv_semi: Cb Cr in the 16-bit word of plane 1;
    // yuv_planar: Cb's plane number in slot 2's shift, Cr's in slot 3's.
    std::array<Component, 4> components;
};

constexpr uint32_t fourcc(char a, char b, char c, char d) {
    return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 |
           uint32_t(uint8_t(d)) << 24;
}

const FormatInfo *find_format(uint32_t fourcc);
std::span<const FormatInfo> known_formats();

// Parses a four-character code; nullopt unless it is exactly four chars.
std::optional<uint32_t> parse_fourcc(std::string_view text);

// A 16-bit colour lookup table as the CRTC holds it (GAMMA_LUT or the
// legacy gamma calls); empty for a CRTC without one.
struct ColorTable {
    std::span<const uint16_t> red, green, blue;
};

// Where a framebuffer's planes lie in memory, for decoding.
struct PlaneBytes {
    std::array<std::span<const uint8_t>, 3> bytes; // each plane's buffer from its offset
    std::array<uint32_t, 3> pitches{};
};

// The pixel at column x, row y as 0xAARRGGBB (alpha 255 for formats
// without); a pixel whose bytes lie outside the buffer is opaque grey.
uint32_t decode_pixel(const FormatInfo &info, const PlaneBytes &planes, uint32_t x, uint32_t y,
                      const ColorTable &palette);

// Whether a writeback capture can be written in `fourcc`, and writes one
// 0xRRGGBB pixel at `p` in it (alpha, where the format has it, opaque).
bool can_capture(uint32_t fourcc);
void encode_capture_pixel(uint32_t fourcc, uint32_t rgb, uint8_t *p);

} // namespace drmsim
