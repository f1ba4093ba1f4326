// SPDX-License-Identifier: MIT
// A small object layer over one DRM/KMS device: its connectors ("screens"),
// CRTCs and planes as plain records, dumb framebuffers (32-bpp ones, and any
// format whose planes the caller describes), and the calls that put a
// framebuffer on a screen or a plane.
//
// Results: operations that can fail with a system error return 0 or a
// negated errno value; creators return a record or nullptr. Nothing here
// prints or exits: the caller decides what to report.
#pragma once

// Installed for other programs, which need C++20 as the library does.
#if __cplusplus < 202002L
#error "crtc-relay's headers need C++20 or later (-std=c++20)"
#endif

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <xf86drmMode.h>

struct kms_device;

// One connector.
struct kms_screen {
    kms_device *device = nullptr; // owning device, not owned
    bool connected = false;       // connection state is "connected"
    uint32_t connection = 0;      // the kernel's: 1 connected, 2 disconnected, 3 unknown
    uint32_t type = 0;            // KMS connector type
    uint32_t id = 0;              // KMS connector object id
    uint32_t width = 0;           // horizontal active pixels of mode
    uint32_t height = 0;          // vertical active lines of mode
    std::string name;             // connector type name and per-type number: "HDMI-A-0"
    std::string kernel_name;      // the kernel's: the type's own number, from 1: "HDMI-A-1"
    drmModeModeInfo mode{};       // the mode kms_screen_set uses: the connector's first
                                  // (all zero if it has none) unless the caller picks another
};

struct kms_crtc {
    kms_device *device = nullptr; // not owned
    uint32_t id = 0;              // KMS CRTC object id
};

struct kms_plane {
    kms_device *device = nullptr;  // not owned
    kms_crtc *crtc = nullptr;      // the CRTC this plane is assigned to, not owned
    uint32_t type = 0;             // "type" property: 0 overlay, 1 primary, 2 cursor
    uint32_t id = 0;               // KMS plane object id
    std::vector<uint32_t> formats; // fourcc codes, in the kernel's order

    uint32_t num_formats() const { return static_cast<uint32_t>(formats.size()); }
};

// One open device. Owns the descriptor from kms_device_open on, and every
// record in its arrays, which are stored densely in the order the kernel
// listed the objects.
struct kms_device {
    int fd = -1;
    std::vector<std::unique_ptr<kms_screen>> screens;
    std::vector<std::unique_ptr<kms_crtc>> crtcs;
    std::vector<std::unique_ptr<kms_plane>> planes;
    int resources_error = 0; // GETRESOURCES's negated errno when it failed, else 0
    uint32_t max_width = 0, max_height = 0; // largest framebuffer; 0 when unknown

    uint32_t num_screens() const { return static_cast<uint32_t>(screens.size()); }
    uint32_t num_crtcs() const { return static_cast<uint32_t>(crtcs.size()); }
    uint32_t num_planes() const { return static_cast<uint32_t>(planes.size()); }
};

// A dumb buffer registered as a KMS framebuffer, optionally mapped.
struct kms_framebuffer {
    kms_device *device = nullptr; // not owned; must outlive the framebuffer
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t pitch = 0;  // bytes per row, chosen by the kernel
    uint32_t format = 0; // fourcc
    uint64_t size = 0;   // bytes, chosen by the kernel
    uint32_t handle = 0; // dumb buffer handle
    uint32_t id = 0;     // framebuffer id, 0 while not registered
    void *map = nullptr; // process mapping of the whole buffer, or nullptr
    // Where each plane of the format lies in the one buffer: plane i starts
    // at map + offsets[i], its rows pitches[i] bytes apart. Plane 0 is
    // `pitch` at offset 0.
    uint32_t planes = 1;
    uint32_t pitches[3] = {};
    uint32_t offsets[3] = {};
};

// How a format's planes lie in memory, as the caller knows the format: the
// object layer knows no pixel format beyond the three 32-bpp ones.
struct kms_format_planes {
    uint32_t count = 1;              // planes, 1 to 3
    uint32_t bits_per_pixel[3] = {}; // plane 0 per pixel; planes 1 and 2 per chroma
                                     // sample (both components of an interleaved plane)
    uint32_t xsub = 1;               // pixels of a row sharing one sample of planes 1, 2
    uint32_t ysub = 1;               // rows sharing one row of planes 1, 2
};

