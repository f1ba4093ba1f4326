// SPDX-License-Identifier: MIT
// Atomic mode setting: the client cap, the atomic properties, property
// blobs and the ATOMIC ioctl, each refusal with the kernel check it mirrors.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <fstream>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <tuple>

#include <nlohmann/json.hpp>

#include "sim_test_support.h"

namespace {

using drmsim_test::Commit;
using drmsim_test::Device;
using drmsim_test::property_ids;
using drmsim_test::property_value;
using drmsim_test::first_mode;
using drmsim_test::SimTest;
using drmsim_test::SolidFb;

// small-3crtc: CRTC i has primary plane i; screen 0 (640x480) can be driven
// by every CRTC. The client has the atomic cap, a 640x480 framebuffer and a
// blob with the screen's mode.
class AtomicTest : public SimTest {
public:
    void SetUp() override {
        SimTest::SetUp();
        dev_ = std::make_unique<Device>("small-3crtc.json");
        fd_ = dev_->fd();
        ASSERT_EQ(drmSetClientCap(fd_, DRM_CLIENT_CAP_ATOMIC, 1), 0);
        fb_ = std::make_unique<SolidFb>(fd_, 640, 480, DRM_FORMAT_XRGB8888, 0xff00ff00);
        ASSERT_NE(fb_->id(), 0u);
        mode_ = first_mode(fd_, 0);
        ASSERT_EQ(drmModeCreatePropertyBlob(fd_, &mode_, sizeof mode_, &blob_), 0);
    }
    void TearDown() override {
        drmModeDestroyPropertyBlob(fd_, blob_);
        fb_.reset();
        dev_.reset();
        SimTest::TearDown();
    }
    uint32_t crtc(unsigned i) const { return drmsim::crtc_id(fd_, i); }
    uint32_t plane(unsigned i) const { return drmsim::plane_id(fd_, i); }
    uint32_t connector() const { return drmsim::connector_id(fd_, 0); }

    // The handover a program makes: screen 0 and plane `index` to CRTC
    // `index`, the framebuffer shown whole.
    void add_handover(Commit &c, unsigned index) {
        c.set(connector(), "CRTC_ID", crtc(index))
            .set(crtc(index), "MODE_ID", blob_)
            .set(crtc(index), "ACTIVE", 1)
            .set(plane(index), "FB_ID", fb_->id())
            .set(plane(index), "CRTC_ID", crtc(index));
        for (auto [name, value] : {std::pair{"SRC_X", 0u},
                                   {"SRC_Y", 0u},
                                   {"SRC_W", 640u << 16},
                                   {"SRC_H", 480u << 16},
                                   {"CRTC_X", 0u},
                                   {"CRTC_Y", 0u},
                                   {"CRTC_W", 640u},
                                   {"CRTC_H", 480u}})
            c.set(plane(index), name, value);
    }
    int hand_over(unsigned index, uint32_t flags = DRM_MODE_ATOMIC_ALLOW_MODESET) {
        Commit c(fd_);
        add_handover(c, index);
        return c.commit(flags);
    }

