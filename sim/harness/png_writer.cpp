// SPDX-License-Identifier: MIT
// A scanned-out picture written as a PNG file.
#include "png_writer.h"

#include <cstdio>
#include <memory>
#include <vector>

#include "drmsim.h"
#include "png_rgb8.h"

namespace drmsim {
namespace {

struct FileCloser {
    void operator()(FILE *f) const { std::fclose(f); }
};

} // namespace

bool write_png(const std::string &path, const Picture &picture, std::string &error) {
    if (picture.width == 0 || picture.height == 0) {
        error = "empty picture";
        return false;
    }
    std::vector<uint8_t> rgb(picture.pixels.size() * 3);
    for (size_t i = 0; i < picture.pixels.size(); ++i) {
        const uint32_t px = picture.pixels[i];
        rgb[3 * i] = uint8_t(px >> 16);
        rgb[3 * i + 1] = uint8_t(px >> 8);
        rgb[3 * i + 2] = uint8_t(px);
    }
    std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
    if (!file) {
        error = "cannot open " + path;
        return false;
    }
    // Snapshots are taken at every mode set: keep them quick.
    if (!write_png_rgb8(file.get(), rgb, picture.width, picture.height, error, 1)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

} // namespace drmsim
