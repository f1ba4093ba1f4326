#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the pattern fuzzer with clang (libFuzzer, ASan, UBSan) when one of
# its sources is newer than the binary, then runs it for a bounded time.
# Usage: run_fuzzer.sh BINARY SECONDS SOURCE_DIR SOURCE...
# A crash, a stray write or a difference from the reference fails the run.
# FUZZER_WERROR=-Werror makes warnings errors, as the build's option does.
set -euo pipefail

binary=$1
seconds=$2
source_dir=$3
shift 3
sources=("$@")

rebuild=0
if [ ! -x "$binary" ]; then
  rebuild=1
else
  for f in "${sources[@]}" "$source_dir"/pattern/*.h "$source_dir"/tests/pattern/yuv_tiles_gradient/*.h \
           "$source_dir"/tests/pattern/rgb/*.h; do
    if [ "$f" -nt "$binary" ]; then rebuild=1; break; fi
  done
fi

if [ "$rebuild" -eq 1 ]; then
  echo "building $binary"
  mkdir -p "$(dirname "$binary")"
  clang++ -std=c++20 -g -O1 -Wall -Wextra ${FUZZER_WERROR:-} \
    -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer \
    -I"$source_dir/pattern" -I"$source_dir/tests/pattern/yuv_tiles_gradient" \
    "${sources[@]}" -o "$binary.tmp"
  mv "$binary.tmp" "$binary"
fi

corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
"$binary" "$corpus" -max_total_time="$seconds" -seed=20261207 -max_len=32 \
  -rss_limit_mb=2048 -print_final_stats=1
