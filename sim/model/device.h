// SPDX-License-Identifier: MIT
// One simulated DRM device as seen through one open file: its KMS objects,
// the framebuffers and dumb buffers of that file, and the ioctl handlers
// that answer the way the Linux kernel's DRM core and atomic helpers do.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <drm.h>
#include <drm_mode.h>

#include "description.h"
#include "driver_faults.h"
#include "formats.h"
#include "requests.h"

namespace drmsim {

// The memory of one dumb buffer: a shared anonymous mapping that the model
// reads and writes, and that process mappings of the device descriptor
// alias. It holds no descriptor, so the program's descriptor numbers stay
// as they would be with a real device. Lives as long as a handle, a
// framebuffer or a process mapping refers to it, as GEM objects do.
class BufferObject {
public:
    // nullptr with errno set when the memory cannot be had.
    static std::shared_ptr<BufferObject> create(uint64_t size);
    ~BufferObject();
    BufferObject(const BufferObject &) = delete;
    BufferObject &operator=(const BufferObject &) = delete;

    uint64_t size() const { return size_; }
    std::span<uint8_t> bytes() { return {view_, size_t(size_)}; }
    // A new mapping of the same pages, as mmap(addr, length, prot, flags)
    // of the device would make it; MAP_FAILED with errno on failure.
    void *map(void *addr, size_t length, int prot, int flags) const;

    uint64_t map_offset = 0; // fake offset for mmap of the device descriptor

private:
    BufferObject(uint8_t *view, uint64_t size) : view_(view), size_(size) {}
    uint8_t *view_;
    uint64_t size_;
};

struct Framebuffer {
    uint32_t id = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t format = 0;
    const FormatInfo *info = nullptr;
    std::array<std::shared_ptr<BufferObject>, 4> buffers;
    std::array<uint32_t, 4> pitches{};
    std::array<uint32_t, 4> offsets{};
};

struct Property {
    uint32_t id = 0;
    std::string name;
    uint32_t flags = 0;
    std::vector<uint64_t> values;
    std::vector<std::pair<std::string, uint64_t>> enums;
};

struct PropertyValue {
    uint32_t property_id;
    uint64_t value;
};

// A property blob (a mode for MODE_ID, say). Lives while the file that
// created it holds it or a CRTC's state refers to it, as the kernel's do.
struct Blob {
    uint32_t id = 0;
    std::vector<uint8_t> data;
    bool held_by_file = false; // created by CREATEPROPBLOB, not yet destroyed
};

// Ids of the properties atomic clients set.
struct AtomicPropertyIds {
    uint32_t active = 0, mode_id = 0;                        // CRTC
    uint32_t fb_id = 0, crtc_id = 0;                         // plane; CRTC_ID also connector
    uint32_t src_x = 0, src_y = 0, src_w = 0, src_h = 0;     // plane, 16.16
    uint32_t crtc_x = 0, crtc_y = 0, crtc_w = 0, crtc_h = 0; // plane, pixels
    uint32_t gamma_lut = 0, gamma_lut_size = 0; // CRTC, 0 without a colour table
    // Writeback connectors; 0 on a device without one, as the kernel makes
    // them only when a writeback connector is set up.
    uint32_t writeback_fb_id = 0, writeback_pixel_formats = 0, writeback_out_fence_ptr = 0;
};

// Faults of a writeback engine, shared by the devices of a process: jobs
// are counted from 1 across them. Set by the harness.
struct WritebackFaults {
    std::vector<unsigned> unsignalled; // jobs whose out-fence never signals
    std::vector<unsigned> corrupt;     // jobs whose capture has a wrong pixel
    unsigned jobs = 0;
};

struct Plane {
    uint32_t id = 0;
    PlaneType type = PlaneType::overlay;
    uint32_t possible_crtcs = 0;
    std::vector<uint32_t> formats;
    std::vector<PropertyValue> properties; // the fixed ones: type, zpos
    // Current state.
    int crtc = -1; // index, -1 for none
    std::shared_ptr<Framebuffer> fb;
    std::array<uint32_t, 4> src{}; // x, y, w, h in 16.16
    int32_t crtc_x = 0, crtc_y = 0;
    uint32_t crtc_w = 0, crtc_h = 0;
};

struct Crtc {
    uint32_t id = 0;
    int primary_plane = -1;    // index of the plane that carries SETCRTC's fb
    bool active = false;       // enabled: it has a mode (and connectors)
    bool switched_off = false; // enabled but ACTIVE 0 by an atomic commit
    drm_mode_modeinfo mode{};
    std::shared_ptr<Blob> mode_blob; // MODE_ID; made on first read after SETCRTC
    uint32_t x = 0, y = 0;
    std::shared_ptr<Framebuffer> fb; // used only without a primary plane
    std::vector<unsigned> connectors;
    // The colour lookup table (empty when the CRTC has none); C8 pixels
    // index it.
    std::vector<uint16_t> gamma_red, gamma_green, gamma_blue;
    std::shared_ptr<Blob> gamma_blob; // GAMMA_LUT: drm_color_lut entries, or none
    void reset_gamma(uint32_t size);
    // Loads GAMMA_LUT's entries into the table (none: the starting ramp).
    void load_gamma(const std::shared_ptr<Blob> &blob);
};

struct Encoder {
    uint32_t id = 0;
    uint32_t type = 0;
    uint32_t possible_crtcs = 0;
    int crtc = -1; // index of the CRTC feeding it
};

struct Connector {
    uint32_t id = 0;
    uint32_t type = 0;
    uint32_t type_id = 0; // 1-based number among connectors of its type
    std::string name;     // the kernel's name, "HDMI-A-1"
    uint32_t connection = 2;
    std::vector<drm_mode_modeinfo> modes;
    uint32_t possible_crtcs = 0;
    uint32_t mm_width = 0, mm_height = 0;
    std::vector<unsigned> encoders; // indices, in the order GETCONNECTOR lists them
    int encoder = -1;               // index of the encoder in use, -1 when off
    int crtc = -1;                  // index of the CRTC driving it
    std::vector<uint32_t> writeback_formats; // a writeback connector's; empty otherwise
    std::shared_ptr<Blob> writeback_formats_blob;
};

struct Picture;

class Device {
public:
    explicit Device(const Description &description);
    ~Device();
    Device(const Device &) = delete;
    Device &operator=(const Device &) = delete;

