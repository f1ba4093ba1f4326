#include "png_writer.h"

#include <png.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "drmsim.h"

namespace drmsim {
namespace {

struct FileCloser {
    void operator()(FILE *f) const { std::fclose(f); }
};

struct PngWrite {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~PngWrite() { png_destroy_write_struct(&png, info ? &info : nullptr); }
};

} // namespace

bool write_png(const std::string &path, const Picture &picture, std::string &error) {
    if (picture.width == 0 || picture.height == 0) {
        error = "empty picture";
        return false;
    }
    std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
    if (!file) {
        error = "cannot open " + path;
        return false;
    }
    std::vector<png_byte> rows(size_t(picture.width) * picture.height * 3);
    for (size_t i = 0; i < picture.pixels.size(); ++i) {
        uint32_t px = picture.pixels[i];
        rows[3 * i] = png_byte(px >> 16);
        rows[3 * i + 1] = png_byte(px >> 8);
        rows[3 * i + 2] = png_byte(px);
    }
    std::vector<png_bytep> row_pointers(picture.height);
    for (uint32_t y = 0; y < picture.height; ++y) row_pointers[y] = rows.data() + size_t(y) * picture.width * 3;

    PngWrite w;
    w.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (w.png) w.info = png_create_info_struct(w.png);
    if (!w.png || !w.info) {
        error = "out of memory";
        return false;
    }
    if (setjmp(png_jmpbuf(w.png))) {
        error = "libpng failed writing " + path;
        return false;
    }
    png_init_io(w.png, file.get());
    png_set_IHDR(w.png, w.info, picture.width, picture.height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(w.png, 1); // snapshots are frequent; keep them quick
    png_write_info(w.png, w.info);
    png_write_image(w.png, row_pointers.data());
    png_write_end(w.png, nullptr);
    return true;
}

} // namespace drmsim
