// SPDX-License-Identifier: MIT
// --list: what the device has, read without setting any mode, so that it
// can run beside a display server.
#pragma once

#include <cstdio>

#include "kms_objects.h"

// Prints the screens, CRTCs, encoders and planes to `out`. Objects whose
// state cannot be read are printed with the error in place of the state.
void print_listing(kms_device *device, std::FILE *out);
