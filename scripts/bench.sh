#!/usr/bin/env bash
# Builds the bench configuration (Release) and runs the pattern benchmarks. Extra
# arguments go to the benchmark program, e.g.
#   scripts/bench.sh --benchmark_filter=smpte --benchmark_repetitions=5
# Each case reports bytes_per_second (bytes of the planes it writes) and
# vs_baseline, its speed over the faster of memset and a 32-byte store loop
# on a buffer of the same size.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh test
cmake --preset bench
cmake --build --preset bench --target pattern_bench
exec ./build/bench/bench/pattern_bench --benchmark_min_time=0.5 "$@"
