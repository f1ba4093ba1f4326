# SPDX-License-Identifier: MIT
"""Minimal writer for the "newc" cpio format the kernel unpacks as initramfs.

Written here rather than driving cpio(1) so that device nodes and owners
come out right without root, and parent folders are always listed before
what they hold.
"""

import dataclasses
import stat

NEWC_MAGIC = b"070701"
TRAILER = "TRAILER!!!"


@dataclasses.dataclass
class _Entry:
    mode: int
    data: bytes = b""
    rdev_major: int = 0
    rdev_minor: int = 0


def _pad4(length: int) -> bytes:
    return b"\0" * (-length % 4)


def _header(ino: int, entry: _Entry, name: bytes) -> bytes:
    fields = (ino, entry.mode, 0, 0, 1, 0, len(entry.data), 0, 0,
              entry.rdev_major, entry.rdev_minor, len(name) + 1, 0)
    return NEWC_MAGIC + b"".join(b"%08X" % value for value in fields)


class CpioArchive:
    """Files, folders, symlinks and device nodes, all owned by root."""

    def __init__(self) -> None:
        self._entries: dict[str, _Entry] = {}

    @staticmethod
    def _normalise(path: str) -> str:
        parts = [part for part in path.split("/") if part not in ("", ".")]
        if not parts or ".." in parts:
            raise ValueError(f"bad archive path {path!r}")
        return "/".join(parts)

    def _add(self, path: str, entry: _Entry) -> None:
        path = self._normalise(path)
        parent = path.rpartition("/")[0]
        if parent:
            self.add_directory(parent)
        existing = self._entries.get(path)
        if existing is not None and not (stat.S_ISDIR(existing.mode) and stat.S_ISDIR(entry.mode)):
            raise ValueError(f"{path} added twice")
        self._entries[path] = entry

    def add_directory(self, path: str, mode: int = 0o755) -> None:
        path = self._normalise(path)
        if path in self._entries:
            if not stat.S_ISDIR(self._entries[path].mode):
                raise ValueError(f"{path} is a file, not a folder")
            return
        self._add(path, _Entry(stat.S_IFDIR | mode))

    def add_file(self, path: str, data: bytes, mode: int = 0o644) -> None:
        self._add(path, _Entry(stat.S_IFREG | mode, data))

    def add_symlink(self, path: str, target: str) -> None:
        self._add(path, _Entry(stat.S_IFLNK | 0o777, target.encode()))

    def add_char_device(self, path: str, major: int, minor: int, mode: int = 0o600) -> None:
        self._add(path, _Entry(stat.S_IFCHR | mode, rdev_major=major, rdev_minor=minor))

    def __contains__(self, path: str) -> bool:
        return self._normalise(path) in self._entries

    def to_bytes(self) -> bytes:
        # Sorting by path puts every folder before its contents.
        out = bytearray()
        items = sorted(self._entries.items())
        items.append((TRAILER, _Entry(0)))
        for ino, (path, entry) in enumerate(items, start=1):
            name = path.encode()
            head = _header(ino if path != TRAILER else 0, entry, name) + name + b"\0"
            out += head + _pad4(len(head))
            out += entry.data + _pad4(len(entry.data))
        return bytes(out)
