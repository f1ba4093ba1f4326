# SPDX-License-Identifier: MIT
"""Pull the uncompressed ELF kernel out of an x86 bzImage.

QEMU boots an ELF vmlinux through its PVH entry point, which skips the
real-mode set-up code and the in-guest decompression; under software
emulation that saves a couple of seconds on every boot.
"""

import bz2
import lzma
import shutil
import struct
import subprocess
import sys
import zlib

ELF_MAGIC = b"\x7fELF"
SETUP_HEADER_MAGIC = b"HdrS"


def _payload(bzimage: bytes) -> bytes:
    """The compressed kernel as the boot protocol header describes it."""
    if len(bzimage) < 0x250 or bzimage[0x202:0x206] != SETUP_HEADER_MAGIC:
        raise ValueError("not a bzImage: no setup header")
    version = struct.unpack_from("<H", bzimage, 0x206)[0]
    if version < 0x208:
        raise ValueError(f"boot protocol {version:#x} has no payload fields")
    setup_sectors = bzimage[0x1F1] or 4
    payload_offset, payload_length = struct.unpack_from("<II", bzimage, 0x248)
    start = (setup_sectors + 1) * 512 + payload_offset
    if start + payload_length > len(bzimage):
        raise ValueError("payload runs past the end of the image")
    return bzimage[start:start + payload_length]


def _decompress_xz(data: bytes) -> bytes:
    # The build appends the uncompressed size after the stream, which the
    # one-shot lzma.decompress() would take for a second, broken stream.
    decompressor = lzma.LZMADecompressor(lzma.FORMAT_XZ)
    out = decompressor.decompress(data)
    if not decompressor.eof:
        raise ValueError("xz payload is truncated")
    return out


def _decompress_gzip(data: bytes) -> bytes:
    decompressor = zlib.decompressobj(16 + zlib.MAX_WBITS)
    out = decompressor.decompress(data)
    if not decompressor.eof:
        raise ValueError("gzip payload is truncated")
    return out


def _decompress_bzip2(data: bytes) -> bytes:
    decompressor = bz2.BZ2Decompressor()
    return decompressor.decompress(data)


def _decompress_zstd(data: bytes) -> bytes:
    # Python has no zstd of its own; the zstd tool does it. It refuses the
    # appended size as a broken second frame, so that is checked here.
    if shutil.which("zstd") is None:
        raise ValueError("the kernel is zstd-compressed and zstd is not installed; "
                         "run scripts/setup.sh")
    if len(data) < 4:
        raise ValueError("zstd payload is truncated")
    stream, size = data[:-4], struct.unpack("<I", data[-4:])[0]
    result = subprocess.run(["zstd", "-dcq"], input=stream, capture_output=True)
    if result.returncode != 0 or len(result.stdout) != size:
        raise ValueError("zstd payload is truncated or corrupt: "
                         f"{result.stderr.decode(errors='replace').strip()}")
    return result.stdout


DECOMPRESSORS = (
    (b"\xfd7zXZ\x00", _decompress_xz),
    (b"\x28\xb5\x2f\xfd", _decompress_zstd),
    (b"\x1f\x8b", _decompress_gzip),
    (b"BZh", _decompress_bzip2),
)


def extract_vmlinux(bzimage: bytes) -> bytes:
    payload = _payload(bzimage)
    for magic, decompress in DECOMPRESSORS:
        if payload.startswith(magic):
            elf = decompress(payload)
            if not elf.startswith(ELF_MAGIC):
                raise ValueError("decompressed payload is not an ELF file")
            return elf
    raise ValueError(f"unsupported kernel compression (payload starts {payload[:6].hex()})")


def main(argv: list[str]) -> int:
    if len(argv) != 3:
        print(f"usage: {argv[0]} BZIMAGE VMLINUX", file=sys.stderr)
        return 2
    with open(argv[1], "rb") as f:
        elf = extract_vmlinux(f.read())
    with open(argv[2], "wb") as f:
        f.write(elf)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
