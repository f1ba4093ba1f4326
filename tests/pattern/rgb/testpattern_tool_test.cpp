// SPDX-License-Identifier: MIT
// The testpattern tool, run as a program: exit statuses, messages, raw
// output sizes and bytes, PNG output read back with libpng; and its pixel
// conversions called directly.
#include <gtest/gtest.h>

#include <png.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "options.h"
#include "render.h"
#include "to_rgb8.h"

#if !defined(TESTPATTERN_BINARY) || !defined(UNSANITIZED_TESTPATTERN_BINARY)
#error "TESTPATTERN_BINARY and UNSANITIZED_TESTPATTERN_BINARY must name built testpattern programs"
#endif

using namespace pattern;

namespace {

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string temp_path(const std::string &name) {
    return testing::TempDir() + "testpattern_tool_test_" + std::to_string(getpid()) + "_" + name;
}

struct RunResult {
    int status;
    std::string out;
    std::string err;
};

// Runs `binary` with `args` (already shell-quoted where needed), after the
// shell command `setup` if there is one.
RunResult run_program(const char *binary, const std::string &args, const std::string &setup = "") {
    const std::string out = temp_path("stdout"), err = temp_path("stderr");
    const std::string command = (setup.empty() ? "" : setup + " && ") + "'" + binary + "' " + args +
                                " >'" + out + "' 2>'" + err + "'";
    const int raw = std::system(command.c_str());
    if (raw == -1 || !WIFEXITED(raw))
        throw std::runtime_error("could not run " + command);
    RunResult result{WEXITSTATUS(raw), read_file(out), read_file(err)};
    std::remove(out.c_str());
    std::remove(err.c_str());
    return result;
}

RunResult run_tool(const std::string &args) {
    return run_program(TESTPATTERN_BINARY, args);
}

// The tool with its address space limited to about 195 MiB, far below the
// pictures asked for below, so that whatever they allocate fails at once.
// The build without sanitizers: AddressSanitizer cannot start under such a
// limit, and its allocator aborts where the plain one throws.
RunResult run_tool_in_little_memory(const std::string &args) {
    return run_program(UNSANITIZED_TESTPATTERN_BINARY, args, "ulimit -v 200000");
}

TEST(TestpatternTool, TheProgramExists) {
    // Everything below needs the built program; say so plainly when missing.
    for (const char *binary : {TESTPATTERN_BINARY, UNSANITIZED_TESTPATTERN_BINARY})
        ASSERT_EQ(access(binary, X_OK), 0) << binary << " is not runnable";
}

TEST(TestpatternTool, RefusesBadCommandLines) {
    const struct {
        std::string args;
        int status;
        std::vector<std::string> stderr_has;
    } cases[] = {
        {"--pattern foo --size 2x2 --output -",
         2,
         {"unknown pattern 'foo'", "tiles, plain, smpte, gradient"}},
        {"--pattern SMPTE --size 2x2 --output -", 2, {"unknown pattern 'SMPTE'"}},
        {"--pattern '' --size 2x2 --output -", 2, {"unknown pattern ''"}},
        {"--format XR25 --size 2x2 --output -", 2, {"unknown format 'XR25'", "C8, UYVY", "AB4H"}},
        {"--format xr24 --size 2x2 --output -", 2, {"unknown format 'xr24'"}},
        {"--format '' --size 2x2 --output -", 2, {"unknown format ''"}},
        {"--size 0x5 --output -", 2, {"bad size '0x5'"}},
        {"--size 5x0 --output -", 2, {"bad size '5x0'"}},
        {"--size 10 --output -", 2, {"bad size '10'"}},
        {"--size 10x --output -", 2, {"bad size '10x'"}},
        {"--size -3x4 --output -", 2, {"bad size '-3x4'"}},
        {"--size 4x4x4 --output -", 2, {"bad size '4x4x4'"}},
        {"--size 99999999999x1 --output -", 2, {"bad size"}},
        {"--size 2x2 --stride 7 --output -", 2, {"stride 7 is below the tightest stride 8"}},
        {"--format AR4H --size 3x2 --stride 23 --output -", 2, {"below the tightest stride 24"}},
        {"--size 2x2 --stride x --output -", 2, {"bad stride 'x'"}},
        {"--size 2x2 --fill 256 --output -", 2, {"bad fill byte '256'"}},
        {"--size 2x2 --fill 0x100 --output -", 2, {"bad fill byte '0x100'"}},
        {"--size 2x2 --fill zz --output -", 2, {"bad fill byte 'zz'"}},
        {"--size 2x2", 2, {"missing --output"}},
        {"--output -", 2, {"missing --size"}},
        {"--size 2x2 --output - --colour red", 2, {"unknown option '--colour'"}},
        {"--size", 2, {"option --size needs a value"}},
        {"--format AR4H --size 100000x100000 --output -", 2, {"larger than"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args);
        const RunResult r = run_tool(c.args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("testpattern: ", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        for (const std::string &text : c.stderr_has)
            EXPECT_NE(r.err.find(text), std::string::npos) << r.err;
    }
}

TEST(TestpatternTool, UnwritableOutputIsAnIoErrorWithTheSystemsReason) {
    const struct {
        std::string args, output;
        int error;
    } cases[] = {
        {"--size 2x2", "/nonexistent-dir/out.raw", ENOENT},
        {"--size 2x2 --png", "/nonexistent-dir/out.png", ENOENT},
        {"--size 2x2", "/dev/full", ENOSPC},
        // Small enough for the PNG to sit in stdio's buffer until the end.
        {"--size 2x2 --png", "/dev/full", ENOSPC},
        // A PNG of 6.5 kB: writes fail inside libpng.
        {"--pattern tiles --size 1024x256 --png", "/dev/full", ENOSPC},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args + " " + c.output);
        const RunResult r = run_tool(c.args + " --output " + c.output);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err,
                  "testpattern: cannot write '" + c.output + "': " + std::strerror(c.error) + "\n");
    }
}

// Refusals come from the command line alone: nothing is allocated (the
// address space is too small for any of these pictures) and no file is
// created.
TEST(TestpatternTool, PicturesOverTheLimitsAreRefusedBeforeTheOutputIsCreated) {
    const std::string path = temp_path("refused.png");
    std::remove(path.c_str());
    const struct {
        std::string args, message;
    } cases[] = {
        {"--size 1000001x1 --png",
         "size 1000001x1 is too large for a PNG: width and height may be at most 1000000"},
        {"--format C8 --size 1x1000001 --png", "size 1x1000001 is too large for a PNG"},
        {"--format C8 --size 2147483648x1 --png", "size 2147483648x1 is too large for a PNG"},
        // 3200000000 bytes of planes fit the cap; with the RGB copy they do not.
        {"--size 40000x20000 --png",
         "picture of 5600000000 bytes (planes and the PNG's RGB copy) is larger than the "
         "4294967296 bytes"},
        {"--format NV12 --size 50000x40000 --png", "picture of 9000000000 bytes"},
        // One row or one column past the 4 GiB cap.
        {"--format C8 --size 65536x65537", "picture of 4295032832 bytes is larger than the"},
        {"--format C8 --size 32769x32768 --png", "picture of 4295098368 bytes (planes and"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args);
        const RunResult r = run_tool_in_little_memory(c.args + " --output '" + path + "'");
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err.rfind("testpattern: " + c.message, 0), 0u) << r.err;
        EXPECT_NE(access(path.c_str(), F_OK), 0) << "the output was created";
        std::remove(path.c_str());
    }
}

TEST(TestpatternTool, RunningOutOfMemoryIsReported) {
    const struct {
        std::string args, bytes;
    } cases[] = {
        {"--size 8192x8192", "268435456"},
        // The 64 MiB of planes fit; the 192 MiB RGB copy does not.
        {"--format C8 --size 8192x8192 --png", "268435456"},
        // Exactly at the 4 GiB cap, with and without the RGB copy: allowed.
        {"--format C8 --size 65536x65536", "4294967296"},
        {"--format C8 --size 32768x32768 --png", "4294967296"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args);
        const RunResult r = run_tool_in_little_memory(c.args + " --output /dev/null");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "testpattern: not enough memory for a picture of " + c.bytes + " bytes\n");
    }
}

