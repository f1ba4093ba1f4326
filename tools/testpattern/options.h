// SPDX-License-Identifier: MIT
// Command line of the testpattern tool.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "pixel_formats.h"
#include "test_pattern.h"

struct TestpatternOptions {
    pattern::TestPattern pattern = pattern::TestPattern::smpte;
    const pattern::PixelFormatInfo *format = nullptr; // XR24 unless --format says otherwise
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t stride = 0; // the tightest stride unless --stride says otherwise
    uint8_t fill = 0x00;
    bool png = false;
    std::string output; // a file name, or "-" for standard output
};

// What the command line asks for when it is not a drawing.
struct ShowHelp {};
struct ShowVersion {};
struct UsageError {
    std::string message; // one line, without the program name
};

using ParsedCommandLine = std::variant<TestpatternOptions, ShowHelp, ShowVersion, UsageError>;

ParsedCommandLine parse_testpattern_options(int argc, const char *const argv[]);

// Bytes the tool allocates for the picture: the raw planes, plus the RGB
// copy a PNG is made from.
uint64_t picture_bytes(const TestpatternOptions &options);

// The --help text, ending in a newline.
std::string testpattern_help();

// Every pattern or format name, separated by ", ".
std::string valid_pattern_names();
std::string valid_format_names();