    std::unique_ptr<Device> dev_;
    int fd_ = -1;
    std::unique_ptr<SolidFb> fb_;
    drmModeModeInfo mode_{};
    uint32_t blob_ = 0;
};

// drm_setclientcap: the atomic cap brings universal planes, and
// drm_mode_object_get_properties shows atomic properties only to clients
// that have it.
TEST_F(SimTest, AtomicCapShowsAtomicPropertiesAndAllPlanes) {
    Device dev("small-3crtc.json");
    const uint32_t crtc = drmsim::crtc_id(dev.fd(), 0);
    EXPECT_TRUE(property_ids(dev.fd(), crtc).empty());
    ASSERT_EQ(drmSetClientCap(dev.fd(), DRM_CLIENT_CAP_ATOMIC, 1), 0);
    auto ids = property_ids(dev.fd(), crtc);
    EXPECT_EQ(ids.size(), 2u);
    EXPECT_TRUE(ids.count("ACTIVE") && ids.count("MODE_ID"));
    EXPECT_TRUE(property_ids(dev.fd(), drmsim::connector_id(dev.fd(), 0)).count("CRTC_ID"));
    EXPECT_EQ(property_ids(dev.fd(), drmsim::plane_id(dev.fd(), 0)).size(), 12u);
    drmModePlaneRes *planes = drmModeGetPlaneResources(dev.fd());
    ASSERT_NE(planes, nullptr);
    EXPECT_EQ(planes->count_planes, 5u);
    drmModeFreePlaneResources(planes);
}

// drm_property_create_bool/_blob/_object/_range/_signed_range: the types
// and ranges a client reads with GETPROPERTY.
TEST_F(AtomicTest, PropertiesHaveTheKernelsTypesAndRanges) {
    struct Expected {
        uint32_t object;
        const char *name;
        uint32_t type;
        std::vector<uint64_t> values;
    };
    const Expected cases[] = {
        {crtc(0), "ACTIVE", DRM_MODE_PROP_RANGE, {0, 1}},
        {crtc(0), "MODE_ID", DRM_MODE_PROP_BLOB, {}},
        {plane(0), "FB_ID", DRM_MODE_PROP_OBJECT, {DRM_MODE_OBJECT_FB}},
        {plane(0), "CRTC_ID", DRM_MODE_PROP_OBJECT, {DRM_MODE_OBJECT_CRTC}},
        {connector(), "CRTC_ID", DRM_MODE_PROP_OBJECT, {DRM_MODE_OBJECT_CRTC}},
        {plane(0), "SRC_W", DRM_MODE_PROP_RANGE, {0, UINT32_MAX}},
        {plane(0), "CRTC_X", DRM_MODE_PROP_SIGNED_RANGE, {uint64_t(int64_t(INT32_MIN)), INT32_MAX}},
        {plane(0), "CRTC_W", DRM_MODE_PROP_RANGE, {0, INT32_MAX}},
    };
    for (const Expected &e : cases) {
        drmModePropertyRes *p = drmModeGetProperty(fd_, property_ids(fd_, e.object)[e.name]);
        ASSERT_NE(p, nullptr) << e.name;
        EXPECT_TRUE(drm_property_type_is(p, e.type)) << e.name;
        EXPECT_TRUE(p->flags & DRM_MODE_PROP_ATOMIC) << e.name;
        EXPECT_EQ(std::vector<uint64_t>(p->values, p->values + p->count_values), e.values)
            << e.name;
        drmModeFreeProperty(p);
    }
}

// A handover commit takes effect as drm_atomic_helper_commit leaves it: the
// GET calls, the atomic properties and the picture all show the new state.
TEST_F(AtomicTest, HandoverCommitTakesEffect) {
    ASSERT_EQ(hand_over(0), 0);
    Commit c(fd_);
    c.set(crtc(0), "ACTIVE", 0)
        .set(crtc(0), "MODE_ID", 0)
        .set(plane(0), "FB_ID", 0)
        .set(plane(0), "CRTC_ID", 0);
    add_handover(c, 1);
    ASSERT_EQ(c.commit(DRM_MODE_ATOMIC_ALLOW_MODESET), 0);

    EXPECT_FALSE(drmsim::crtc_state(fd_, 0).active);
    const drmsim::CrtcState now = drmsim::crtc_state(fd_, 1);
    EXPECT_TRUE(now.active);
    EXPECT_EQ(now.fb, fb_->id());
    EXPECT_EQ(now.connectors, std::vector<uint32_t>{connector()});
    drmModeCrtc *got = drmModeGetCrtc(fd_, crtc(1));
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(got->buffer_id, fb_->id());
    EXPECT_TRUE(got->mode_valid);
    EXPECT_EQ(got->mode.hdisplay, 640);
    drmModeFreeCrtc(got);
    drmModeConnector *con = drmModeGetConnector(fd_, connector());
    ASSERT_NE(con, nullptr);
    drmModeEncoder *enc = drmModeGetEncoder(fd_, con->encoder_id);
    ASSERT_NE(enc, nullptr);
    EXPECT_EQ(enc->crtc_id, crtc(1));
    drmModeFreeEncoder(enc);
    drmModeFreeConnector(con);
    EXPECT_EQ(property_value(fd_, crtc(1), "MODE_ID"), blob_);
    EXPECT_EQ(property_value(fd_, crtc(0), "ACTIVE"), 0u);
    EXPECT_EQ(property_value(fd_, connector(), "CRTC_ID"), crtc(1));
    EXPECT_EQ(drmsim::scanout(fd_, 1).at(320, 240), 0x00ff00u);
    EXPECT_EQ(drmsim::scanout(fd_, 0).width, 0u);
}

// ACTIVE=0 alone switches the CRTC off but keeps its mode and routing
// (crtc_state->enable stays set): drm_mode_getcrtc still reports the mode
// as valid and the primary plane's framebuffer, though nothing is scanned
// out; switching it back on is a modeset.
TEST_F(AtomicTest, SwitchedOffCrtcKeepsItsMode) {
    ASSERT_EQ(hand_over(0), 0);
    ASSERT_EQ(Commit(fd_).set(crtc(0), "ACTIVE", 0).commit(DRM_MODE_ATOMIC_ALLOW_MODESET), 0);
    drmModeCrtc *got = drmModeGetCrtc(fd_, crtc(0));
    ASSERT_NE(got, nullptr);
    EXPECT_TRUE(got->mode_valid);
    EXPECT_EQ(got->mode.hdisplay, 640);
    EXPECT_EQ(got->buffer_id, fb_->id());
    drmModeFreeCrtc(got);
    EXPECT_EQ(property_value(fd_, crtc(0), "ACTIVE"), 0u);
    EXPECT_EQ(property_value(fd_, crtc(0), "MODE_ID"), blob_);
    EXPECT_EQ(property_value(fd_, connector(), "CRTC_ID"), crtc(0));
    EXPECT_EQ(drmsim::scanout(fd_, 0).width, 0u) << "nothing scanned out";
    EXPECT_EQ(Commit(fd_).set(crtc(0), "ACTIVE", 1).commit(0), EINVAL);
    ASSERT_EQ(Commit(fd_).set(crtc(0), "ACTIVE", 1).commit(DRM_MODE_ATOMIC_ALLOW_MODESET), 0);
    EXPECT_EQ(drmsim::scanout(fd_, 0).at(320, 240), 0x00ff00u);
}

// drm_atomic_helper_check_modeset compares modes with drm_mode_equal: the
// same timings in a new blob need no modeset; one other timing (a sync
// pulse a line longer, the picture unchanged) does, and commits once a
// modeset is allowed. drm_mode_convert_umode takes a clock and a refresh
// rate up to INT_MAX.
TEST_F(AtomicTest, OnlyAnotherModeIsAModeset) {
    ASSERT_EQ(hand_over(0), 0);
    drmModeModeInfo same = mode_, longer_sync = mode_, fastest = mode_, too_fast = mode_;
    std::strcpy(same.name, "renamed");
    ++longer_sync.vsync_end;
    fastest.clock = fastest.vrefresh = INT_MAX; // drm_mode_convert_umode's largest
    too_fast.vrefresh = uint32_t(INT_MAX) + 1;
    const uint32_t allow = DRM_MODE_ATOMIC_ALLOW_MODESET;
    for (auto [mode, flags, expected] :
         {std::tuple{&same, 0u, 0}, {&longer_sync, 0u, EINVAL}, {&longer_sync, allow, 0},
          {&fastest, allow, 0}, {&too_fast, allow, EINVAL}}) {
        uint32_t blob = 0;
        ASSERT_EQ(drmModeCreatePropertyBlob(fd_, mode, sizeof *mode, &blob), 0);
        EXPECT_EQ(Commit(fd_).set(crtc(0), "MODE_ID", blob).commit(flags), expected)
            << mode->name << " vsync_end " << mode->vsync_end << " flags " << flags;
        drmModeDestroyPropertyBlob(fd_, blob);
    }
}

// drm_mode_atomic_ioctl: TEST_ONLY runs drm_atomic_check_only and nothing
// else; the journal still records the call with its flags.
TEST_F(AtomicTest, TestOnlyCommitChangesNothing) {
    ASSERT_EQ(hand_over(2, DRM_MODE_ATOMIC_TEST_ONLY | DRM_MODE_ATOMIC_ALLOW_MODESET), 0);
    EXPECT_FALSE(drmsim::crtc_state(fd_, 2).active);
    EXPECT_EQ(property_value(fd_, plane(2), "FB_ID"), 0u);
    EXPECT_EQ(property_value(fd_, connector(), "CRTC_ID"), 0u);
    const auto journal = drmsim::journal();
    ASSERT_EQ(journal.size(), 1u);
    EXPECT_EQ(journal[0].request, "ATOMIC");
    EXPECT_EQ(journal[0].flags, DRM_MODE_ATOMIC_TEST_ONLY | DRM_MODE_ATOMIC_ALLOW_MODESET);
    // libdrm sends the objects and their properties sorted by id.
    ASSERT_EQ(journal[0].objects.size(), 3u);
    EXPECT_EQ(journal[0].objects[0].type, "plane");
    EXPECT_EQ(journal[0].objects[1].type, "crtc");
    EXPECT_EQ(journal[0].objects[1].index, 2);
    EXPECT_EQ(journal[0].objects[1].properties,
              (std::vector<std::pair<std::string, uint64_t>>{{"ACTIVE", 1}, {"MODE_ID", blob_}}));
    EXPECT_EQ(journal[0].objects[2].type, "connector");
    EXPECT_EQ(journal[0].result, 0);
}

// The journal line and the verbose account of a commit name its flags,
// objects and properties.
TEST_F(AtomicTest, JournalAndVerboseAccountNameTheCommit) {
    char path[] = "/tmp/drmsim-atomic-journal-XXXXXX";
    const int tmp = mkstemp(path);
    ASSERT_GE(tmp, 0);
    close(tmp);
    drmsim::set_journal_file(path);
    drmsim::set_verbose(true);
    testing::internal::CaptureStderr();
    EXPECT_EQ(hand_over(1, DRM_MODE_ATOMIC_TEST_ONLY | DRM_MODE_ATOMIC_ALLOW_MODESET), 0);
    const std::string told = testing::internal::GetCapturedStderr();
    drmsim::set_verbose(false);
    drmsim::set_journal_file("");
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    std::remove(path);

    const std::string crtc_part = "; crtc 1 (id " + std::to_string(crtc(1)) +
                                  ") ACTIVE=1 MODE_ID=" + std::to_string(blob_) + ";";
    EXPECT_NE(told.find("ATOMIC TEST_ONLY ALLOW_MODESET: plane 1 (id "), std::string::npos) << told;
    EXPECT_NE(told.find(crtc_part), std::string::npos) << told;
    EXPECT_NE(told.find("; connector HDMI-A-1 (id "), std::string::npos) << told;
    EXPECT_NE(told.find(": ok\n"), std::string::npos) << told;
    const auto j = nlohmann::json::parse(line);
    EXPECT_EQ(j["request"], "ATOMIC");
    EXPECT_EQ(j["flags"], (nlohmann::json{"TEST_ONLY", "ALLOW_MODESET"}));
    EXPECT_EQ(j["objects"][1]["type"], "crtc");
    EXPECT_EQ(j["objects"][1]["index"], 1);
    EXPECT_EQ(j["objects"][1]["properties"], nlohmann::json::parse("[[\"ACTIVE\",1],[\"MODE_ID\"," +
                                                                   std::to_string(blob_) + "]]"));
    EXPECT_EQ(j["result"], 0);
}

class AtomicRefusal;
struct Refusal {
    const char *name;
    const char *mirrors;                        // the kernel check
    std::function<int(AtomicRefusal &)> commit; // errno of the commit
    int expected;
};

// Named in test listings by its name, not by a dump of its bytes.
void PrintTo(const Refusal &c, std::ostream *os) {
    *os << c.name;
}

class AtomicRefusal : public AtomicTest, public ::testing::WithParamInterface<Refusal> {};

// Each refusal answers the kernel's errno and leaves the device as it was.
TEST_P(AtomicRefusal, IsRefusedWithTheKernelsErrnoAndChangesNothing) {
    const Refusal &r = GetParam();
    EXPECT_EQ(r.commit(*this), r.expected) << r.mirrors;
    for (unsigned i = 0; i < 3; ++i)
        EXPECT_FALSE(drmsim::crtc_state(fd_, i).active) << "CRTC " << i;
    EXPECT_EQ(property_value(fd_, connector(), "CRTC_ID"), 0u);
}

using T = AtomicRefusal;
INSTANTIATE_TEST_SUITE_P(
    Checks, AtomicRefusal,
    ::testing::Values(
        Refusal{"UnknownFlag", "drm_mode_atomic_ioctl: flags outside DRM_MODE_ATOMIC_FLAGS",
                [](T &t) { return t.hand_over(0, DRM_MODE_ATOMIC_ALLOW_MODESET | 0x1000); },
                EINVAL},
        Refusal{"TestOnlyWithEvent", "drm_mode_atomic_ioctl: test-only with a page-flip event",
                [](T &t) {
                    return t.hand_over(0, DRM_MODE_ATOMIC_TEST_ONLY | DRM_MODE_PAGE_FLIP_EVENT |
                                              DRM_MODE_ATOMIC_ALLOW_MODESET);
                },
                EINVAL},
        Refusal{"AsyncFlip", "drm_mode_atomic_ioctl: DRM_MODE_PAGE_FLIP_ASYNC",
                [](T &t) {
                    return t.hand_over(0, DRM_MODE_PAGE_FLIP_ASYNC | DRM_MODE_ATOMIC_ALLOW_MODESET);
                },
                EINVAL},
        Refusal{"UnknownObject", "drm_mode_atomic_ioctl: drm_mode_object_find",
                [](T &t) { return Commit(t.fd_).set(9999, "ACTIVE", 1).commit(0); }, ENOENT},
        Refusal{"ObjectWithoutProperties", "drm_mode_atomic_ioctl: !obj->properties",
                [](T &t) {
                    return Commit(t.fd_).set(drmsim::encoder_id(t.fd_, 0), "ACTIVE", 1).commit(0);
                },
                ENOENT},
        Refusal{"PropertyNotOnObject", "drm_mode_obj_find_prop_id",
                [](T &t) { return Commit(t.fd_).set(t.crtc(0), "FB_ID", 0).commit(0); }, ENOENT},
        Refusal{"ImmutableProperty", "drm_property_change_valid_get: immutable",
                [](T &t) { return Commit(t.fd_).set(t.plane(0), "type", 1).commit(0); }, EINVAL},
        Refusal{"ActiveOutOfRange", "drm_property_change_valid_get: range",
                [](T &t) { return Commit(t.fd_).set(t.crtc(0), "ACTIVE", 2).commit(0); }, EINVAL},
        Refusal{"UnknownModeBlob", "drm_property_change_valid_get: blob lookup",
                [](T &t) { return Commit(t.fd_).set(t.crtc(0), "MODE_ID", 9999).commit(0); },
                EINVAL},
        Refusal{"UnknownFramebuffer", "drm_property_change_valid_get: object lookup",
                [](T &t) { return Commit(t.fd_).set(t.plane(0), "FB_ID", 9999).commit(0); },
                EINVAL},
        Refusal{"ModeBlobOfWrongSize", "drm_atomic_set_mode_prop_for_crtc: blob length",
                [](T &t) {
                    uint32_t small = 0, bytes = 7;
                    drmModeCreatePropertyBlob(t.fd_, &bytes, sizeof bytes, &small);
                    int r = Commit(t.fd_).set(t.crtc(0), "MODE_ID", small).commit(0);
                    drmModeDestroyPropertyBlob(t.fd_, small);
                    return r;
                },
                EINVAL},
        Refusal{"DpmsInACommit", "drm_atomic_connector_set_property: DPMS",
                [](T &t) { return Commit(t.fd_).set(t.connector(), "DPMS", 0).commit(0); }, EINVAL},
        Refusal{"ModesetWithoutAllowModeset", "drm_atomic_check_only: needs_modeset",
                [](T &t) { return t.hand_over(0, 0); }, EINVAL},
        Refusal{"ActiveWithoutMode", "drm_atomic_crtc_check: active without enabled",
                [](T &t) {
                    return Commit(t.fd_)
                        .set(t.crtc(0), "ACTIVE", 1)
                        .commit(DRM_MODE_ATOMIC_ALLOW_MODESET);
                },
                EINVAL},
        Refusal{"ModeWithoutConnectors",
                "drm_atomic_helper_check_modeset: enabled/connectors mismatch",
                [](T &t) {
                    return Commit(t.fd_)
                        .set(t.crtc(0), "MODE_ID", t.blob_)
                        .set(t.crtc(0), "ACTIVE", 1)
                        .commit(DRM_MODE_ATOMIC_ALLOW_MODESET);
                },
                EINVAL},
        Refusal{"PlaneOutsidePossibleCrtcs", "drm_atomic_plane_check: possible_crtcs",
                [](T &t) {
                    Commit c(t.fd_);
                    t.add_handover(c, 1);
                    c.set(t.plane(0), "FB_ID", t.fb_->id()).set(t.plane(0), "CRTC_ID", t.crtc(1));
                    return c.commit(DRM_MODE_ATOMIC_ALLOW_MODESET);
                },
                EINVAL},
        Refusal{"FormatThePlaneDoesNotList", "drm_atomic_plane_check: pixel format",
                [](T &t) {
                    Commit c(t.fd_);
                    t.add_handover(c, 0); // and an XR24 picture on the AR24-only cursor plane
                    c.set(t.plane(4), "FB_ID", t.fb_->id()).set(t.plane(4), "CRTC_ID", t.crtc(0));
                    return c.commit(DRM_MODE_ATOMIC_ALLOW_MODESET);
                },
                EINVAL},
        Refusal{"PlaneWithFramebufferButNoCrtc", "drm_atomic_plane_check: FB set but no CRTC",
                [](T &t) {
                    Commit c(t.fd_);
                    t.add_handover(c, 0);
                    c.set(t.plane(0), "CRTC_ID", 0);
                    return c.commit(DRM_MODE_ATOMIC_ALLOW_MODESET);
                },
                EINVAL},
        Refusal{"PlaneWithCrtcButNoFramebuffer", "drm_atomic_plane_check: CRTC set but no FB",
                [](T &t) {
                    Commit c(t.fd_);
                    t.add_handover(c, 0);
                    c.set(t.plane(0), "FB_ID", 0);
                    return c.commit(DRM_MODE_ATOMIC_ALLOW_MODESET);
                },
                EINVAL},
        Refusal{"SourceOutsideFramebuffer", "drm_atomic_plane_check: source coordinates",
                [](T &t) {
                    Commit c(t.fd_);
                    t.add_handover(c, 0);
                    c.set(t.plane(0), "SRC_W", 641u << 16);
                    return c.commit(DRM_MODE_ATOMIC_ALLOW_MODESET);
                },
                ENOSPC},
        Refusal{
            "EventWithoutCrtc", "prepare_signaling: an event needs a CRTC",
            [](T &t) {
                return Commit(t.fd_).set(t.plane(3), "FB_ID", 0).commit(DRM_MODE_PAGE_FLIP_EVENT);
            },
            EINVAL}),
    [](const auto &info) { return std::string(info.param.name); });

// drm_mode_atomic_ioctl refuses a client without the cap; a legacy-only
// driver (radeon) refuses the cap and the ioctl with EOPNOTSUPP.
TEST_F(SimTest, AtomicNeedsTheCapAndAnAtomicDriver) {
    Device dev("small-3crtc.json");
    drmModeAtomicReq *req = drmModeAtomicAlloc();
    drmModeAtomicAddProperty(req, drmsim::crtc_id(dev.fd(), 0), 1, 0);
    EXPECT_EQ(drmModeAtomicCommit(dev.fd(), req, 0, nullptr), -EINVAL);

    Device legacy = Device::from_text(R"({"crtcs": 1, "atomic": false})");
    EXPECT_EQ(drmSetClientCap(legacy.fd(), DRM_CLIENT_CAP_ATOMIC, 1), -1);
    EXPECT_EQ(errno, EOPNOTSUPP);
    EXPECT_EQ(drmModeAtomicCommit(legacy.fd(), req, 0, nullptr), -EOPNOTSUPP);
    drmModeAtomicFree(req);
}

// drm_mode_createblob_ioctl / drm_mode_destroyblob_ioctl: empty blobs are
// EINVAL, unknown ones EINVAL, the kernel's own (a SETCRTC mode's) EPERM; a
// blob a CRTC shows outlives its destruction; the leak report lists the
// file's blobs until they are destroyed, and closing releases them.
TEST_F(AtomicTest, BlobsLiveAsTheKernelsDo) {
    uint32_t id = 0;
    EXPECT_EQ(drmModeCreatePropertyBlob(fd_, &mode_, 0, &id), -EINVAL);
    EXPECT_EQ(drmsim::leaks(fd_).blobs, std::vector<uint32_t>{blob_});

    ASSERT_EQ(hand_over(0), 0);
    ASSERT_EQ(drmModeDestroyPropertyBlob(fd_, blob_), 0);
    EXPECT_TRUE(drmsim::leaks(fd_).blobs.empty());
    EXPECT_EQ(drmModeDestroyPropertyBlob(fd_, blob_), -EPERM); // still alive: the CRTC's
    drmModePropertyBlobRes *kept = drmModeGetPropertyBlob(fd_, blob_);
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(std::memcmp(kept->data, &mode_, sizeof mode_), 0);
    drmModeFreePropertyBlob(kept);

    uint32_t con = connector();
    ASSERT_EQ(drmModeSetCrtc(fd_, crtc(2), fb_->id(), 0, 0, &con, 1, &mode_), 0);
    const uint64_t kernel_blob = property_value(fd_, crtc(2), "MODE_ID");
    EXPECT_NE(kernel_blob, 0u);
    EXPECT_EQ(drmModeDestroyPropertyBlob(fd_, uint32_t(kernel_blob)), -EPERM);
    EXPECT_EQ(drmModeDestroyPropertyBlob(fd_, 9999), -EINVAL);

    ASSERT_EQ(drmModeCreatePropertyBlob(fd_, &mode_, sizeof mode_, &id), 0);
    const int fd = fd_;
    fb_.reset();
    dev_.reset();
    EXPECT_TRUE(drmsim::leaks(fd).closed);
    EXPECT_EQ(drmsim::leaks(fd).blobs, std::vector<uint32_t>{id});
    blob_ = 0;
}

// An injected "ignore" answers a commit 0 and changes nothing, as a faulty
// driver might.
TEST_F(AtomicTest, IgnoredCommitChangesNothing) {
    drmsim::ignore("atomic", 1);
    EXPECT_EQ(hand_over(0), 0);
    EXPECT_FALSE(drmsim::crtc_state(fd_, 0).active);
    EXPECT_EQ(hand_over(0), 0);
    EXPECT_TRUE(drmsim::crtc_state(fd_, 0).active);
}

} // namespace