TEST(TestpatternTool, TheOutputIsOpenedBeforeDrawing) {
    // Drawing would run out of memory; the path is refused first.
    const RunResult r = run_tool_in_little_memory("--size 8192x8192 --output /nonexistent-dir/x");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "testpattern: cannot write '/nonexistent-dir/x': No such file or directory\n");
}

TEST(TestpatternTool, HelpDocumentsTheInterfaceAndPlaneSizes) {
    const RunResult r = run_tool("--help");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    for (const char *text :
         {"Usage: testpattern", "--pattern NAME", "--format NAME", "--size WxH", "--stride N",
          "--fill BYTE", "--png", "--output FILE", "ceil(H/2) x S", "ceil(H/2) x floor(S/2)",
          "1 byte more", "BT.601", "XR4H", "at most 1000000 each with --png",
          "exceed\n4294967296 bytes", "not enough memory for a picture of N bytes"})
        EXPECT_NE(r.out.find(text), std::string::npos) << text;
}

TEST(TestpatternTool, RawOutputSizes) {
    const struct {
        std::string args;
        size_t bytes;
    } cases[] = {
        {"--size 7x3", 7 * 4 * 3},
        {"--size 7x3 --stride 40", 40 * 3},
        {"--format RG24 --size 5x2", 5 * 3 * 2},
        {"--format C8 --size 14x9 --stride 16", 16 * 9},
        {"--format YUYV --size 8x2", 8 * 2 * 2},
        {"--format AR4H --size 3x2", 3 * 8 * 2},
        {"--format NV12 --size 8x5", 8 * 5 + 3 * 8},
        {"--format NV21 --size 7x5", 7 * 5 + 3 * 7 + 1},
        {"--format NV16 --size 8x5", 8 * 5 + 5 * 8},
        {"--format NV61 --size 8x5 --stride 10", 10 * 5 + 5 * 10},
        {"--format YU12 --size 8x5", 8 * 5 + 2 * (3 * 4)},
        {"--format YV12 --size 7x5", 7 * 5 + 2 * (3 * 3 + 1)},
        {"--format YU12 --size 8x4 --stride 11", 11 * 4 + 2 * (2 * 5)},
        {"--pattern plain --format NV12 --size 4x4", 16 + 2 * 4},
        {"--pattern gradient --format RG16 --size 4x4", 4 * 2 * 4},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args);
        const RunResult r = run_tool(c.args + " --output -");
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out.size(), c.bytes);
    }
}

