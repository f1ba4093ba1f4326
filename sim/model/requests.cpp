// SPDX-License-Identifier: MIT
// The request table: every request the device answers, one row each (requests.h).
#include "requests.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "device.h"
#include "request_descriptions.h"

namespace drmsim {
namespace {

template <typename>
struct ArgumentOf;
template <typename A>
struct ArgumentOf<int (Device::*)(A &)> {
    using type = A;
};

// A row's handler: the device member that answers the request, given the
// ioctl's argument as the structure the kernel would copy in.
template <auto Member>
int handle(Device &device, void *arg) {
    using Arg = typename ArgumentOf<decltype(Member)>::type;
    return (device.*Member)(*static_cast<Arg *>(arg));
}

// The only client is always master.
int always_master(Device &, void *) {
    return 0;
}

// AUTH_MAGIC: the only client is master, so the kernel's master check
// passes; no client holds a magic token, so any token is unknown (EINVAL),
// as drm_authmagic answers. libdrm's drmIsMaster asks with token 0.
int authenticate_magic(Device &, void *) {
    return -EINVAL;
}

template <typename T>
const T &as(const void *arg) {
    return *static_cast<const T *>(arg);
}

constexpr Round kResourcesRound{
    [](const void *a) {
        auto &r = as<drm_mode_card_res>(a);
        return !r.fb_id_ptr && !r.crtc_id_ptr && !r.connector_id_ptr && !r.encoder_id_ptr;
    },
    [](const void *a) {
        auto &r = as<drm_mode_card_res>(a);
        return !r.count_fbs && !r.count_crtcs && !r.count_connectors && !r.count_encoders;
    }};
// libdrm may pass a one-mode buffer on the first ioctl, so the mode pointer
// says nothing; connectors always have properties.
constexpr Round kConnectorRound{[](const void *a) {
                                    auto &c = as<drm_mode_get_connector>(a);
                                    return !c.props_ptr && !c.encoders_ptr;
                                },
                                [](const void *a) {
                                    auto &c = as<drm_mode_get_connector>(a);
                                    return !c.count_props && !c.count_encoders;
                                }};
constexpr Round kPlaneResourcesRound{
    [](const void *a) { return !as<drm_mode_get_plane_res>(a).plane_id_ptr; },
    [](const void *a) { return !as<drm_mode_get_plane_res>(a).count_planes; }};
constexpr Round kPlaneRound{
    [](const void *a) { return !as<drm_mode_get_plane>(a).format_type_ptr; },
    [](const void *a) { return !as<drm_mode_get_plane>(a).count_format_types; }};
constexpr Round kPropertiesRound{
    [](const void *a) {
        auto &p = as<drm_mode_obj_get_properties>(a);
        return !p.props_ptr && !p.prop_values_ptr;
    },
    [](const void *a) { return !as<drm_mode_obj_get_properties>(a).count_props; }};
constexpr Round kBlobRound{[](const void *a) { return !as<drm_mode_get_blob>(a).data; },
                           [](const void *a) { return !as<drm_mode_get_blob>(a).length; }};
constexpr Round kPropertyRound{[](const void *a) {
                                   auto &p = as<drm_mode_get_property>(a);
                                   return !p.values_ptr && !p.enum_blob_ptr;
                               },
                               [](const void *a) {
                                   auto &p = as<drm_mode_get_property>(a);
                                   return !p.count_values && !p.count_enum_blobs;
                               }};

// mmap of the device descriptor is not an ioctl, but it is counted, can
// fail and can be delayed like one.
constexpr Request kRequests[] = {
    {.number = DRM_IOCTL_MODE_GETRESOURCES,
     .name = "getresources",
     .handler = handle<&Device::get_resources>,
     .round = &kResourcesRound},
    {.number = DRM_IOCTL_MODE_GETCONNECTOR,
     .name = "getconnector",
     .handler = handle<&Device::get_connector>,
     .round = &kConnectorRound},
    {.number = DRM_IOCTL_MODE_GETENCODER,
     .name = "getencoder",
     .handler = handle<&Device::get_encoder>},
    {.number = DRM_IOCTL_MODE_GETCRTC, .name = "getcrtc", .handler = handle<&Device::get_crtc>},
    {.number = DRM_IOCTL_MODE_GETPLANERESOURCES,
     .name = "getplaneresources",
     .handler = handle<&Device::get_plane_resources>,
     .round = &kPlaneResourcesRound},
    {.number = DRM_IOCTL_MODE_GETPLANE,
     .name = "getplane",
     .handler = handle<&Device::get_plane>,
     .round = &kPlaneRound},
    {.number = DRM_IOCTL_MODE_OBJ_GETPROPERTIES,
     .name = "getproperties",
     .handler = handle<&Device::get_properties>,
     .round = &kPropertiesRound},
    {.number = DRM_IOCTL_MODE_GETPROPERTY,
     .name = "getproperty",
     .handler = handle<&Device::get_property>,
     .round = &kPropertyRound},
    {.number = DRM_IOCTL_MODE_CREATE_DUMB,
     .name = "createdumb",
     .handler = handle<&Device::create_dumb>},
    {.number = DRM_IOCTL_MODE_MAP_DUMB, .name = "mapdumb", .handler = handle<&Device::map_dumb>},
    {.number = DRM_IOCTL_MODE_DESTROY_DUMB,
     .name = "destroydumb",
     .handler = handle<&Device::destroy_dumb>},
    {.number = 0, .name = "mmap"},
    {.number = DRM_IOCTL_MODE_ADDFB2, .name = "addfb2", .handler = handle<&Device::add_fb2>},
    {.number = DRM_IOCTL_MODE_ADDFB, .name = "addfb", .handler = handle<&Device::add_fb>},
    {.number = DRM_IOCTL_MODE_RMFB, .name = "rmfb", .handler = handle<&Device::remove_fb>},
    {.number = DRM_IOCTL_MODE_GETFB2, .name = "getfb2", .handler = handle<&Device::get_fb2>},
    {.number = DRM_IOCTL_MODE_SETCRTC,
     .name = "setcrtc",
     .handler = handle<&Device::set_crtc>,
     .ignorable = true,
     .faulty_handler =
         [](Device &device, void *arg, DriverFault fault) {
             return device.set_crtc_faultily(*static_cast<drm_mode_crtc *>(arg), fault);
         },
     .description = &kSetCrtcDescription,
     .ties_events = true},
    {.number = DRM_IOCTL_MODE_SETPLANE,
     .name = "setplane",
     .handler = handle<&Device::set_plane>,
     .ignorable = true,
     .description = &kSetPlaneDescription},
    {.number = DRM_IOCTL_MODE_ATOMIC,
     .name = "atomic",
     .handler = handle<&Device::atomic>,
     .ignorable = true,
     .description = &kAtomicDescription,
     .ties_events = true},
    {.number = DRM_IOCTL_MODE_CREATEPROPBLOB,
     .name = "createpropblob",
     .handler = handle<&Device::create_blob>},
    {.number = DRM_IOCTL_MODE_DESTROYPROPBLOB,
     .name = "destroypropblob",
     .handler = handle<&Device::destroy_blob>},
    {.number = DRM_IOCTL_MODE_GETPROPBLOB,
     .name = "getpropblob",
     .handler = handle<&Device::get_blob>,
     .round = &kBlobRound},
    {.number = DRM_IOCTL_MODE_GETGAMMA,
     .name = "getgamma",
     .handler = handle<&Device::get_gamma>},
    {.number = DRM_IOCTL_MODE_SETGAMMA,
     .name = "setgamma",
     .handler = handle<&Device::set_gamma>},
    {.number = DRM_IOCTL_SET_CLIENT_CAP,
     .name = "setclientcap",
     .handler = handle<&Device::set_client_cap>},
    {.number = DRM_IOCTL_GET_CAP, .name = "getcap", .handler = handle<&Device::get_cap>},
    {.number = DRM_IOCTL_VERSION, .name = "version", .handler = handle<&Device::version>},
    {.number = DRM_IOCTL_GEM_CLOSE, .name = "gemclose", .handler = handle<&Device::gem_close>},
    {.number = DRM_IOCTL_SET_MASTER,
     .name = "setmaster",
     .handler = always_master,
     .argument_optional = true},
    {.number = DRM_IOCTL_DROP_MASTER,
     .name = "dropmaster",
     .handler = always_master,
     .argument_optional = true},
    {.number = DRM_IOCTL_AUTH_MAGIC, .name = "authmagic", .handler = authenticate_magic},
};

} // namespace

std::span<const Request> requests() {
    return kRequests;
}

const Request &mmap_request() {
    for (const Request &r : kRequests)
        if (r.number == 0)
            return r;
    std::abort(); // the table lost its mmap row
}

const Request *find_request(unsigned long number) {
    if (number == 0)
        return nullptr;
    for (const Request &r : kRequests)
        if (r.number == number)
            return &r;
    return nullptr;
}

const Request *find_request(std::string_view name) {
    for (const Request &r : kRequests)
        if (r.name == name)
            return &r;
    return nullptr;
}

std::string journal_name(const Request &request) {
    std::string s(request.name);
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::toupper(c); });
    return s;
}

} // namespace drmsim
