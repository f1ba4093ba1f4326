// Writes 8-bit RGB pixels as a PNG file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// rgb: width x height x 3 bytes, rows top to bottom. Returns false and sets
// `error` when libpng or the stream fails.
bool write_png_rgb8(std::FILE *out, const std::vector<uint8_t> &rgb, uint32_t width,
                    uint32_t height, std::string &error);