std::vector<uint8_t> bytes_of(const std::string &s) {
    return {s.begin(), s.end()};
}

TEST(TestpatternTool, RawBytes) {
    // XR24, two columns, stride 12 with fill 0xEE: each row is two pixels
    // least significant byte first, then four untouched fill bytes.
    const RunResult xr24 = run_tool("--size 2x1 --stride 12 --fill 0xEE --output -");
    ASSERT_EQ(xr24.status, 0) << xr24.err;
    EXPECT_EQ(bytes_of(xr24.out), (std::vector<uint8_t>{0x4C, 0x21, 0x00, 0x00, 0x13, 0x13, 0x13,
                                                        0x00, 0xEE, 0xEE, 0xEE, 0xEE}));

    // Plain fill writes the luma plane only; the chroma plane shows the fill.
    const RunResult plain =
        run_tool("--pattern plain --format NV12 --size 4x2 --fill 17 --output -");
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(bytes_of(plain.out), (std::vector<uint8_t>{0x77, 0x77, 0x77, 0x77, 0x77, 0x77, 0x77,
                                                         0x77, 17, 17, 17, 17}));

    // YV12 planes in buffer order: luma, plane 1 (Cr), plane 2 (Cb).
    const RunResult yv12 = run_tool("--format YV12 --size 8x2 --output -");
    ASSERT_EQ(yv12.status, 0) << yv12.err;
    EXPECT_EQ(bytes_of(yv12.out),
              (std::vector<uint8_t>{181, 181, 162, 132, 113, 84,  66,  35,  40,  40,  235, 39,
                                    32,  24,  32,  32,  111, 128, 128, 128, 152, 128, 128, 128}));
}

