// SPDX-License-Identifier: MIT
// Reading a handover back from the kernel: did the CRTC really take the
// screen? Used after every successful mode set when --verify is given.
#pragma once

#include <cstdint>
#include <string>

#include "kms_objects.h"

struct HandoverCheck {
    kms_screen *screen = nullptr;
    kms_crtc *crtc = nullptr;            // the CRTC just given the screen
    const kms_framebuffer *fb = nullptr; // what it must show, from 0,0
    uint32_t previous_crtc_id = 0;       // the CRTC that drove the screen before; 0 for none
    // atomic: the primary plane committed to show fb. The kernel reports a
    // CRTC's framebuffer from the CRTC's own primary plane, so a plane that
    // came from another CRTC is read back itself (its CRTC, framebuffer and
    // source and screen positions).
    const kms_plane *plane = nullptr;
};

// Empty when the kernel reports the handover in effect; otherwise what
// differed, in words ("CRTC 1 shows framebuffer 0, not 43").
std::string verify_handover(const HandoverCheck &check);

// The id of the CRTC that drives the screen now, 0 for none (or when the
// state cannot be read).
uint32_t crtc_driving(const kms_screen *screen);

// Empty when GETFB2 reports the framebuffer as it was registered: its
// size, format, each plane's pitch and offset, and a linear layout;
// otherwise what differed.
std::string verify_framebuffer(const kms_framebuffer &fb);

struct PlaneCheck {
    const kms_plane *plane = nullptr;
    const kms_crtc *crtc = nullptr;      // where it must be
    const kms_framebuffer *fb = nullptr; // what it must show, whole and unscaled
    int32_t x = 0, y = 0;                // at this position
};

// Empty when GETPLANE reports the plane on the CRTC with the framebuffer
// and, for an atomic client, its properties give the position and size;
// otherwise what differed.
std::string verify_plane(const PlaneCheck &check);
