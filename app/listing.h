// SPDX-License-Identifier: MIT
// --list: what the device has, read without setting any mode, so that it
// can run beside a display server.
#pragma once

#include <cstdio>

#include "kms_objects.h"

// Prints the screens (only `only` when not null: its encoders too), CRTCs,
// encoders and planes to `out`. Objects whose state cannot be read are
// printed with the error in place of the state. A screen is named twice:
// ours ("HDMI-A-0") and the kernel's ("HDMI-A-1").
void print_listing(kms_device *device, const kms_screen *only, std::FILE *out);

// The same facts as one JSON document (schema in the README, "--list
// --json"), with the driver's name, version and date.
void print_listing_json(kms_device *device, const kms_screen *only, std::FILE *out);