TEST(TestpatternTool, StandardOutputAndFileAgree) {
    const std::string path = temp_path("agree.raw");
    const RunResult to_file =
        run_tool("--pattern tiles --format AR30 --size 33x7 --output '" + path + "'");
    ASSERT_EQ(to_file.status, 0) << to_file.err;
    EXPECT_EQ(to_file.out, "");
    const RunResult to_stdout = run_tool("--pattern tiles --format AR30 --size 33x7 --output -");
    EXPECT_EQ(read_file(path), to_stdout.out);
    EXPECT_EQ(to_stdout.out.size(), 33u * 4 * 7);
    std::remove(path.c_str());
}

struct DecodedPng {
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> rgb;
};

// Reads an 8-bit RGB PNG; fails the test if it is anything else.
DecodedPng read_png(const std::string &path) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    DecodedPng png;
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        ADD_FAILURE() << "not a PNG: " << image.message;
        return png;
    }
    EXPECT_EQ(image.format, PNG_FORMAT_RGB) << "expected 8-bit RGB without alpha";
    image.format = PNG_FORMAT_RGB;
    png.width = image.width;
    png.height = image.height;
    png.rgb.resize(PNG_IMAGE_SIZE(image));
    EXPECT_TRUE(png_image_finish_read(&image, nullptr, png.rgb.data(), 0, nullptr))
        << image.message;
    png_image_free(&image);
    return png;
}

TEST(TestpatternTool, PngOutput) {
    const struct {
        std::string args;
        uint32_t x, y;
        Rgb8 expected;
    } cases[] = {
        {"--size 14x9", 0, 0, {192, 192, 192}},
        {"--size 14x9", 3, 7, {255, 255, 255}},
        {"--size 14x9", 0, 7, {0, 33, 76}},
        {"--format C8 --size 14x9", 5, 7, {50, 0, 106}},
        {"--format C8 --size 14x9", 12, 7, {19, 19, 19}},
        {"--format XR30 --size 14x9", 0, 0, {192, 192, 192}},
        {"--format RG16 --size 14x9", 0, 0, {198, 195, 198}}, // 5/6/5 bits expanded
        {"--format AR12 --size 14x9", 3, 7, {255, 255, 255}},
        {"--format AR4H --size 14x9", 2, 0, {192, 192, 0}},
        {"--format XB4H --size 14x9", 3, 7, {255, 255, 255}},
        {"--format BG24 --size 14x9", 5, 7, {50, 0, 106}},
        {"--format YUYV --size 14x9", 0, 0, {192, 192, 192}},
        {"--format NV12 --size 14x9", 4, 7, {255, 255, 255}},
        // Odd height: the last chroma row is not drawn and keeps the fill 0.
        {"--format NV12 --size 14x9", 4, 8, {50, 255, 0}},
        {"--format YV12 --size 14x9", 0, 0, {192, 192, 192}},
        {"--pattern plain --format XR24 --size 4x4", 1, 1, {0x77, 0x77, 0x77}},
    };
    const std::string path = temp_path("out.png");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args);
        const RunResult r = run_tool(c.args + " --png --output '" + path + "'");
        ASSERT_EQ(r.status, 0) << r.err;
        const DecodedPng png = read_png(path);
        ASSERT_GT(png.width, c.x);
        ASSERT_GT(png.height, c.y);
        const uint8_t *p = png.rgb.data() + (size_t{c.y} * png.width + c.x) * 3;
        EXPECT_EQ(p[0], c.expected.r);
        EXPECT_EQ(p[1], c.expected.g);
        EXPECT_EQ(p[2], c.expected.b);
    }
    const RunResult odd = run_tool("--format UYVY --size 5x3 --png --output '" + path + "'");
    ASSERT_EQ(odd.status, 0) << odd.err;
    const DecodedPng png = read_png(path);
    EXPECT_EQ(png.width, 5u);
    EXPECT_EQ(png.height, 3u);
    std::remove(path.c_str());
}

