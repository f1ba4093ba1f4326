#!/usr/bin/env bash
# Installs what is missing, builds the sanitizer test configuration and runs
# every test (unit, program, fuzzing and the real-kernel tests).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake --preset test
cmake --build --preset test
ctest --preset test "$@"