    // Whether this ioctl of `request` is a new libdrm-level call (the
    // first of a two-call round, or any ioctl of other requests). Must be
    // called once, right before ioctl(), for every request.
    bool begin_call(const Request &request, const void *arg);

    // Answers one ioctl: 0 or -errno.
    int ioctl(const Request &request, void *arg);

    // The buffer that mmap(length, offset) of the device descriptor maps,
    // or -errno.
    int find_mapping(uint64_t offset, uint64_t length, std::shared_ptr<BufferObject> &out) const;

    // Teardown when the file is closed: the kernel removes the file's
    // framebuffers (turning off what shows them) and drops its handles.
    void release_file();

    // Queries for the test API, the journal and the verbose account.
    const std::vector<Crtc> &crtcs() const { return crtcs_; }
    const std::vector<Connector> &connectors() const { return connectors_; }
    const std::vector<Encoder> &encoders() const { return encoders_; }
    const std::vector<Plane> &planes() const { return planes_; }
    int crtc_index(uint32_t id) const;
    int connector_index(uint32_t id) const;
    int plane_index(uint32_t id) const;
    std::vector<uint32_t> framebuffer_ids() const;
    std::vector<uint32_t> dumb_handles() const;
    std::shared_ptr<Framebuffer> framebuffer(uint32_t id) const;
    // Framebuffer a CRTC scans out from (its primary plane's or its own).
    std::shared_ptr<Framebuffer> crtc_framebuffer(unsigned crtc) const;
    Picture compose(unsigned crtc) const;

    // Request handlers, reached through the request table (requests.cpp).
    int get_resources(drm_mode_card_res &r);
    int get_connector(drm_mode_get_connector &c);
    int get_encoder(drm_mode_get_encoder &e);
    int get_crtc(drm_mode_crtc &c);
    int get_plane_resources(drm_mode_get_plane_res &r);
    int get_plane(drm_mode_get_plane &p);
    int get_properties(drm_mode_obj_get_properties &p);
    int get_property(drm_mode_get_property &p);
    int get_cap(drm_get_cap &c);
    int set_client_cap(drm_set_client_cap &c);
    int version(drm_version &v);
    int create_dumb(drm_mode_create_dumb &c);
    int map_dumb(drm_mode_map_dumb &m);
    int destroy_dumb(drm_mode_destroy_dumb &d);
    int gem_close(drm_gem_close &g);
    int add_fb2(drm_mode_fb_cmd2 &f);
    int add_fb(drm_mode_fb_cmd &f);
    int remove_fb(unsigned int &id);
    int set_crtc(drm_mode_crtc &c);
    // SETCRTC as a faulty driver answers it: checked as usual, then applied
    // wrongly in the way `fault` says.
    int set_crtc_faultily(drm_mode_crtc &c, DriverFault fault);
    int set_plane(drm_mode_set_plane &p);
    int create_blob(drm_mode_create_blob &b);
    int destroy_blob(drm_mode_destroy_blob &b);
    int get_blob(drm_mode_get_blob &b);
    int atomic(drm_mode_atomic &a);
    int get_gamma(drm_mode_crtc_lut &lut);
    int set_gamma(drm_mode_crtc_lut &lut);
    int get_fb2(drm_mode_fb_cmd2 &f);

