// SPDX-License-Identifier: MIT
// crtc-relay's command line parsed with getopt_long, and its --help text.
#include "options.h"

#include <getopt.h>

#include <string_view>
#include <vector>

#include "option_values.h"
#include "test_pattern.h"

namespace {

constexpr int opt_version = 0x100;
constexpr int opt_capable = 0x101;
constexpr int opt_atomic = 0x102;
constexpr int opt_pattern = 0x103;
constexpr int opt_format = 0x104;
constexpr int opt_formats = 0x105;
constexpr int opt_plane = 0x106;
constexpr int opt_plane_pos = 0x107;
constexpr int opt_plane_size = 0x108;
constexpr int opt_debugfs = 0x109;
constexpr int opt_verify_timeout = 0x10a;
constexpr int opt_save = 0x10b;
constexpr int opt_json = 0x10c;

constexpr option long_options[] = {
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, opt_version},
    {"screen", required_argument, nullptr, 's'},
    {"mode", required_argument, nullptr, 'm'},
    {"list", no_argument, nullptr, 'l'},
    {"period", required_argument, nullptr, 'p'},
    {"handovers", required_argument, nullptr, 'n'},
    {"crtcs", required_argument, nullptr, 'c'},
    {"capable", no_argument, nullptr, opt_capable},
    {"verify", optional_argument, nullptr, 'V'},
    {"debugfs", required_argument, nullptr, opt_debugfs},
    {"verify-timeout", required_argument, nullptr, opt_verify_timeout},
    {"save", required_argument, nullptr, opt_save},
    {"report", required_argument, nullptr, 'r'},
    {"atomic", no_argument, nullptr, opt_atomic},
    {"pattern", required_argument, nullptr, opt_pattern},
    {"format", required_argument, nullptr, opt_format},
    {"formats", required_argument, nullptr, opt_formats},
    {"plane", required_argument, nullptr, opt_plane},
    {"plane-pos", required_argument, nullptr, opt_plane_pos},
    {"plane-size", required_argument, nullptr, opt_plane_size},
    {"json", no_argument, nullptr, opt_json},
    {nullptr, 0, nullptr, 0},
};
// '+': options end at the first operand; ':': a missing value is reported
// as ':' so that it gets its own message.
constexpr char short_options[] = "+:hs:m:lp:n:c:Vr:";

// An option whose value is a character has that short form too.
constexpr bool has_short_form(const option &o) {
    return o.val < 0x100;
}

constexpr bool short_forms_agree() {
    for (const option *o = long_options; o->name; ++o)
        if (has_short_form(*o) !=
            (std::string_view(short_options).find(char(o->val)) != std::string_view::npos))
            return false;
    return true;
}
static_assert(short_forms_agree(), "long_options and short_options name different letters");

// "-h/--help, --version, ...", in the order of long_options.
std::string valid_options() {
    std::string list;
    for (const option *o = long_options; o->name; ++o) {
        if (!list.empty())
            list += ", ";
        if (has_short_form(*o))
            list += std::string("-") + char(o->val) + "/";
        list += std::string("--") + o->name;
    }
    return list;
}

// The largest CRTC index: a CRTC is one bit of a 32-bit possible_crtcs mask.
constexpr uint32_t max_crtc_index = 31;

std::string option_name(int option_character, const char *long_name) {
    if (long_name)
        return std::string("--") + long_name;
    return std::string("-") + char(option_character);
}

// The long options that `name` ("ver" of "--ver") abbreviates; just the one
// when it is a whole name.
std::vector<const option *> long_options_named(std::string_view name) {
    std::vector<const option *> found;
    for (const option *o = long_options; o->name; ++o) {
        if (name == o->name)
            return {o};
        if (std::string_view(o->name).starts_with(name))
            found.push_back(o);
    }
    return found;
}

