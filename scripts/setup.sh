#!/usr/bin/env bash
# Installs every Debian package that crtc-relay needs to build, run and test.
# Does nothing when they are all present already.
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ pkg-config
  # libraries
  libdrm-dev libpng-dev nlohmann-json3-dev
  # tests, benchmarks, fuzzing
  libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev python3
  # the real kernel under emulation
  qemu-system-x86 busybox-static cpio kmod zstd
  # the pattern library's tests on a big-endian host (s390x under user-mode
  # emulation), with GoogleTest built from source by the cross compiler
  g++-s390x-linux-gnu qemu-user-static googletest
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "setup: installing ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update
$sudo apt-get install -y --no-install-recommends "${missing[@]}"
