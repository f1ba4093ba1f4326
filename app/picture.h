// The picture the relay shows: SMPTE colour bars in a dumb framebuffer at
// the screen's mode.
#pragma once

#include "kms_objects.h"

// Creates and draws the framebuffer at the screen's mode. On success stores
// it in *fb_out and returns true; on failure prints the failed operation and
// returns false (with *fb_out set to whatever must still be destroyed).
bool draw_smpte(kms_device *device, kms_screen *screen, kms_framebuffer **fb_out);