    // Counts the ioctls answered: what a CRTC composes changes only with
    // one (or with a write into a framebuffer's memory).
    uint64_t generation() const { return generation_; }

    // Where writeback faults are counted (null: none injected).
    void set_writeback_faults(WritebackFaults *faults) { writeback_faults_ = faults; }

    // For the journal: a property's name ("" when unknown).
    std::string property_name(uint32_t id) const;
    // Indices of the CRTCs whose colour table is no longer the ramp it
    // started with.
    std::vector<uint32_t> changed_gamma() const;
    // Ids of the blobs this file created and has not destroyed.
    std::vector<uint32_t> file_blob_ids() const;

private:
    int release_handle(uint32_t handle);
    int add_framebuffer(const drm_mode_fb_cmd2 &f, uint32_t &id_out);
    void remove_framebuffer(const std::shared_ptr<Framebuffer> &fb);
    void disable_crtc(unsigned crtc);
    void detach_connector(unsigned connector);
    int encoder_for(unsigned connector, unsigned crtc) const;
    uint32_t new_object_id();
    // Every property an object carries, with its value, atomic ones
    // included; -ENOENT for no such object, -EINVAL for one without
    // properties. The kernel's blob for a CRTC's mode is made here.
    int properties_of(uint32_t id, uint32_t type, std::vector<PropertyValue> &out);
    std::vector<PropertyValue> connector_properties(unsigned connector) const;
    std::vector<PropertyValue> crtc_properties(unsigned crtc);
    std::vector<PropertyValue> plane_properties(unsigned plane) const;
    const Property *property(uint32_t id) const;
    std::vector<PropertyValue> visible(std::vector<PropertyValue> props) const;
    std::shared_ptr<Blob> new_blob(std::vector<uint8_t> data);
    void drop_unused_blobs();

    // The ATOMIC ioctl's steps (device_atomic.cpp).
    struct AtomicState;
    AtomicState current_state() const;
    int check_property_value(const Property &p, uint64_t value) const;
    int set_atomic_property(AtomicState &s, uint32_t object, const Property &p,
                            uint64_t value) const;
    int check_atomic_state(AtomicState &s) const;
    void apply_atomic_state(const AtomicState &s);
    // Writeback connectors (device_writeback.cpp).
    void add_writeback_properties(uint32_t &next_property);
    int set_writeback_property(AtomicState &s, unsigned connector, const Property &p,
                               uint64_t value) const;
    int check_writeback_jobs(const AtomicState &s) const;
    void install_writeback_fences(AtomicState &s, bool test_only) const;
    void run_writeback_jobs(const AtomicState &s);

    bool universal_planes_cap_allowed_;
    bool atomic_allowed_;
    uint32_t dumb_pitch_align_;
    uint32_t max_width_, max_height_;
    uint32_t cursor_width_, cursor_height_;
    std::vector<Property> properties_;
    std::vector<Plane> planes_;
    std::vector<Crtc> crtcs_;
    std::vector<Encoder> encoders_;
    std::vector<Connector> connectors_;
    AtomicPropertyIds prop_;
    std::map<uint32_t, std::shared_ptr<Blob>> blobs_;
    uint32_t first_fb_id_ = 0;

    // Per-file state.
    bool universal_planes_ = false;
    bool aspect_ratio_allowed_ = false;
    bool atomic_ = false;
    bool writeback_connectors_ = false;
    uint64_t generation_ = 0;
    WritebackFaults *writeback_faults_ = nullptr;
    std::map<uint32_t, std::shared_ptr<Framebuffer>> framebuffers_;
    std::map<uint32_t, std::shared_ptr<BufferObject>> handles_;
    uint64_t next_map_offset_;
    std::map<unsigned long, bool> awaiting_second_call_;
    const Request *round_started_ = nullptr;
};

} // namespace drmsim
