#!/bin/sh
# SPDX-License-Identifier: MIT
# Boot the kernel test's image by hand:
#   boot.sh DISPLAY [--kernel SERIES] [--program PATH] [--shell] [-- QEMU_ARGS]
# DISPLAY is virtio_gpu, radeon, bochs, cirrus or qxl; see README.md.
exec python3 "$(dirname "$0")/boot.py" "$@"
