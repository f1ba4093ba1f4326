// SPDX-License-Identifier: MIT
#include "options.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "plane_layout.h"
#include "png_rgb8.h"

using namespace pattern;

namespace {

constexpr uint32_t pattern_count = 4;

// Decimal, or hexadecimal with a 0x prefix; the whole text must be a number
// no larger than `max`. Leading zeros are decimal, never octal.
bool parse_number(const std::string &text, uint64_t max, uint64_t &value) {
    // strtoull would accept a sign or leading blanks; a count may not have them.
    auto starts_like_a_number = [](const char *p) {
        return std::isxdigit(static_cast<unsigned char>(*p)) != 0;
    };
    int base = 10;
    const char *digits = text.c_str();
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        digits += 2;
    }
    if (!starts_like_a_number(digits))
        return false;
    char *end = nullptr;
    errno = 0;
    const unsigned long long parsed = std::strtoull(digits, &end, base);
    if (errno != 0 || end == digits || *end != '\0' || parsed > max)
        return false;
    value = parsed;
    return true;
}

bool parse_size(const std::string &text, uint32_t &width, uint32_t &height) {
    const size_t x = text.find('x');
    if (x == std::string::npos)
        return false;
    uint64_t w = 0, h = 0;
    const std::string w_text = text.substr(0, x), h_text = text.substr(x + 1);
    // Sizes are plain decimals.
    if (w_text.find_first_not_of("0123456789") != std::string::npos ||
        h_text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    if (!parse_number(w_text, UINT32_MAX, w) || !parse_number(h_text, UINT32_MAX, h))
        return false;
    if (w == 0 || h == 0)
        return false;
    width = static_cast<uint32_t>(w);
    height = static_cast<uint32_t>(h);
    return true;
}

// Largest memory the tool allocates for a picture, all buffers together.
constexpr uint64_t max_buffer_bytes = uint64_t{4} << 30;

} // namespace

std::string valid_pattern_names() {
    std::string names;
    for (uint32_t i = 0; i < pattern_count; ++i)
        names += std::string(i ? ", " : "") + pattern_name(static_cast<TestPattern>(i));
    return names;
}

std::string valid_format_names() {
    std::string names;
    for (const PixelFormatInfo &row : pixel_format_table)
        names += std::string(names.empty() ? "" : ", ") + row.name;
    return names;
}

ParsedCommandLine parse_testpattern_options(int argc, const char *const argv[]) {
    TestpatternOptions options;
    options.format = find_pixel_format(fourcc_code('X', 'R', '2', '4'));
    bool have_size = false, have_output = false;
    std::string stride_text;

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h")
            return ShowHelp{};
        if (arg == "--version")
            return ShowVersion{};
        if (arg == "--png") {
            options.png = true;
            continue;
        }
        const bool takes_value = arg == "--pattern" || arg == "--format" || arg == "--size" ||
                                 arg == "--stride" || arg == "--fill" || arg == "--output";
        if (!takes_value)
            return UsageError{"unknown option '" + arg + "' (see --help)"};
        if (i + 1 >= argc)
            return UsageError{"option " + arg + " needs a value"};
        const std::string value = argv[++i];

        if (arg == "--pattern") {
            bool found = false;
            for (uint32_t p = 0; p < pattern_count && !found; ++p) {
                if (value == pattern_name(static_cast<TestPattern>(p))) {
                    options.pattern = static_cast<TestPattern>(p);
                    found = true;
                }
            }
            if (!found)
                return UsageError{"unknown pattern '" + value +
                                  "'; valid patterns: " + valid_pattern_names()};
        } else if (arg == "--format") {
            const PixelFormatInfo *format =
                find_pixel_format(pixel_format_from_name(value.c_str()));
            if (format == nullptr || value.empty())
                return UsageError{"unknown format '" + value +
                                  "'; valid formats: " + valid_format_names()};
            options.format = format;
        } else if (arg == "--size") {
            if (!parse_size(value, options.width, options.height))
                return UsageError{"bad size '" + value +
                                  "': expected WxH with decimal width and height of at least 1"};
            have_size = true;
        } else if (arg == "--stride") {
            stride_text = value;
        } else if (arg == "--fill") {
            uint64_t fill = 0;
            if (!parse_number(value, 0xFF, fill))
                return UsageError{"bad fill byte '" + value +
                                  "': expected 0 to 255 or 0x00 to 0xFF"};
            options.fill = static_cast<uint8_t>(fill);
        } else { // --output
            if (value.empty())
                return UsageError{"empty output file name"};
            options.output = value;
            have_output = true;
        }
    }

    if (!have_size)
        return UsageError{"missing --size WxH"};
    if (!have_output)
        return UsageError{"missing --output FILE (or - for standard output)"};

    const uint64_t tightest = tightest_stride(*options.format, options.width);
    if (tightest > UINT32_MAX)
        return UsageError{"width " + std::to_string(options.width) + " is too large for format " +
                          options.format->name};
    if (stride_text.empty()) {
        options.stride = static_cast<uint32_t>(tightest);
    } else {
        uint64_t stride = 0;
        if (!parse_number(stride_text, UINT32_MAX, stride))
            return UsageError{"bad stride '" + stride_text + "': expected a byte count"};
        if (stride < tightest)
            return UsageError{"stride " + std::to_string(stride) +
                              " is below the tightest stride " + std::to_string(tightest) + " of " +
                              std::to_string(options.width) + " pixels of " + options.format->name};
        options.stride = static_cast<uint32_t>(stride);
    }

    // Refused here, before the output is created and the picture drawn.
    if (options.png && (options.width > png_rgb8_max_side || options.height > png_rgb8_max_side))
        return UsageError{"size " + std::to_string(options.width) + "x" +
                          std::to_string(options.height) +
                          " is too large for a PNG: width and height may be at most " +
                          std::to_string(png_rgb8_max_side)};
    const uint64_t total = picture_bytes(options);
    if (total > max_buffer_bytes)
        return UsageError{"picture of " + std::to_string(total) + " bytes" +
                          (options.png ? " (planes and the PNG's RGB copy)" : "") +
                          " is larger than the " + std::to_string(max_buffer_bytes) +
                          " bytes this tool allocates"};
    return options;
}

