"""Debian's stock kernel, downloaded once and kept outside the build tree.

The package is fetched with `apt-get download` and unpacked with
`dpkg-deb -x` rather than installed: installing it would pull in udev and
initramfs-tools and change the host. The cache holds the unpacked tree
(modules with a fresh modules.dep) and the ELF kernel taken out of the
bzImage.
"""

import argparse
import dataclasses
import fcntl
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile

import vmlinux_extract

META_PACKAGE = "linux-image-amd64"
READY_MARKER = "ready"


class KernelUnavailable(RuntimeError):
    """The kernel cannot be had; the message says what to do about it."""


@dataclasses.dataclass(frozen=True)
class Kernel:
    version: str            # e.g. "6.1.0-57-amd64"
    root: pathlib.Path      # unpacked package: boot/, lib/modules/VERSION/
    vmlinux: pathlib.Path   # uncompressed ELF kernel for PVH boot

    @property
    def modules_dir(self) -> pathlib.Path:
        return self.root / "lib" / "modules" / self.version

    def module_dependencies(self, module: str) -> list[pathlib.Path]:
        """Module files to load, in order, so that `module` loads last."""
        result = subprocess.run(
            ["modprobe", "-d", str(self.root), "-S", self.version,
             "--show-depends", module],
            check=True, capture_output=True, text=True)
        paths = []
        for line in result.stdout.splitlines():
            words = line.split()
            if words[:1] == ["builtin"]:
                continue
            if len(words) < 2 or words[0] != "insmod":
                raise KernelUnavailable(f"unexpected modprobe output: {line!r}")
            paths.append(pathlib.Path(words[1]))
        return paths


def default_cache_dir() -> pathlib.Path:
    base = os.environ.get("XDG_CACHE_HOME") or os.path.join(pathlib.Path.home(), ".cache")
    return pathlib.Path(base) / "crtc-relay" / "kernel"


def _run(argv: list[str], **kwargs) -> subprocess.CompletedProcess:
    if shutil.which(argv[0]) is None:
        raise KernelUnavailable(
            f"{argv[0]} is not installed; run scripts/setup.sh to install the test tools")
    return subprocess.run(argv, capture_output=True, text=True, **kwargs)


def _with_package_lists(action, what: str) -> subprocess.CompletedProcess:
    """Run an apt query or download, refreshing the package lists once if it fails."""
    result = action()
    if result.returncode == 0:
        return result
    update = _run(["apt-get", "update"])
    if update.returncode != 0:
        raise KernelUnavailable(
            f"{what} failed ({result.stderr.strip()}) and 'apt-get update' failed too "
            f"({update.stderr.strip()})")
    result = action()
    if result.returncode != 0:
        raise KernelUnavailable(f"{what} failed: {result.stderr.strip()}")
    return result


def resolve_image_package() -> str:
    """The versioned kernel package that linux-image-amd64 currently points at."""
    def depends():
        result = _run(["apt-cache", "depends", META_PACKAGE])
        if result.returncode == 0 and not re.search(r"Depends: linux-image-\S+", result.stdout):
            result.returncode = 1  # no lists yet: apt-cache prints nothing useful
        return result

    result = _with_package_lists(depends, f"apt-cache depends {META_PACKAGE}")
    match = re.search(r"Depends: (linux-image-\d\S*-amd64)\b", result.stdout)
    if not match:
        raise KernelUnavailable(f"{META_PACKAGE} names no kernel package:\n{result.stdout}")
    return match.group(1)


def _cached(cache_dir: pathlib.Path) -> Kernel | None:
    """The newest complete kernel in the cache, if any."""
    candidates = sorted(
        (entry for entry in cache_dir.glob("*") if (entry / READY_MARKER).exists()),
        key=lambda entry: entry.stat().st_mtime, reverse=True)
    if not candidates:
        return None
    entry = candidates[0]
    return Kernel(version=entry.name, root=entry / "root", vmlinux=entry / "vmlinux")


def _download(cache_dir: pathlib.Path) -> Kernel:
    package = resolve_image_package()
    version = package.removeprefix("linux-image-")
    with tempfile.TemporaryDirectory(dir=cache_dir, prefix="download-") as tmp:
        tmp_path = pathlib.Path(tmp)
        _with_package_lists(lambda: _run(["apt-get", "download", package], cwd=tmp_path),
                            f"apt-get download {package}")
        debs = list(tmp_path.glob("*.deb"))
        if len(debs) != 1:
            raise KernelUnavailable(f"apt-get download {package} left {debs}")
        staging = tmp_path / version
        root = staging / "root"
        root.mkdir(parents=True)
        unpack = _run(["dpkg-deb", "-x", str(debs[0]), str(root)])
        if unpack.returncode != 0:
            raise KernelUnavailable(f"dpkg-deb -x failed: {unpack.stderr.strip()}")
        depmod = _run(["depmod", "-b", str(root), version])
        if depmod.returncode != 0:
            raise KernelUnavailable(f"depmod failed: {depmod.stderr.strip()}")
        bzimage = root / "boot" / f"vmlinuz-{version}"
        (staging / "vmlinux").write_bytes(vmlinux_extract.extract_vmlinux(bzimage.read_bytes()))
        (staging / READY_MARKER).write_text(package + "\n")
        final = cache_dir / version
        if final.exists():
            shutil.rmtree(final)
        staging.rename(final)
    return Kernel(version=version, root=final / "root", vmlinux=final / "vmlinux")


def ensure_kernel(cache_dir: pathlib.Path | None = None) -> Kernel:
    """The cached kernel, downloading and preparing it on first use."""
    cache_dir = cache_dir or default_cache_dir()
    cache_dir.mkdir(parents=True, exist_ok=True)
    with open(cache_dir / ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)  # parallel test runs share one download
        kernel = _cached(cache_dir)
        return kernel if kernel is not None else _download(cache_dir)


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cache", type=pathlib.Path, default=None,
                        help="cache folder (default: $XDG_CACHE_HOME/crtc-relay/kernel)")
    args = parser.parse_args(argv[1:])
    try:
        kernel = ensure_kernel(args.cache)
    except KernelUnavailable as error:
        print(f"kernel: {error}", file=sys.stderr)
        return 1
    print(f"kernel {kernel.version}: {kernel.vmlinux}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