TEST(TestpatternTool, PngToStandardOutput) {
    const RunResult r = run_tool("--size 3x2 --png --output -");
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_GE(r.out.size(), 8u);
    EXPECT_EQ(r.out.substr(1, 3), "PNG");
}

TEST(TestpatternTool, APngAtTheSizeLimitIsWritten) {
    const std::string path = temp_path("widest.png");
    for (const char *size : {"1000000x1", "1x1000000"}) {
        SCOPED_TRACE(size);
        const RunResult r = run_tool_in_little_memory("--format C8 --size " + std::string(size) +
                                                      " --png --output '" + path + "'");
        ASSERT_EQ(r.status, 0) << r.err;
        const auto png = read_png(path);
        EXPECT_EQ(png.width * png.height, 1000000u);
        EXPECT_EQ(std::max(png.width, png.height), 1000000u);
    }
    std::remove(path.c_str());
}

// Every pattern in every format at awkward sizes converts without reading
// outside the planes (the sanitizers watch) and with the right image size.
TEST(TestpatternConversion, EveryFormatAndPattern) {
    for (const PixelFormatInfo &format : pixel_format_table) {
        for (uint32_t p = 0; p < 4; ++p) {
            for (const auto &[width, height] :
                 {std::pair{1u, 1u}, {5u, 3u}, {14u, 9u}, {33u, 17u}}) {
                TestpatternOptions options;
                options.pattern = static_cast<TestPattern>(p);
                options.format = &format;
                options.width = width;
                options.height = height;
                options.stride = static_cast<uint32_t>(tightest_stride(format, width));
                options.fill = 0x5A;
                const RenderedPicture picture = render_test_pattern(options);
                EXPECT_EQ(picture_to_rgb8(picture).size(), size_t{width} * height * 3)
                    << format.name << " " << p;
            }
        }
    }
}

TEST(TestpatternConversion, ComponentsTo8Bits) {
    const struct {
        uint32_t value, length;
        uint8_t expected;
    } cases[] = {
        {0x18, 5, 0xC6}, {31, 5, 255},   {0, 5, 0},       {63, 6, 255},
        {0x30, 6, 0xC3}, {771, 10, 192}, {1023, 10, 255}, {0xF, 4, 0xFF},
        {0xC, 4, 0xCC},  {1, 1, 255},    {2, 2, 0xAA},    {0xC0, 8, 0xC0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(component_to_8bit(c.value, c.length), c.expected) << c.value << "/" << c.length;

    const struct {
        uint16_t half;
        uint8_t expected;
    } halves[] = {{0x3A00, 192}, {0x3BF8, 255}, {0x2CC0, 19}, {0x0000, 0}, {0x3C00, 255},
                  {0xBC00, 0},   {0x7C00, 255}, {0x2880, 9},  {0x0001, 0}};
    for (const auto &h : halves)
        EXPECT_EQ(half_to_8bit(h.half), h.expected) << std::hex << h.half;
}

TEST(TestpatternConversion, Yuv601ToRgb) {
    const struct {
        uint8_t y, cb, cr;
        Rgb8 expected;
    } cases[] = {
        {16, 128, 128, {0, 0, 0}},        {235, 128, 128, {255, 255, 255}},
        {181, 128, 128, {192, 192, 192}}, {32, 128, 128, {19, 19, 19}},
        {0, 0, 0, {0, 135, 0}},           {255, 255, 255, {255, 125, 255}},
    };
    for (const auto &c : cases) {
        const Rgb8 rgb = yuv601_to_rgb(c.y, c.cb, c.cr);
        EXPECT_EQ(rgb.r, c.expected.r) << int{c.y} << " " << int{c.cb} << " " << int{c.cr};
        EXPECT_EQ(rgb.g, c.expected.g) << int{c.y} << " " << int{c.cb} << " " << int{c.cr};
        EXPECT_EQ(rgb.b, c.expected.b) << int{c.y} << " " << int{c.cb} << " " << int{c.cr};
    }
}

} // namespace
