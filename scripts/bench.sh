#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the bench configuration (Release) and runs the pattern benchmarks. Extra
# arguments go to the benchmark program, e.g.
#   scripts/bench.sh --benchmark_filter=smpte --benchmark_repetitions=5
# Each case runs twice, hot (one set of planes) and cold (a ring of plane
# sets larger than the last-level cache), and reports bytes_per_second
# (bytes of the planes it writes) and vs_baseline: the time of the fastest
# of memset, an SSE2 and an AVX2 store loop (when the CPU has AVX2) over the
# same bytes, timed in the same rounds, over the pattern's time.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh test
cmake --preset bench
cmake --build --preset bench --target pattern_bench
exec ./build/bench/bench/pattern_bench --benchmark_min_time=0.5 "$@"