// Why getopt_long refused a long option that exists: an abbreviation of
// several ("--ver"), or a value given to one that takes none
// ("--atomic=1"). Empty for an option that does not exist.
std::string long_option_refusal(std::string_view argument) {
    if (!argument.starts_with("--") || argument.size() == 2)
        return {};
    const size_t equals = argument.find('=');
    const std::string_view name = argument.substr(2, equals == argument.npos ? equals : equals - 2);
    const std::vector<const option *> named = long_options_named(name);
    if (named.size() > 1) {
        std::string candidates;
        for (const option *o : named)
            candidates += (candidates.empty() ? "--" : ", --") + std::string(o->name);
        return "option '--" + std::string(name) + "' is ambiguous; it could be " + candidates;
    }
    if (named.size() == 1 && equals != argument.npos && named[0]->has_arg == no_argument)
        return "option --" + std::string(named[0]->name) + " takes no value ('" +
               std::string(argument) + "')";
    return {};
}

// The option getopt_long stumbled on: the long option in the argument it
// started from (without "=value"), else the short option character.
std::string offending_option(const char *argument, int option_character) {
    const std::string_view text = argument ? argument : "";
    if (text.starts_with("--"))
        return std::string(text.substr(0, text.find('=')));
    return std::string("-") + char(option_character);
}

std::string pattern_names() {
    std::string names;
    for (uint32_t value = 0; const char *name = pattern::pattern_name(pattern::TestPattern(value));
         ++value)
        names += (names.empty() ? "" : ", ") + std::string(name);
    return names;
}

} // namespace

std::optional<pattern::TestPattern> pattern_by_name(std::string_view name) {
    for (uint32_t value = 0; const char *known = pattern::pattern_name(pattern::TestPattern(value));
         ++value)
        if (name == known)
            return pattern::TestPattern(value);
    return std::nullopt;
}

