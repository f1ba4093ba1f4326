// SPDX-License-Identifier: MIT
#include "png_rgb8.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstring>
#include <vector>

static_assert(png_rgb8_max_side == PNG_USER_WIDTH_MAX && png_rgb8_max_side == PNG_USER_HEIGHT_MAX);

namespace {

// Where libpng's output goes, and the errno of the write that failed (0 if
// none did): libpng's own stdio writer only says "Write Error".
struct PngOutput {
    std::FILE *file;
    int write_errno = 0;
};

void write_to_file(png_structp png, png_bytep data, size_t length) {
    auto *out = static_cast<PngOutput *>(png_get_io_ptr(png));
    if (std::fwrite(data, 1, length, out->file) != length) {
        out->write_errno = errno;
        png_error(png, "write error");
    }
}

void flush_file(png_structp png) {
    auto *out = static_cast<PngOutput *>(png_get_io_ptr(png));
    if (std::fflush(out->file) != 0) {
        out->write_errno = errno;
        png_error(png, "write error");
    }
}

// Owns the libpng write and info structures.
class PngWriteStruct {
public:
    // libpng's error messages land in *error.
    explicit PngWriteStruct(std::string *error) {
        png_ = png_create_write_struct(PNG_LIBPNG_VER_STRING, error, on_error, on_warning);
        if (png_ != nullptr)
            info_ = png_create_info_struct(png_);
    }
    ~PngWriteStruct() { png_destroy_write_struct(&png_, info_ != nullptr ? &info_ : nullptr); }
    PngWriteStruct(const PngWriteStruct &) = delete;
    PngWriteStruct &operator=(const PngWriteStruct &) = delete;

    bool ok() const { return png_ != nullptr && info_ != nullptr; }
    png_structp png() const { return png_; }
    png_infop info() const { return info_; }

private:
    static void on_error(png_structp png, png_const_charp message) {
        auto *error = static_cast<std::string *>(png_get_error_ptr(png));
        if (error != nullptr)
            *error = message;
        png_longjmp(png, 1);
    }
    static void on_warning(png_structp, png_const_charp) {}

    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
};

// Holds no object with a destructor, so that libpng's longjmp out of it on
// an error skips nothing.
bool write_rows(png_structp png, png_infop info, PngOutput *out, png_bytep *rows, uint32_t width,
                uint32_t height, int compression_level) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_write_fn(png, out, write_to_file, flush_file);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (compression_level >= 0)
        png_set_compression_level(png, compression_level);
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    return true;
}

} // namespace

bool write_png_rgb8(std::FILE *out, std::span<const uint8_t> rgb, uint32_t width, uint32_t height,
                    std::string &error, int compression_level) {
    std::string png_error;
    PngWriteStruct writer(&png_error);
    if (!writer.ok()) {
        error = "cannot create the PNG writer";
        return false;
    }
    std::vector<png_bytep> rows(height);
    for (uint32_t y = 0; y < height; ++y)
        rows[y] = const_cast<png_bytep>(rgb.data() + size_t{y} * width * 3);
    PngOutput output{out};
    if (!write_rows(writer.png(), writer.info(), &output, rows.data(), width, height,
                    compression_level)) {
        if (output.write_errno != 0)
            error = std::strerror(output.write_errno);
        else
            error = png_error.empty() ? "PNG writing failed" : png_error;
        return false;
    }
    errno = 0;
    if (std::fflush(out) != 0 || std::ferror(out)) {
        error = errno != 0 ? std::strerror(errno) : "write error";
        return false;
    }
    return true;
}
