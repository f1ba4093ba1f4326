// SPDX-License-Identifier: MIT
// The test API of drmsim.h over the process-wide session.
#include <fcntl.h>
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "drmsim.h"
#include "requests.h"
#include "session.h"
#include "virtual_clock.h"

namespace drmsim {
namespace {

ModeSummary summary(const drm_mode_modeinfo &m) {
    return {std::string(m.name, strnlen(m.name, sizeof m.name)), m.hdisplay, m.vdisplay};
}

template <typename T>
uint32_t id_at(const std::vector<T> &objects, unsigned index, const char *what) {
    if (index >= objects.size())
        throw std::out_of_range(std::string("no ") + what + " with index " + std::to_string(index));
    return objects[index].id;
}

} // namespace

int open_device(const std::string &description_json_text) {
    return Session::get().open_description(description_json_text, "(in-process description)",
                                           O_RDWR);
}

int open_device_file(const std::string &path) {
    std::ifstream in(path);
    if (!in)
        return -1;
    std::stringstream text;
    text << in.rdbuf();
    return Session::get().open_description(text.str(), path, O_RDWR);
}

std::vector<RequestInfo> request_table() {
    std::vector<RequestInfo> table;
    for (const Request &r : requests())
        table.push_back(
            {std::string(r.name), r.round != nullptr, r.description != nullptr, r.ignorable});
    return table;
}

void fail(std::string_view request, unsigned nth, int err) {
    Session::get().fail(request, nth, err);
}

void ignore(std::string_view request, unsigned nth) {
    Session::get().fail(request, nth, 0);
}
void delay(std::string_view request, unsigned milliseconds) {
    Session::get().delay(request, milliseconds);
}
void reset() {
    Session::get().reset();
}
unsigned request_count(std::string_view request) {
    return Session::get().request_count(request);
}
std::vector<JournalEntry> journal() {
    return Session::get().journal();
}
LeakReport leaks(int fd) {
    return Session::get().leaks(fd);
}

Picture scanout(int fd, unsigned crtc_index) {
    return Session::get().with_device(fd, [&](Device &d) {
        if (crtc_index >= d.crtcs().size())
            throw std::out_of_range("no CRTC with index " + std::to_string(crtc_index));
        return d.compose(crtc_index);
    });
}

Picture scanout(unsigned crtc_index) {
    return scanout(Session::get().last_opened(), crtc_index);
}

CrtcState crtc_state(int fd, unsigned crtc_index) {
    return Session::get().with_device(fd, [&](Device &d) {
        if (crtc_index >= d.crtcs().size())
            throw std::out_of_range("no CRTC with index " + std::to_string(crtc_index));
        const Crtc &c = d.crtcs()[crtc_index];
        CrtcState s;
        s.active = c.active && !c.switched_off;
        auto fb = d.crtc_framebuffer(crtc_index);
        s.fb = fb ? fb->id : 0;
        s.x = c.x;
        s.y = c.y;
        if (c.active)
            s.mode = summary(c.mode);
        for (unsigned con : c.connectors)
            s.connectors.push_back(d.connectors()[con].id);
        return s;
    });
}

std::vector<uint8_t> framebuffer_bytes(int fd, uint32_t fb_id) {
    return Session::get().with_device(fd, [&](Device &d) {
        auto fb = d.framebuffer(fb_id);
        if (!fb)
            throw std::out_of_range("no framebuffer " + std::to_string(fb_id));
        auto bytes = fb->buffers[0]->bytes();
        size_t begin = fb->offsets[0];
        size_t end = std::min(bytes.size(), begin + size_t(fb->pitches[0]) * fb->height);
        return std::vector<uint8_t>(bytes.begin() + long(begin), bytes.begin() + long(end));
    });
}

uint32_t crtc_id(int fd, unsigned index) {
    return Session::get().with_device(fd,
                                      [&](Device &d) { return id_at(d.crtcs(), index, "CRTC"); });
}
uint32_t connector_id(int fd, unsigned index) {
    return Session::get().with_device(
        fd, [&](Device &d) { return id_at(d.connectors(), index, "connector"); });
}
uint32_t encoder_id(int fd, unsigned index) {
    return Session::get().with_device(
        fd, [&](Device &d) { return id_at(d.encoders(), index, "encoder"); });
}
uint32_t plane_id(int fd, unsigned index) {
    return Session::get().with_device(fd,
                                      [&](Device &d) { return id_at(d.planes(), index, "plane"); });
}

void use_virtual_clock(bool on) {
    VirtualClock::get().set_on(on);
}
void add_event(std::string_view event) {
    VirtualClock::get().add_event(event);
}
double virtual_now() {
    return VirtualClock::get().now();
}

void set_journal_file(const std::string &path) {
    Session::get().set_journal_file(path);
}
void set_report_file(const std::string &path) {
    Session::get().set_report_file(path);
}
void set_snapshot_dir(const std::string &dir) {
    Session::get().set_snapshot_dir(dir);
}
void set_verbose(bool on) {
    Session::get().set_verbose(on);
}

void set_debugfs_dir(const std::string &dir) {
    Session::get().set_debugfs_dir(dir);
}

void set_pixel_faults(const std::string &faults) {
    Session::get().set_pixel_faults(faults);
}

} // namespace drmsim
