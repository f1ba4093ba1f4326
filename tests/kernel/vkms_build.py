# SPDX-License-Identifier: MIT
"""vkms, the kernel's virtual KMS driver, built out of tree for a cached kernel.

Debian does not build vkms (CONFIG_DRM_VKMS is off), so it is compiled from
drivers/gpu/drm/vkms of the linux-source package of the very same version
as the kernel image, against that version's headers packages (their
Module.symvers carries the symbol versions the kernel checks on loading)
and kbuild tools. The packages are fetched with `apt-get download` and
unpacked into a scratch folder, never installed. The module goes into the
cached kernel's tree under extra/ (with a fresh modules.dep, so that
`modprobe --show-depends vkms` names drm, drm_kms_helper and
drm_shmem_helper before it); the build log stays beside the kernel as
vkms-build.log, and a failed build is remembered there with its error.
"""

import argparse
import fcntl
import pathlib
import re
import subprocess
import sys
import tarfile
import tempfile

import kernel_cache
from kernel_cache import Kernel, KernelUnavailable

LOG_NAME = "vkms-build.log"
FAILED_MARKER = "vkms-failed"


def module_path(kernel: Kernel) -> pathlib.Path:
    return kernel.modules_dir / "extra" / "vkms.ko"


def _entry(kernel: Kernel) -> pathlib.Path:
    return kernel.root.parent


def image_version(kernel: Kernel) -> str:
    """The Debian version of the kernel's image package (6.1.192-3)."""
    package = (_entry(kernel) / kernel_cache.READY_MARKER).read_text().split()[0]
    result = kernel_cache._run(["apt-cache", "show", "--no-all-versions", package])
    match = re.search(r"^Version: (\S+)$", result.stdout, re.MULTILINE)
    if result.returncode != 0 or not match:
        raise KernelUnavailable(f"apt-cache show {package} failed: {result.stderr.strip()}")
    return match.group(1)


def packages(kernel: Kernel, version: str) -> list[str]:
    """The source, headers and kbuild packages of exactly `version`."""
    series = re.match(r"\d+\.\d+", kernel.version).group(0)
    headers = f"linux-headers-{kernel.version}"
    result = kernel_cache._run(["apt-cache", "show", f"{headers}={version}"])
    match = re.search(r"^Depends: (.*)$", result.stdout, re.MULTILINE)
    if result.returncode != 0 or not match:
        raise KernelUnavailable(f"no {headers} of version {version}: {result.stderr.strip()}")
    needed = [f"linux-source-{series}", headers]
    for dependency in match.group(1).split(","):
        name = dependency.split()[0]
        if name.startswith(("linux-headers-", "linux-kbuild-")):
            needed.append(name)
    return [f"{name}={version}" for name in needed]


def _unpack(folder: pathlib.Path, version: str, kernel: Kernel,
            log: list[str]) -> tuple[pathlib.Path, pathlib.Path]:
    """Downloads and unpacks the packages; the headers tree and vkms's sources."""
    wanted = packages(kernel, version)
    download = kernel_cache._run(["apt-get", "download", *wanted], cwd=folder)
    log.append(f"$ apt-get download {' '.join(wanted)}\n{download.stdout}{download.stderr}")
    if download.returncode != 0:
        raise KernelUnavailable(f"apt-get download failed: {download.stderr.strip()}")
    tree = folder / "tree"
    for deb in sorted(folder.glob("*.deb")):
        unpack = kernel_cache._run(["dpkg-deb", "-x", str(deb), str(tree)])
        if unpack.returncode != 0:
            raise KernelUnavailable(f"dpkg-deb -x {deb.name} failed: {unpack.stderr.strip()}")
    src = tree / "usr" / "src"
    headers = src / f"linux-headers-{kernel.version}"
    # The headers' Makefile includes the common part by its installed,
    # absolute path; point it at the unpacked one.
    makefile = headers / "Makefile"
    makefile.write_text(re.sub(r"include /usr/src/", f"include {src}/", makefile.read_text()))
    archive = next(src.glob("linux-source-*.tar.xz"), None)
    if archive is None:
        raise KernelUnavailable("the linux-source package holds no tarball")
    sources = folder / "vkms"
    sources.mkdir()
    with tarfile.open(archive) as tar:
        for member in tar:
            if "/drivers/gpu/drm/vkms/" in member.name and member.isfile():
                (sources / pathlib.PurePath(member.name).name).write_bytes(
                    tar.extractfile(member).read())
    if not (sources / "Makefile").exists():
        raise KernelUnavailable(f"{archive.name} holds no drivers/gpu/drm/vkms")
    return headers, sources


def build(kernel: Kernel) -> pathlib.Path:
    """Builds vkms.ko into the cached kernel's tree; raises with the build
    log's error lines when it cannot be built."""
    entry = _entry(kernel)
    log: list[str] = []
    try:
        version = image_version(kernel)
        log.append(f"kernel {kernel.version}, Debian version {version}\n")
        with tempfile.TemporaryDirectory(dir=entry, prefix="vkms-") as tmp:
            headers, sources = _unpack(pathlib.Path(tmp), version, kernel, log)
            # No BTF for the module: it needs pahole and the kernel's
            # vmlinux with its type information, and loading does without.
            make = kernel_cache._run(
                ["make", "-C", str(headers), f"M={sources}", "CONFIG_DRM_VKMS=m",
                 "CONFIG_DEBUG_INFO_BTF_MODULES=", "modules"])
            log.append(f"$ make CONFIG_DRM_VKMS=m modules\n{make.stdout}{make.stderr}")
            if make.returncode != 0:
                errors = [line for line in (make.stdout + make.stderr).splitlines()
                          if "error" in line.lower() or "not found" in line]
                raise KernelUnavailable("vkms does not build: " + "\n".join(errors[:5]))
            target = module_path(kernel)
            target.parent.mkdir(parents=True, exist_ok=True)
            target.write_bytes((sources / "vkms.ko").read_bytes())
        depmod = kernel_cache._run(["depmod", "-b", str(kernel.root), kernel.version])
        if depmod.returncode != 0:
            raise KernelUnavailable(f"depmod failed: {depmod.stderr.strip()}")
        return target
    except KernelUnavailable as error:
        (entry / FAILED_MARKER).write_text(f"{error}\n")
        log.append(f"failed: {error}\n")
        raise
    finally:
        (entry / LOG_NAME).write_text("".join(log))


def ensure_vkms(kernel: Kernel) -> pathlib.Path:
    """The kernel's vkms.ko, built on first use. A build that failed once
    is not tried again (delete vkms-failed beside the kernel to retry)."""
    entry = _entry(kernel)
    with open(entry.parent / ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if module_path(kernel).exists():
            return module_path(kernel)
        if (entry / FAILED_MARKER).exists():
            raise KernelUnavailable(f"{(entry / FAILED_MARKER).read_text().strip()} "
                                    f"(see {entry / LOG_NAME})")
        return build(kernel)


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cache", type=pathlib.Path, default=None)
    parser.add_argument("--series", choices=sorted(kernel_cache.KERNELS), default="6.1")
    args = parser.parse_args(argv[1:])
    try:
        path = ensure_vkms(kernel_cache.ensure_kernel(args.cache, args.series))
    except KernelUnavailable as error:
        print(f"vkms: {error}", file=sys.stderr)
        return 1
    print(f"vkms: {path}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