ParsedCommandLine parse_relay_options(int argc, char *const argv[]) {
    RelayOptions options;
    opterr = 0;
    optind = 0; // also resets GNU getopt's internal state
    for (;;) {
        int long_index = -1;
        const int next = optind > 0 ? optind : 1; // 0 asks getopt to start over at 1
        const char *argument = next < argc ? argv[next] : nullptr;
        const int c = getopt_long(argc, argv, short_options, long_options, &long_index);
        if (c == -1)
            break;
        const char *long_name = long_index >= 0 ? long_options[long_index].name : nullptr;
        const std::string value = optarg ? optarg : "";
        const std::string name = option_name(c, long_name);
        options.plain = false;
        switch (c) {
        case 'h':
            return ShowHelp{};
        case opt_version:
            return ShowVersion{};
        case 's':
            if (value.empty())
                return UsageError{"empty screen for " + name + "; give a name or an index " +
                                  "(--list shows them)"};
            options.screen = value;
            break;
        case 'm':
            options.mode = parse_mode(value);
            if (!options.mode)
                return UsageError{"bad mode '" + value + "' for " + name +
                                  ": expected WxH or WxH@HZ in decimal, such as 1920x1080@60 (1920x1080i@60 interlaced, "
                                  "640x480d@60 doublescan)"};
            break;
        case 'l':
            options.list = true;
            break;
        case 'p':
            if (auto period = parse_period(value))
                options.period = *period;
            else
                return UsageError{"bad period '" + value + "' for " + name +
                                  ": expected decimal seconds above 0 and at most 86400, "
                                  "such as 5 or 0.5"};
            break;
        case 'n':
            options.handovers = parse_decimal<uint64_t>(value, UINT32_MAX);
            if (!options.handovers)
                return UsageError{"bad count '" + value + "' for " + name +
                                  ": expected a decimal number of handovers, 0 to 4294967295"};
            break;
        case 'c':
            options.crtcs = parse_crtc_list(value);
            if (!options.crtcs)
                return UsageError{"bad CRTC list '" + value + "' for " + name +
                                  ": expected decimal CRTC indices separated by commas, "
                                  "such as 2,0,1"};
            for (const uint32_t index : *options.crtcs)
                if (index > max_crtc_index)
                    return UsageError{"CRTC index " + std::to_string(index) + " for " + name +
                                      " is out of range: indices run from 0 to " +
                                      std::to_string(max_crtc_index)};
            break;
        case opt_capable:
            options.capable = true;
            break;
        case 'V':
            if (!optarg)
                options.verify = true;
            else if (!parse_checks(value, options))
                return UsageError{"bad check list '" + value + "' for " + name +
                                  ": expected state, crc or writeback, separated by commas, "
                                  "such as --verify=state,crc"};
            break;
        case opt_debugfs:
        case opt_save:
            if (value.empty())
                return UsageError{"empty folder for " + name};
            (c == opt_debugfs ? options.debugfs : options.save) = value;
            break;
        case opt_verify_timeout:
            if (auto timeout = parse_period(value))
                options.verify_timeout = *timeout;
            else
                return UsageError{"bad timeout '" + value + "' for " + name +
                                  ": expected decimal seconds above 0 and at most 86400, "
                                  "such as 1 or 0.5"};
            break;
        case opt_atomic:
            options.atomic = true;
            break;
        case opt_pattern:
            if (!pattern_by_name(value))
                return UsageError{"unknown pattern '" + value + "' for " + name +
                                  "; valid patterns: " + pattern_names()};
            options.pattern = value;
            break;
        case opt_format:
            if (value.empty())
                return UsageError{"empty format for " + name +
                                  "; give a name such as XR24 (--list shows each plane's)"};
            options.format = value;
            break;
        case opt_formats:
            options.formats = parse_format_list(value);
            if (!options.formats)
                return UsageError{"bad format list '" + value + "' for " + name +
                                  ": expected all, or format names separated by commas, "
                                  "such as XR24,RG16,NV12"};
            break;
        case opt_plane:
            if (auto plane = parse_plane(value))
                options.plane = *plane;
            else
                return UsageError{"bad plane '" + value + "' for " + name +
                                  ": expected primary, overlay, overlay:K, cursor or a plane "
                                  "index (--list shows them)"};
            break;
        case opt_plane_pos:
            options.plane_pos = parse_position(value);
            if (!options.plane_pos)
                return UsageError{"bad position '" + value + "' for " + name +
                                  ": expected X,Y in decimal pixels, -65535 to 65535, such as "
                                  "100,50"};
            break;
        case opt_plane_size:
            if (auto size = parse_mode(value); size && !size->refresh_hz && size->scan.empty())
                options.plane_size = std::pair{size->width, size->height};
            else
                return UsageError{"bad size '" + value + "' for " + name +
                                  ": expected WxH in decimal pixels, such as 256x128"};
            break;
        case opt_json:
            options.json = true;
            break;
        case 'r':
            if (value.empty())
                return UsageError{"empty file name for " + name +
                                  "; give a file, or - for "
                                  "standard output"};
            options.report = value;
            break;
        case ':':
            return UsageError{"option " + offending_option(argument, optopt) +
                              " needs a value (see --help)"};
        default:
            if (std::string refusal = long_option_refusal(argument ? argument : "");
                !refusal.empty())
                return UsageError{refusal};
            return UsageError{"unknown option '" + offending_option(argument, optopt) +
                              "'; valid options: " + valid_options()};
        }
        if (c != 'l' && c != 's' && c != opt_json)
            options.other_than_list.push_back(name);
    }
    // --list sets nothing: an option of a run would be silently ignored.
    if (options.list && !options.other_than_list.empty())
        return UsageError{"--list takes only --screen and --json, not " +
                          options.other_than_list.front()};
    if (options.json && !options.list)
        return UsageError{"--json is a form of --list; give --list --json"};
    if (optind >= argc)
        return MissingOperand{};
    if (optind + 1 < argc)
        return UsageError{"unexpected operand '" + std::string(argv[optind + 1]) +
                          "' after the device '" + argv[optind] +
                          "'; options come before the device"};
    options.device = argv[optind];
    if (options.format && options.formats)
        return UsageError{"--format and --formats exclude each other; --formats shows each "
                          "format in turn"};
    if ((options.plane_pos || options.plane_size) &&
        options.plane.kind == PlaneRequest::Kind::primary)
        return UsageError{"--plane-pos and --plane-size place an overlay or cursor plane; give "
                          "--plane as well"};
    if (options.formats && options.handovers)
        return UsageError{"--formats shows each format on the first CRTC and hands nothing "
                          "over; it takes no --handovers"};
    if (options.debugfs && !options.verify_crc)
        return UsageError{"--debugfs is only used by --verify=crc"};
    if (options.save && !options.verify_writeback)
        return UsageError{"--save is only used by --verify=writeback"};
    return options;
}

