// SPDX-License-Identifier: MIT
// Writes 8-bit RGB pixels as a PNG file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

// Largest width and height a PNG may have here: libpng's default limits,
// which its readers apply too, so that every file written can be read back.
inline constexpr uint32_t png_rgb8_max_side = 1000000;

// rgb: width x height x 3 bytes, rows top to bottom. compression_level is
// zlib's (-1: libpng's default; 1: fastest). Returns false and sets `error`
// when libpng or the stream fails; a failed write gives the system's reason
// ("No space left on device").
bool write_png_rgb8(std::FILE *out, std::span<const uint8_t> rgb, uint32_t width, uint32_t height,
                    std::string &error, int compression_level = -1);
