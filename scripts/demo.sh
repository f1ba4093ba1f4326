#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what is missing, builds crtc-relay and runs it on the simulated
# default device (one HDMI-A screen at 1920x1080, three CRTCs) in real time.
# After the screen has passed through every CRTC once, the script types a key
# for you, as a user would, and the program tears down and exits.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh run
cmake --preset release >/dev/null
cmake --build --preset release --target crtc-relay drmsim_preload

out=build/release/demo
rm -rf "$out"
mkdir -p "$out"

echo "== crtc-relay on devices/hdmi-3crtc.json"
echo "== lines starting 'drmsim:' are the simulated device's own account; it numbers"
echo "== connectors from 1 as the kernel does (HDMI-A-1), crtc-relay its screens from 0 (HDMI-A-0)"
status=0
{ sleep 11.5; echo; } | build/release/sim/drmsim-run --verbose --snapshots "$out" --report "$out/report.json" \
  -- build/release/app/crtc-relay devices/hdmi-3crtc.json || status=$?
echo "== crtc-relay exited with status $status"
echo "== left behind in the device: $(cat "$out/report.json")"
echo "== what the screen showed: $out/crtc-0.png, $out/crtc-1.png, $out/crtc-2.png (one per CRTC that drove it)"
exit "$status"