std::string relay_help(const char *program) {
    return std::string("usage: ") + program + R"( [OPTION...] DEVICE

Shows SMPTE colour bars on one screen of the DRM device DEVICE (for example
/dev/dri/card0) and hands that screen from CRTC to CRTC, one handover per
period, until input on standard input, SIGINT, SIGTERM or SIGHUP (exit
status 0), a failure (status 1) or the last of --handovers.

Options (before DEVICE; -- ends them):
  -h, --help             this text
      --version          print the version and exit
  -l, --list             print the device's screens, CRTCs, encoders and
                         planes and exit, without setting any mode; takes
                         only --screen (that screen alone) and --json
      --json             with --list: one JSON document (see the README)
  -s, --screen NAME|N    the screen to drive, by the name --list prints
                         (HDMI-A-0), the kernel's (HDMI-A-1), its index
                         (default 0) or its connector id
  -m, --mode WxH[@HZ]    one of that screen's modes (default its first);
                         WxHi@HZ interlaced, WxHd@HZ doublescan
  -p, --period SECONDS   time between handovers, decimal (5, 0.5, .5),
                         above 0 and at most 86400 (default 5)
  -n, --handovers N      end after N handovers (mode sets after the first
                         picture); status 0 only when all N were made;
                         0 shows the first picture only
  -c, --crtcs LIST       the CRTC indices to cycle through, in order, such
                         as 2,0,1 (default all, in order); the first one
                         shows the first picture
      --capable          keep only the CRTCs that one of the screen's
                         encoders can be fed by; with --crtcs, refuse the
                         ones that cannot
  -V, --verify[=LIST]    checks after each mode set, LIST of (with commas):
                         state (the default): read the state back and fail
                           when the CRTC does not show our framebuffer in
                           the chosen mode or the screen is not driven by it
                         crc: the CRTC's CRC source must send 3 entries,
                           equal, with advancing frames, and equal to those
                           of the picture's first showing on that CRTC
                         writeback: capture the frame through a writeback
                           connector (implies --atomic) and compare it with
                           the picture pixel for pixel (exactly, or for
                           other than 8-bit RGB within a stated tolerance)
                         crc and writeback also check each format of
                           --formats, and the picture of --plane
      --debugfs DIR      the device's debugfs folder for crc (default
                         /sys/kernel/debug/dri/MINOR of DEVICE)
      --verify-timeout SECONDS
                         longest wait for CRC entries or a capture (default 1)
      --save DIR         on a capture that differs, write the expected and
                         the captured picture there as PNG
  -r, --report FILE      write one JSON object per event (start, set, end)
                         to FILE, - for standard output (the "Using screen"
                         line then goes to standard error); a write that
                         fails ends the run with status 1
      --atomic           make each mode set one atomic commit (checked with
                         TEST_ONLY first) instead of a legacy SETCRTC; a
                         driver without atomic mode setting is refused
      --pattern NAME     the picture: tiles, plain, smpte or gradient
                         (default smpte)
      --format NAME      the pixel format, by the generator's name (XR24,
                         RG16, NV12, C8...); the plane must list it (default
                         XR24); C8 loads the SMPTE palette into the CRTC's
                         gamma table and puts the old one back at the end
      --formats all|LIST a sweep on the first CRTC: each format of the
                         plane's list (all) or of LIST (XR24,NV12) shown
                         for one period, checked with --verify, reported as
                         a "format" event; ends with a summary line, status
                         1 when any format failed
      --plane primary|overlay[:K]|cursor|INDEX
                         the plane that shows the pattern (default primary);
                         another plane shows it over the screen's SMPTE bars
                         and goes with the screen on each handover (or the
                         same kind of plane of the new CRTC does)
      --plane-pos X,Y    where that plane shows it on the CRTC (default 0,0)
      --plane-size WxH   its size (default the mode's; for a cursor plane
                         the largest the driver takes)

With any option, standard input at its end (/dev/null) or closed is not
input: the run goes on without watching it.

Exit status: 0 ended by input, a signal or the last handover (with
--handovers N only after all N); 1 a failure (missing DEVICE, a device,
mode-setting, teardown or report error, a failed verification, a run
with --handovers N stopped early); 2 a bad command line, screen, mode,
CRTC list, format or report path, or a check the device
cannot run (no CRC source, no writeback connector).
)";
}
