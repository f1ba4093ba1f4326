// SPDX-License-Identifier: MIT
#include "render.h"

using namespace pattern;

RenderedPicture render_test_pattern(const TestpatternOptions &options) {
    RenderedPicture picture{
        options.format,
        options.width,
        options.height,
        options.stride,
        plane_layout(*options.format, options.width, options.height, options.stride),
        {}};
    PlanePointers pointers{};
    for (uint32_t i = 0; i < picture.layout.count; ++i) {
        picture.planes[i].assign(picture.layout.bytes[i], options.fill);
        pointers[i] = picture.planes[i].data();
    }
    fill_test_pattern(options.format->fourcc, options.pattern, pointers, options.width,
                      options.height, options.stride);
    return picture;
}
