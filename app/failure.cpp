// SPDX-License-Identifier: MIT
// The program's one way of reporting a failed call (failure.h).
#include "failure.h"

#include <cstdio>

void print_kms_failure(const char *call, int result) {
    std::fprintf(stderr, "%s failed: %d\n", call, result);
}

void print_system_failure(const char *call) {
    std::fprintf(stderr, "%s failed: %m\n", call);
}
