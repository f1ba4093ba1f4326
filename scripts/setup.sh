#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian packages crtc-relay needs, by group, and does nothing
# when they are all present already.
#   setup.sh run    building and running the programs (what demo.sh needs)
#   setup.sh test   that, plus tests, benchmarks, packaging and the real
#                   kernel under emulation (what test.sh needs)
# With no argument, every group.
set -euo pipefail

run_packages=(
  # build
  cmake ninja-build g++ pkg-config
  # libraries
  libdrm-dev libpng-dev nlohmann-json3-dev
)

test_packages=(
  # tests, benchmarks, fuzzing
  libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev python3
  # the Debian packages, the man pages, bash completion, the report's schema
  dpkg-dev lintian groff-base bash-completion python3-jsonschema
  # the real kernel under emulation
  qemu-system-x86 busybox-static cpio kmod zstd
  # vkms built out of tree from Debian's kernel source and headers, which
  # are fetched, not installed (tests/kernel/vkms_build.py): their
  # compiler and tools
  make gcc-12 binutils xz-utils libelf1
  # the pattern library's tests on a big-endian host (s390x under user-mode
  # emulation), with GoogleTest built from source by the cross compiler
  g++-s390x-linux-gnu qemu-user-static googletest
)

packages=()
groups=("$@")
if [ ${#groups[@]} -eq 0 ]; then groups=(run test); fi
for group in "${groups[@]}"; do
  case "$group" in
    run) packages+=("${run_packages[@]}") ;;
    test) packages+=("${run_packages[@]}" "${test_packages[@]}") ;;
    *) echo "setup: unknown package group '$group'; valid groups: run, test" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
# A package named by two groups is installed once.
mapfile -t missing < <(printf '%s\n' "${missing[@]}" | sort -u)

echo "setup: installing ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update
$sudo apt-get install -y --no-install-recommends "${missing[@]}"
