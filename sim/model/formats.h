// Pixel formats the simulated device knows: enough layout to check
// framebuffer pitches and sizes as the kernel does, and to turn a few
// common RGB layouts into colours for snapshots.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace drmsim {

// How snapshot code turns one pixel into 0xRRGGBB.
enum class Decoder : uint8_t {
    none,        // not decoded: shown as grey
    xrgb8888,    // bytes B G R X
    xbgr8888,    // bytes R G B X
    rgbx8888,    // bytes X B G R
    bgrx8888,    // bytes X R G B
    rgb888,      // bytes B G R
    bgr888,      // bytes R G B
    rgb565,      // 16-bit word R:G:B 5:6:5
    xrgb1555,    // 16-bit word X:R:G:B 1:5:5:5
    xrgb2101010, // 32-bit word X:R:G:B 2:10:10:10
};

struct FormatInfo {
    uint32_t fourcc;
    uint8_t num_planes;
    uint8_t cpp[3]; // bytes per pixel in each plane
    uint8_t hsub;   // horizontal chroma subsampling
    uint8_t vsub;   // vertical chroma subsampling
    bool has_alpha;
    Decoder decoder;
};

constexpr uint32_t fourcc(char a, char b, char c, char d) {
    return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 |
           uint32_t(uint8_t(d)) << 24;
}

const FormatInfo *find_format(uint32_t fourcc);
std::span<const FormatInfo> known_formats();

// "XR24" for 0x34325258; non-printable codes as hex.
std::string fourcc_name(uint32_t code);
// Parses a four-character code; nullopt unless it is exactly four chars.
std::optional<uint32_t> parse_fourcc(std::string_view text);

// Reads one pixel at `p` (which holds cpp[0] bytes) as 0xRRGGBB plus alpha
// 0..255 in the top byte (255 for formats without alpha).
uint32_t decode_pixel(const FormatInfo &info, const uint8_t *p);

} // namespace drmsim