uint64_t picture_bytes(const TestpatternOptions &options) {
    const PlaneLayout layout =
        plane_layout(*options.format, options.width, options.height, options.stride);
    const uint64_t planes = layout.bytes[0] + layout.bytes[1] + layout.bytes[2];
    const uint64_t rgb = options.png ? uint64_t{options.width} * options.height * 3 : 0;
    return planes + rgb;
}

std::string testpattern_help() {
    return R"(Usage: testpattern [--pattern NAME] [--format NAME] --size WxH [--stride N]
                   [--fill BYTE] [--png] --output FILE|-

Draws a test pattern into a buffer of the given pixel format and writes the
buffer's raw planes, or the picture as a PNG, to FILE or standard output (-).

Options:
  --pattern NAME  tiles, plain, smpte or gradient (default smpte)
  --format NAME   pixel format, one of:
                  )" +
           valid_format_names() + R"(
                  (default XR24)
  --size WxH      picture width and height in pixels, decimal, at least 1;
                  at most )" +
           std::to_string(png_rgb8_max_side) + R"( each with --png (libpng's limit)
  --stride N      bytes from one row of plane 0 to the next (default: the
                  tightest, width x bytes per pixel of plane 0: 1 for C8 and
                  the luma plane of NV12/NV21/NV16/NV61/YU12/YV12, 2 for the
                  packed YUV and 16-bit RGB formats, 3 for RG24/BG24, 4 for
                  the 32-bit formats, 8 for the half-float formats); may not
                  be smaller than that
  --fill BYTE     value every byte of the buffer holds before drawing, so
                  that bytes the pattern leaves alone stay visible; decimal or
                  0xNN (default 0x00)
  --png           write an 8-bit RGB PNG instead of the raw planes
  --output FILE   where to write; - for standard output
  --help, -h      this text
  --version       the program's version

Raw output, H = height, S = stride:
  plane 0: H x S bytes, for every format;
  then, for NV12, NV21 (4:2:0): one chroma plane of ceil(H/2) x S bytes;
        for NV16, NV61 (4:2:2): one chroma plane of H x S bytes;
        for YU12, YV12: two chroma planes (YU12: Cb then Cr; YV12: Cr then
        Cb) of ceil(H/2) x floor(S/2) bytes each;
  each chroma plane has 1 byte more when the width is odd, since a chroma
  row of an odd width reaches half a pixel past the right edge.
  Other formats have plane 0 only.

PNG output: 8-bit RGB, alpha and X bits ignored. Components of fewer than 8
bits are expanded by repeating their bits, 10-bit components keep their top 8
bits, half-float components c become round(c x 256) capped at 255 (the inverse
of the generator's c/256). C8 indices go through the SMPTE palette (indices
from 22 on are black). YUV is converted from limited-range BT.601, each pixel
taking the chroma sample of its block; the unpaired last pixel of an odd-width
packed row takes 128 for the chroma byte its pair lacks.

Limits: the buffers of one picture, the raw planes plus, with --png, the
width x height x 3 bytes of RGB the PNG is made from, may not exceed
)" + std::to_string(max_buffer_bytes) +
           R"( bytes (4 GiB) together. Both limits are checked before the output
is created; the output is opened before drawing starts.

Exit status: 0 on success, 1 when the output cannot be written or memory runs
out ("not enough memory for a picture of N bytes"), 2 for a bad command line
(unknown pattern or format name, bad size, stride or fill, a picture over the
limits).
)";
}
