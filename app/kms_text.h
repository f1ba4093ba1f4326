// SPDX-License-Identifier: MIT
// How the program names KMS things in its messages and its listing: modes,
// CRTCs by id, format codes and sets of CRTC indices.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "kms_objects.h"

// "1920x1080@60".
std::string mode_text(uint32_t width, uint32_t height, uint32_t refresh_hz);
// The same for a mode, with "i" after the height for an interlaced one
// ("1920x1080i@60") and "d" for a doublescan one; "no modes" for an
// all-zero one.
std::string mode_text(const drmModeModeInfo &mode);
// "i", "d" or "" as above, from a mode's flags.
std::string scan_letter(uint32_t flags);

// "connected", "disconnected" or "unknown": the kernel's connection state.
const char *connection_name(const kms_screen &screen);

// The index of the CRTC with this id among the device's, if it has one.
std::optional<uint32_t> crtc_index(const kms_device &device, uint32_t id);
// "1 (id 37)"; "id 37" for an id the device does not list.
std::string crtc_text(const kms_device &device, uint32_t id);

// "XR24": a format code's characters, '?' for each that is not
// printable, without the blanks that pad short codes ("C8").
std::string fourcc_text(uint32_t code);

// "0, 2": the indices of the bits set in `mask`, below `count`; "none".
std::string index_list(uint32_t mask, uint32_t count);

// The report's name of the step an atomic call failed in ("plane").
const char *atomic_step_name(kms_atomic_step step);
