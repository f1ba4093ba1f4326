// SPDX-License-Identifier: MIT
// How the program says on stderr that a call failed: "<call> failed: <why>".
// Object-layer calls return 0 or -errno and that result is printed as it is
// ("kms_screen_set() failed: -22"); system calls leave errno, printed as the
// system's text ("open() failed: No such file or directory").
#pragma once

void print_kms_failure(const char *call, int result);
// Reads errno.
void print_system_failure(const char *call);
