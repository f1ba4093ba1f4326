#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what is missing, builds the sanitizer test configuration and runs
# every test (unit, program, fuzzing, the real-kernel and the big-endian
# tests).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh test
cmake --preset test
cmake --build --preset test
started=$(mktemp)
trap 'rm -f "$started"' EXIT
status=0
ctest --preset test "$@" || status=$?
page=build/test/tests/kernel/kernel-matrix.html
if [ "$page" -nt "$started" ]; then
  echo "Kernel tests, every run with its screens: $PWD/$page"
fi
exit "$status"
