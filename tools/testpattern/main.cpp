// SPDX-License-Identifier: MIT
// testpattern: draws one of the generator's patterns into a buffer of any of
// its pixel formats and writes the raw planes or a PNG. See --help.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "options.h"
#include "png_rgb8.h"
#include "render.h"
#include "to_rgb8.h"

namespace {

constexpr int exit_failure = 1; // the output cannot be written, or memory ran out
constexpr int exit_usage = 2;

struct FileCloser {
    void operator()(std::FILE *f) const { std::fclose(f); }
};

bool write_raw(std::FILE *out, const RenderedPicture &picture) {
    for (uint32_t i = 0; i < picture.layout.count; ++i) {
        const std::vector<uint8_t> &plane = picture.planes[i];
        if (std::fwrite(plane.data(), 1, plane.size(), out) != plane.size())
            return false;
    }
    return std::fflush(out) == 0 && !std::ferror(out);
}

int fail_io(const std::string &output, const std::string &reason) {
    std::fprintf(stderr, "testpattern: cannot write '%s': %s\n", output.c_str(), reason.c_str());
    return exit_failure;
}

} // namespace

int main(int argc, char *argv[]) {
    const ParsedCommandLine parsed = parse_testpattern_options(argc, argv);
    if (std::holds_alternative<ShowHelp>(parsed)) {
        std::fputs(testpattern_help().c_str(), stdout);
        return 0;
    }
    if (std::holds_alternative<ShowVersion>(parsed)) {
        std::puts("testpattern " CRTC_RELAY_VERSION);
        return 0;
    }
    if (const auto *error = std::get_if<UsageError>(&parsed)) {
        std::fprintf(stderr, "testpattern: %s\n", error->message.c_str());
        return exit_usage;
    }
    const TestpatternOptions &options = std::get<TestpatternOptions>(parsed);

    // Opened before drawing, so that an unwritable path fails at once.
    std::unique_ptr<std::FILE, FileCloser> file;
    std::FILE *out = stdout;
    if (options.output != "-") {
        file.reset(std::fopen(options.output.c_str(), "wb"));
        if (!file)
            return fail_io(options.output, std::strerror(errno));
        out = file.get();
    }

    try {
        const RenderedPicture picture = render_test_pattern(options);
        if (options.png) {
            std::string error;
            if (!write_png_rgb8(out, picture_to_rgb8(picture), picture.width, picture.height,
                                error))
                return fail_io(options.output, error);
        } else if (!write_raw(out, picture)) {
            return fail_io(options.output, std::strerror(errno));
        }
    } catch (const std::bad_alloc &) {
        std::fprintf(stderr, "testpattern: not enough memory for a picture of %llu bytes\n",
                     static_cast<unsigned long long>(picture_bytes(options)));
        return exit_failure;
    }

    if (file && std::fclose(file.release()) != 0)
        return fail_io(options.output, std::strerror(errno));
    return 0;
}
