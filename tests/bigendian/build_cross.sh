#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Configures and builds the big-endian test programs (cross/), then checks
# that they are what the label claims: static big-endian s390x programs.
# Usage: build_cross.sh SOURCE BUILD TARGETS_FILE PROGRAMS_FILE [COMPILER_LAUNCHER]
set -euo pipefail

source=$1
build=$2
targets=$3
programs=$4
launcher=${5:-}
here=$(cd "$(dirname "$0")" && pwd)

for tool in s390x-linux-gnu-g++ qemu-s390x-static; do
  if ! command -v "$tool" >/dev/null; then
    echo "$tool is not installed; run scripts/setup.sh" >&2
    exit 1
  fi
done

configure=(-S "$source" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
           -DCMAKE_TOOLCHAIN_FILE="$here/s390x.cmake" -DTARGETS_FILE="$targets")
if [ -n "$launcher" ]; then
  configure+=(-DCMAKE_CXX_COMPILER_LAUNCHER="$launcher" -DCMAKE_C_COMPILER_LAUNCHER="$launcher")
fi
cmake "${configure[@]}" >"$build.configure.log" 2>&1 || { cat "$build.configure.log" >&2; exit 1; }
cmake --build "$build"

while read -r program; do
  header=$(readelf -h "$build/$program")
  if ! grep -q "big endian" <<<"$header" || ! grep -q "IBM S/390" <<<"$header"; then
    echo "$build/$program is not a big-endian s390x program:" >&2
    echo "$header" >&2
    exit 1
  fi
  if readelf -l "$build/$program" | grep -q INTERP; then
    echo "$build/$program is not statically linked" >&2
    exit 1
  fi
  echo "$program: static big-endian s390x program"
done <"$programs"
