#!/bin/sh
# Boot the kernel test's image by hand: boot.sh DISPLAY [--program PATH] [--shell] [-- QEMU_ARGS]
# DISPLAY is virtio_gpu, radeon, bochs or cirrus; see README.md.
exec python3 "$(dirname "$0")/boot.py" "$@"