// Enumeration. kms_device_open returns nullptr only when the record cannot be
// allocated; any other shortfall yields fewer records, possibly none.
kms_device *kms_device_open(int fd);
void kms_device_close(kms_device *device); // frees everything, closes fd; accepts nullptr
// Reads the device's plane list again and adds the planes it did not have
// (a client capability such as atomic, which implies universal planes, can
// show planes the first reading did not). Records already held stay valid.
// 0 or a negated errno.
int kms_device_read_planes(kms_device *device);
// 1 when this client is the device's DRM master (it may set modes), 0 when
// another client holds it (a running display server), as libdrm's master
// query answers; -EINVAL for a null device.
int kms_device_is_master(const kms_device *device);

kms_screen *kms_screen_create(kms_device *device, uint32_t id);
void kms_screen_destroy(kms_screen *screen);
kms_crtc *kms_crtc_create(kms_device *device, uint32_t id);
void kms_crtc_destroy(kms_crtc *crtc);
kms_plane *kms_plane_create(kms_device *device, uint32_t id);
void kms_plane_destroy(kms_plane *plane);

// Framebuffers: "XR24", "XB24" and "RA24" only.
kms_framebuffer *kms_framebuffer_create(kms_device *device, uint32_t width, uint32_t height,
                                        uint32_t format);
// Any format, linear: one dumb buffer of plane 0's bits per pixel, tall
// enough to hold the further planes below plane 0; their pitch is plane 0's
// pitch scaled by their bits per sample over (plane 0's bits x xsub), the
// rule by which pattern generators derive chroma strides. ADDFB2 gets the
// one handle for every plane with each plane's pitch and offset. nullptr
// when a description is out of range or the kernel refuses (nothing is left
// behind).
kms_framebuffer *kms_framebuffer_create_format(kms_device *device, uint32_t width,
                                               uint32_t height, uint32_t format,
                                               const kms_format_planes *planes);
int kms_framebuffer_map(kms_framebuffer *fb, void **out);
void kms_framebuffer_unmap(kms_framebuffer *fb);
void kms_framebuffer_destroy(kms_framebuffer *fb); // unmaps first if still mapped

// A teardown request that failed: "RMFB", "DESTROY_DUMB" or "DESTROYPROPBLOB",
// and its negated errno.
struct kms_release_failure {
    const char *request = nullptr;
    int error = 0;
};
// kms_framebuffer_destroy that tells: appends each request that failed to
// *failures (when not null) and returns the first one's negated errno, or 0.
// The framebuffer is freed either way.
int kms_framebuffer_destroy_checked(kms_framebuffer *fb,
                                    std::vector<kms_release_failure> *failures);

// Mode setting.
int kms_screen_set(kms_screen *screen, kms_crtc *crtc, kms_framebuffer *fb);
int kms_plane_set(kms_plane *plane, kms_framebuffer *fb, uint32_t x, uint32_t y);
bool kms_plane_supports_format(const kms_plane *plane, uint32_t format);
kms_plane *kms_device_find_plane_by_type(kms_device *device, uint32_t type, uint32_t index);

// What the kernel reports now, read on request (each call asks the kernel;
// enumeration never does). Each returns 0 or a negated errno.

// GETCRTC: what the CRTC scans out.
struct kms_crtc_state {
    uint32_t fb_id = 0;    // 0 when it shows nothing
    uint32_t x = 0, y = 0; // offset into the framebuffer
    bool mode_valid = false;
    drmModeModeInfo mode{}; // all zero unless mode_valid
};
int kms_crtc_read_state(const kms_crtc *crtc, kms_crtc_state *out);

// GETENCODER.
struct kms_encoder_state {
    uint32_t id = 0;
    uint32_t crtc_id = 0;        // the CRTC feeding it, 0 for none
    uint32_t possible_crtcs = 0; // bit i: the device's CRTC i can feed it
};

// GETCONNECTOR without a probe, then GETENCODER for each of its encoders.
struct kms_screen_state {
    bool connected = false;
    uint32_t encoder_id = 0; // the encoder in use, 0 when nothing drives the screen
    std::vector<drmModeModeInfo> modes;
    std::vector<kms_encoder_state> encoders; // in the kernel's order
};
int kms_screen_read_state(const kms_screen *screen, kms_screen_state *out);

