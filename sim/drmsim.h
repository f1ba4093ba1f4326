// SPDX-License-Identifier: MIT
// Test-side control of the simulated DRM device.
//
// A test executable that links drmsim_inproc answers libdrm's ioctls, and
// mmap/munmap/close on simulated descriptors, from an in-process model of a
// KMS device. This header opens such devices and looks at what the program
// under test did to them. Every function here is safe to call at any time;
// state is process-wide and survives until reset().
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace drmsim {

// Opens a simulated device built from a JSON description (see sim/README.md).
// Returns a real, distinct descriptor, exactly as an intercepted open() of a
// file holding that text would; -1 with errno EINVAL (and a line on stderr)
// when the description is not valid.
int open_device(const std::string &description_json_text);
int open_device_file(const std::string &path);

// The requests the device answers, in the request table's order, named as
// fail(), delay(), request_count() and DRMSIM_FAIL take them.
struct RequestInfo {
    std::string name;
    bool counted_in_rounds = false; // once per libdrm two-call round
    bool journaled = false;
    bool ignorable = false; // ignore() and request:N:ignore take it
};
std::vector<RequestInfo> request_table();

// Makes the nth (1-based) libdrm-level call of `request` fail with `err`.
// Throws std::invalid_argument for a name request_table() lacks.
void fail(std::string_view request, unsigned nth, int err);
// Makes the nth call of an ignorable request answer 0 and change nothing, as a
// faulty driver might. Throws std::invalid_argument for other requests.
void ignore(std::string_view request, unsigned nth);
// Makes every call of `request` sleep this long (real time) before answering.
void delay(std::string_view request, unsigned milliseconds);
// Clears failures, delays, counters, the journal and events, and sets the
// virtual clock back to 0 (it stays on or off). Open devices stay open.
void reset();

// Number of libdrm-level calls seen for `request` since the last reset().
// A two-call libdrm function (drmModeGetResources and the like) counts once.
unsigned request_count(std::string_view request);

struct ModeSummary {
    std::string name; // "1920x1080"
    uint32_t hdisplay = 0;
    uint32_t vdisplay = 0;
};

// One call of a journaled request (request_table()'s `journaled`), as it was
// issued and answered. Indices are -1 for ids the device does not know.
struct JournalEntry {
    double t = 0;        // virtual or real seconds
    std::string request; // the request's name in capitals: "SETCRTC", "ATOMIC"...
    uint32_t crtc = 0;
    int crtc_index = -1;
    uint32_t fb = 0;
    std::vector<uint32_t> connectors;
    std::vector<int> connector_indices;
    std::optional<ModeSummary> mode; // absent when the call carried no mode
    uint32_t plane = 0;              // SETPLANE only
    int plane_index = -1;            // SETPLANE only
    std::array<uint32_t, 4> src{};   // SETPLANE: x, y, w, h in 16.16
    std::array<int64_t, 4> dst{};    // SETPLANE: x, y, w, h in pixels
    uint32_t flags = 0;              // ATOMIC: DRM_MODE_ATOMIC_* and page-flip flags
    struct Object {
        uint32_t id = 0;
        std::string type; // "crtc", "plane", "connector" or "?"
        int index = -1;
        std::vector<std::pair<std::string, uint64_t>> properties; // name ("?" unknown), value
    };
    std::vector<Object> objects; // ATOMIC: as the commit listed them
    int result = 0;              // 0 or -errno
};
std::vector<JournalEntry> journal();

// What a device descriptor holds (or held when it was closed).
struct LeakReport {
    bool closed = false;
    std::vector<uint32_t> framebuffers; // ids
    std::vector<uint32_t> dumb_buffers; // handles
    unsigned mappings = 0;              // mmaps of its buffers not yet unmapped
    std::vector<uint32_t> blobs;        // property blobs it created and did not destroy
    std::vector<uint32_t> gamma;        // CRTC indices whose colour table it left changed
    // Nothing held: no framebuffer, dumb buffer handle, mapping or blob, and
    // every colour table as it was found.
    bool clean() const {
        return framebuffers.empty() && dumb_buffers.empty() && mappings == 0 && blobs.empty() &&
               gamma.empty();
    }
};
// For an open descriptor: what it holds now. For a closed one: what it held
// at close. Throws std::invalid_argument for a descriptor never simulated.
LeakReport leaks(int fd);

// What a CRTC scans out: its planes composed at the mode's size, as
// 0xRRGGBB values, row after row. 0 x 0 when the CRTC is off.
struct Picture {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint32_t> pixels;
    uint32_t at(uint32_t x, uint32_t y) const { return pixels.at(size_t{y} * width + x); }
};
Picture scanout(int fd, unsigned crtc_index);
// The same for the device opened last that is still open.
Picture scanout(unsigned crtc_index);

// Current state of a CRTC as the device sees it.
struct CrtcState {
    bool active = false;
    uint32_t fb = 0;
    uint32_t x = 0;
    uint32_t y = 0;
    std::optional<ModeSummary> mode;
    std::vector<uint32_t> connectors; // ids
};
CrtcState crtc_state(int fd, unsigned crtc_index);

// Bytes of a framebuffer's first plane (pitch * height from its offset).
std::vector<uint8_t> framebuffer_bytes(int fd, uint32_t fb_id);

// Kernel object ids by index in the description. Throw std::out_of_range.
uint32_t crtc_id(int fd, unsigned index);
uint32_t connector_id(int fd, unsigned index);
uint32_t encoder_id(int fd, unsigned index);
uint32_t plane_id(int fd, unsigned index);

// Virtual clock for waits on standard input (see sim/README.md).
void use_virtual_clock(bool on);
// "input@T", "SIG@T" (T in seconds) or "SIG@setcrtc:N", SIG one of sigint,
// sigterm, sighup. Throws std::invalid_argument for anything else.
void add_event(std::string_view event);
double virtual_now();

// Outputs that the environment variables also set; empty path turns off.
void set_journal_file(const std::string &path);
void set_report_file(const std::string &path);
void set_snapshot_dir(const std::string &dir);
void set_verbose(bool on);
// The debugfs folder served for the device opened last ("" for none), and
// the pixel faults (DRMSIM_DEBUGFS, DRMSIM_PIXEL_FAULTS; sim/README.md);
// set_pixel_faults throws std::invalid_argument for a fault it cannot read.
void set_debugfs_dir(const std::string &dir);
void set_pixel_faults(const std::string &faults);

} // namespace drmsim
