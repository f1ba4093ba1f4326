# SPDX-License-Identifier: MIT
"""The emulated display devices the program is tried on: the QEMU device,
its driver and the screen the program finds. What the program must do on
each, per kernel, is in matrix.py."""

import dataclasses


@dataclasses.dataclass(frozen=True)
class Display:
    driver: str                 # module that binds the device
    extra_modules: tuple[str, ...]  # bus drivers to load before it
    qemu_args: tuple[str, ...]  # "{rom}" stands for the generated option ROM
    screen: str                 # name the program gives connector 0
    width: int
    height: int
    # QMP screendump arguments beyond the file name.
    screendump: dict = dataclasses.field(default_factory=dict)
    # False for a driver whose output no emulated screen shows (vkms): its
    # pixels are checked by the program's own --verify=crc,writeback.
    emulated_screen: bool = True
    # How many CRTCs the driver makes.
    crtcs: int = 1


DISPLAYS: dict[str, Display] = {
    # Two outputs, each CRTC with an encoder of its own.
    "virtio_gpu": Display(
        driver="virtio_gpu", extra_modules=("virtio_pci",),
        qemu_args=("-vga", "none", "-device", "virtio-gpu-pci,max_outputs=2,id=gpu0"),
        screen="Virtual-0", width=1280, height=800,
        screendump={"device": "gpu0", "head": 0}, crtcs=2),
    # Two CRTCs that can both drive the DVI-I connector; the emulated
    # screen shows only what CRTC 0 scans out. The driver needs a video
    # BIOS (radeon_rom.py).
    "radeon": Display(
        driver="radeon", extra_modules=(),
        qemu_args=("-vga", "none", "-device", "ati-vga,model=rv100,romfile={rom},id=gpu0"),
        screen="DVI-I-0", width=1280, height=800,
        screendump={"device": "gpu0"}, crtcs=2),
    "bochs": Display(
        driver="bochs", extra_modules=(),
        qemu_args=("-vga", "std"),
        screen="Virtual-0", width=1280, height=800),
    "cirrus": Display(
        driver="cirrus", extra_modules=(),
        qemu_args=("-vga", "cirrus"),
        screen="VGA-0", width=1024, height=768),
    # Four outputs, each CRTC with an encoder of its own.
    "qxl": Display(
        driver="qxl", extra_modules=(),
        qemu_args=("-vga", "none", "-device", "qxl-vga,id=gpu0"),
        screen="Virtual-0", width=1024, height=768,
        screendump={"device": "gpu0"}, crtcs=4),
    # The kernel's virtual KMS driver, built out of tree (vkms_build.py):
    # one CRTC with a CRC source, a Virtual connector and a writeback
    # connector, composed in memory; no emulated device at all.
    "vkms": Display(
        driver="vkms", extra_modules=(),
        qemu_args=("-vga", "none"),
        screen="Virtual-0", width=1024, height=768, emulated_screen=False),
}
# vmwgfx (-vga vmware) is left out: under QEMU its probe fails on 6.1 and
# 6.12 alike ("Hardware has no pitchlock", -38).

# Options given to the shared DRM modules on every boot. Debug category
# 0x04 (KMS) logs each SETCRTC call with the CRTC it names, 0x10 (ATOMIC)
# each atomic commit and the modes in it, which lets the test read the
# handover sequence from the kernel's own log. fbdev emulation stays on, as
# in Debian's default set-up.
MODULE_OPTIONS: dict[str, str] = {
    "drm": "debug=0x14",
    # Its writeback connector, cursor and overlay planes are off by default.
    "vkms": "enable_writeback=1 enable_cursor=1 enable_overlay=1",
}