// GETFB2: how the kernel registered a framebuffer.
struct kms_framebuffer_state {
    uint32_t width = 0, height = 0;
    uint32_t format = 0;
    uint64_t modifier = 0; // 0, linear, unless the kernel says otherwise
    uint32_t pitches[4] = {};
    uint32_t offsets[4] = {};
};
int kms_framebuffer_read_state(const kms_framebuffer *fb, kms_framebuffer_state *out);

// GETPLANE.
struct kms_plane_state {
    uint32_t crtc_id = 0; // 0 when off
    uint32_t fb_id = 0;
    uint32_t possible_crtcs = 0;
};
int kms_plane_read_state(const kms_plane *plane, kms_plane_state *out);

// Where the plane shows its framebuffer, from its atomic properties (only an
// atomic client sees them: -ENOENT otherwise).
struct kms_plane_position {
    int32_t crtc_x = 0, crtc_y = 0;
    uint32_t crtc_w = 0, crtc_h = 0;
    uint32_t src_x = 0, src_y = 0, src_w = 0, src_h = 0; // 16.16
};
int kms_plane_read_position(const kms_plane *plane, kms_plane_position *out);

// The CRTC's colour lookup table through the legacy gamma calls: the size
// GETCRTC reports, then GETGAMMA / SETGAMMA of that many entries (16-bit,
// 0xffff full scale). A CRTC without one reads back empty tables.
struct kms_gamma {
    std::vector<uint16_t> red, green, blue;
};
int kms_crtc_read_gamma(const kms_crtc *crtc, kms_gamma *out);
int kms_crtc_set_gamma(const kms_crtc *crtc, const kms_gamma *gamma);

// The largest cursor the driver takes (DRM_CAP_CURSOR_WIDTH / HEIGHT); the
// kernel answers 64x64 for a driver that states none.
int kms_device_cursor_size(const kms_device *device, uint32_t *width, uint32_t *height);

// The CRTCs (as a mask of indices into device->crtcs) that at least one of
// the screen's encoders can be fed by.
uint32_t kms_screen_state_possible_crtcs(const kms_screen_state *state);

// Atomic mode setting. kms_device_enable_atomic asks the kernel for atomic
// commits and reads, once per object, the ids of the properties below by
// their kernel names and where each screen and plane is now;
// kms_atomic_screen_set then hands a screen over in one commit.

// The properties a commit sets, per kind of object (the kernel's names in
// capitals: CRTC_ID, ACTIVE, MODE_ID, FB_ID, SRC_X...).
enum class kms_screen_property { crtc_id, count };
enum class kms_crtc_property { active, mode_id, count };
enum class kms_plane_property {
    fb_id,
    crtc_id,
    src_x,
    src_y,
    src_w,
    src_h,
    crtc_x,
    crtc_y,
    crtc_w,
    crtc_h,
    count
};

// The kernel's name of a property ("MODE_ID").
const char *kms_property_name(kms_screen_property property);
const char *kms_property_name(kms_crtc_property property);
const char *kms_property_name(kms_plane_property property);
// Writeback connectors' (below).
enum class kms_writeback_property { crtc_id, writeback_fb_id, writeback_out_fence_ptr, count };
const char *kms_property_name(kms_writeback_property property);

// One object's side of the atomic interface.
template <typename Property>
struct kms_atomic_object {
    uint32_t id = 0; // KMS object id
    // Property ids; 0 (never a property's id) where the object lacks it.
    uint32_t property_ids[static_cast<size_t>(Property::count)] = {};
    uint32_t crtc_id = 0;        // screens and planes: the CRTC they are on now, 0 for none
    uint32_t possible_crtcs = 0; // planes: bit i, the device's CRTC i

    uint32_t &property_id(Property p) { return property_ids[static_cast<size_t>(p)]; }
    uint32_t property_id(Property p) const { return property_ids[static_cast<size_t>(p)]; }
};

// The step of an atomic call that failed: what the program or the device
// answered before any commit was sent, or the kernel's answer to the commit.
enum class kms_atomic_step {
    none,      // no failure
    arguments, // a null or unknown object, a framebuffer too large to describe
    plane,     // no plane can show the picture on that CRTC
    property,  // an object lacks a property the commit needs (see missing_property)
    mode_blob, // the kernel refused the mode's property blob
    request,   // the request could not be built (out of memory)
    commit,    // the ATOMIC request itself
};

// Parallel to the device's arrays: screens[i] is device->screens[i]'s.
struct kms_atomic {
    kms_device *device = nullptr; // not owned; must outlive this record
    std::vector<kms_atomic_object<kms_screen_property>> screens;
    std::vector<kms_atomic_object<kms_crtc_property>> crtcs;
    std::vector<kms_atomic_object<kms_plane_property>> planes;
    // Where the last kms_atomic_* call that failed stopped, and for
    // kms_atomic_step::property the kernel's name of the missing property.
    kms_atomic_step failed_step = kms_atomic_step::none;
    const char *missing_property = nullptr;
};

// 0 and *out set (free it with kms_atomic_destroy), or a negated errno:
// -EOPNOTSUPP from a driver without atomic mode setting.
int kms_device_enable_atomic(kms_device *device, kms_atomic **out);
void kms_atomic_destroy(kms_atomic *atomic); // accepts nullptr

// One commit with DRM_MODE_ATOMIC_ALLOW_MODESET that shows `fb` whole on
// `screen` through `crtc`: the CRTC that drove the screen before, if another
// one, is switched off (ACTIVE 0, MODE_ID 0) with every plane on it; the
// screen's CRTC_ID names `crtc`, which gets the screen's mode and ACTIVE 1;
// a primary plane that can sit on `crtc` (the one already there first)
// shows the framebuffer. With `test_only` the kernel only checks it
// (DRM_MODE_ATOMIC_TEST_ONLY) and nothing changes. The mode blob lives for
// the call only. 0 or a negated errno: -ENOENT when an object lacks a
// property the commit needs, -EINVAL when no primary plane can sit on
// `crtc`, else the kernel's answer; atomic->failed_step says which.
int kms_atomic_screen_set(kms_atomic *atomic, const kms_screen *screen, const kms_crtc *crtc,
                          const kms_framebuffer *fb, bool test_only);

// The primary plane the atomic record has on `crtc` (after a commit of
// kms_atomic_screen_set, the one that shows the picture; it may be another
// CRTC's own when primary planes can sit on several), or null.
const kms_plane *kms_atomic_primary_plane(const kms_atomic *atomic, const kms_crtc *crtc);

// One commit that shows `fb` whole and unscaled on `plane` at x, y of
// `crtc` (FB_ID, CRTC_ID, SRC_* in 16.16, CRTC_*), or with `fb` null takes
// the plane off (FB_ID and CRTC_ID 0). 0 or a negated errno as above.
int kms_atomic_plane_set(kms_atomic *atomic, const kms_plane *plane, const kms_crtc *crtc,
                         const kms_framebuffer *fb, int32_t x, int32_t y, bool test_only);
// Writeback connectors: a CRTC's composed output written into a
// framebuffer. kms_device_find_writebacks asks the kernel to list them
// (DRM_CLIENT_CAP_WRITEBACK_CONNECTORS, which needs atomic) and reads each
// one's encoders, formats and property ids.
struct kms_writeback {
    uint32_t id = 0;                // KMS connector id
    uint32_t possible_crtcs = 0;    // bit i: one of its encoders can be fed by CRTC i
    std::vector<uint32_t> formats;  // WRITEBACK_PIXEL_FORMATS, in the kernel's order
    kms_atomic_object<kms_writeback_property> object; // its property ids
};
// 0 and *out filled (possibly empty), or a negated errno.
int kms_device_find_writebacks(kms_atomic *atomic, std::vector<kms_writeback> *out);

// One capture in a handover commit: `fb` (of the mode's size and one of
// the connector's formats) receives the frame; the real commit sets
// out_fence to a descriptor that becomes readable (poll) once the capture
// is written, or -1. The caller closes it. Without `fb` the job only
// routes the connector to the CRTC (a mode set), for a later commit that
// captures without one.
struct kms_writeback_job {
    const kms_writeback *connector = nullptr;
    const kms_framebuffer *fb = nullptr;
    int out_fence = -1;
};
// kms_atomic_screen_set, with the writeback connector attached to `crtc` in
// the same commit (null `job`: none).
int kms_atomic_screen_set_writeback(kms_atomic *atomic, const kms_screen *screen,
                                    const kms_crtc *crtc, const kms_framebuffer *fb,
                                    kms_writeback_job *job, bool test_only);
// kms_atomic_plane_set, with the writeback connector (already routed to
// `crtc`) capturing the frame that commit makes.
int kms_atomic_plane_set_writeback(kms_atomic *atomic, const kms_plane *plane,
                                   const kms_crtc *crtc, const kms_framebuffer *fb, int32_t x,
                                   int32_t y, kms_writeback_job *job, bool test_only);
