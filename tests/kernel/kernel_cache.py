# SPDX-License-Identifier: MIT
"""Debian's stock kernel, downloaded once and kept outside the build tree.

The package is fetched with `apt-get download` and unpacked with
`dpkg-deb -x` rather than installed: installing it would pull in udev and
initramfs-tools and change the host. A series from another suite (6.12 from
bookworm-backports) is fetched through an apt configuration of our own kept
in the cache, on the mirror the machine's sources use. The cache holds, per
kernel version, the unpacked tree (modules with a fresh modules.dep) and the
ELF kernel taken out of the bzImage.
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
SOURCES_FILES = (pathlib.Path("/etc/apt/sources.list"), pathlib.Path("/etc/apt/sources.list.d"))


@dataclasses.dataclass(frozen=True)
class KernelSource:
    """Where one kernel series comes from."""
    series: str             # "6.1": the cached version starts with "6.1."
    # None: the machine's own apt sources. Otherwise a suite fetched through
    # an apt configuration of our own, from the mirror the machine uses for
    # the release the suite belongs to ("bookworm" for "bookworm-backports").
    suite: str | None = None
    # The package that depends on the series' current kernel package.
    meta: str = META_PACKAGE


# The kernels the tests boot; tests/kernel/matrix.py names them by series.
KERNELS: dict[str, KernelSource] = {
    "6.1": KernelSource("6.1"),
    "6.12": KernelSource("6.12", meta="linux-image-6.12-amd64"),
}


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


def _with_package_lists(action, what: str, apt: "PrivateApt | None" = None
                        ) -> subprocess.CompletedProcess:
    """Run an apt query or download, refreshing the package lists once if it fails."""
    result = action()
    if result.returncode == 0:
        return result
    update = _run(apt.command("apt-get", "update") if apt else ["apt-get", "update"])
    if update.returncode != 0:
        raise KernelUnavailable(
            f"{what} failed ({result.stderr.strip()}) and 'apt-get update' failed too "
            f"({update.stderr.strip()})")
    result = action()
    if result.returncode != 0:
        raise KernelUnavailable(f"{what} failed: {result.stderr.strip()}")
    return result


@dataclasses.dataclass(frozen=True)
class AptSource:
    uri: str
    suites: tuple[str, ...]
    signed_by: str | None


def parse_sources(text: str, deb822: bool) -> list[AptSource]:
    """The binary ("deb") entries of a one-line .list or a deb822 .sources file."""
    sources = []
    if deb822:
        for stanza in re.split(r"\n\s*\n", text):
            fields: dict[str, str] = {}
            for line in stanza.splitlines():
                if line.startswith("#") or ":" not in line or line[:1].isspace():
                    continue
                key, value = line.split(":", 1)
                fields[key.strip().lower()] = value.strip()
            if "deb" not in fields.get("types", "").split():
                continue
            if fields.get("enabled", "yes").lower() == "no":
                continue
            for uri in fields.get("uris", "").split():
                sources.append(AptSource(uri, tuple(fields.get("suites", "").split()),
                                         fields.get("signed-by")))
        return sources
    for line in text.splitlines():
        line = line.split("#", 1)[0].strip()
        match = re.match(r"^deb\s+(?:\[([^\]]*)\]\s+)?(\S+)\s+(\S+)", line)
        if not match:
            continue
        options = dict(option.split("=", 1) for option in (match.group(1) or "").split()
                       if "=" in option)
        sources.append(AptSource(match.group(2), (match.group(3),), options.get("signed-by")))
    return sources


def machine_sources(paths=SOURCES_FILES) -> list[AptSource]:
    sources = []
    for path in paths:
        files = sorted(path.iterdir()) if path.is_dir() else [path]
        for file in files:
            if file.suffix in (".list", ".sources") and file.is_file():
                sources += parse_sources(file.read_text(errors="replace"),
                                         deb822=file.suffix == ".sources")
    return sources


def mirror_for(suite: str, sources: list[AptSource]) -> AptSource:
    """The machine's source for the release that `suite` belongs to."""
    release = suite.split("-", 1)[0]
    for source in sources:
        if release in source.suites:
            return source
    raise KernelUnavailable(
        f"the machine's apt sources name no mirror for {release}, so {suite} cannot be fetched")


class PrivateApt:
    """apt with a sources list, state and cache of its own under `folder`,
    so that neither the machine's configuration nor its lists change."""

    def __init__(self, folder: pathlib.Path, suite: str, mirror: AptSource) -> None:
        self.folder = folder
        for sub in ("lists/partial", "archives/partial", "etc/sources.list.d",
                    "etc/preferences.d"):
            (folder / sub).mkdir(parents=True, exist_ok=True)
        options = f"[signed-by={mirror.signed_by}] " if mirror.signed_by else ""
        (folder / "etc" / "sources.list").write_text(f"deb {options}{mirror.uri} {suite} main\n")
        (folder / "status").touch()

    def options(self) -> list[str]:
        folder = self.folder
        options = [f"-oDir::Etc::SourceList={folder}/etc/sources.list",
                f"-oDir::Etc::SourceParts={folder}/etc/sources.list.d",
                f"-oDir::Etc::Preferences={folder}/etc/preferences",
                f"-oDir::Etc::PreferencesParts={folder}/etc/preferences.d",
                f"-oDir::State={folder}", f"-oDir::State::Lists={folder}/lists",
                f"-oDir::State::status={folder}/status", f"-oDir::Cache={folder}",
                f"-oDir::Cache::Archives={folder}/archives"]
        if os.geteuid() == 0:
            # The private folders belong to us, not to apt's sandbox user.
            options.append("-oAPT::Sandbox::User=root")
        return options

    def command(self, tool: str, *arguments: str) -> list[str]:
        return [tool, *self.options(), *arguments]


def resolve_image_package(apt: PrivateApt | None = None, meta: str = META_PACKAGE) -> str:
    """The versioned kernel package that `meta` currently points at."""
    def command(tool: str, *arguments: str) -> list[str]:
        return apt.command(tool, *arguments) if apt else [tool, *arguments]

    def depends():
        result = _run(command("apt-cache", "depends", meta))
        if result.returncode == 0 and not re.search(r"Depends: linux-image-\S+", result.stdout):
            result.returncode = 1  # no lists yet: apt-cache prints nothing useful
        return result

    result = _with_package_lists(depends, f"apt-cache depends {meta}", apt)
    match = re.search(r"Depends: (linux-image-\d\S*-amd64)\b", result.stdout)
    if not match:
        raise KernelUnavailable(f"{meta} names no kernel package:\n{result.stdout}")
    return match.group(1)


def _cached(cache_dir: pathlib.Path, series: str) -> Kernel | None:
    """The newest complete kernel of `series` in the cache, if any."""
    candidates = sorted(
        (entry for entry in cache_dir.glob(f"{series}.*") if (entry / READY_MARKER).exists()),
        key=lambda entry: entry.stat().st_mtime, reverse=True)
    if not candidates:
        return None
    entry = candidates[0]
    return Kernel(version=entry.name, root=entry / "root", vmlinux=entry / "vmlinux")


def _download(cache_dir: pathlib.Path, source: KernelSource) -> Kernel:
    apt = None
    if source.suite:
        apt = PrivateApt(cache_dir / "apt" / source.suite, source.suite,
                         mirror_for(source.suite, machine_sources()))
    package = resolve_image_package(apt, source.meta)
    version = package.removeprefix("linux-image-")
    if not version.startswith(source.series + "."):
        raise KernelUnavailable(f"{source.meta} of {source.suite or 'the machine'} now "
                                f"points at {package}, not a {source.series} kernel")
    with tempfile.TemporaryDirectory(dir=cache_dir, prefix="download-") as tmp:
        tmp_path = pathlib.Path(tmp)
        download = ["apt-get", "download", package]
        _with_package_lists(
            lambda: _run(apt.command(*download) if apt else download, cwd=tmp_path),
            f"apt-get download {package}", apt)
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


def ensure_kernel(cache_dir: pathlib.Path | None = None, series: str = "6.1") -> Kernel:
    """The cached kernel of `series`, downloading and preparing it on first use."""
    if series not in KERNELS:
        raise KernelUnavailable(f"no kernel series {series!r}; known: {', '.join(KERNELS)}")
    cache_dir = cache_dir or default_cache_dir()
    cache_dir.mkdir(parents=True, exist_ok=True)
    with open(cache_dir / ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)  # parallel test runs share one download
        kernel = _cached(cache_dir, series)
        return kernel if kernel is not None else _download(cache_dir, KERNELS[series])


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cache", type=pathlib.Path, default=None,
                        help="cache folder (default: $XDG_CACHE_HOME/crtc-relay/kernel)")
    parser.add_argument("--series", choices=sorted(KERNELS), default="6.1",
                        help="kernel series to fetch (default: 6.1)")
    args = parser.parse_args(argv[1:])
    try:
        kernel = ensure_kernel(args.cache, args.series)
    except KernelUnavailable as error:
        print(f"kernel: {error}", file=sys.stderr)
        return 1
    print(f"kernel {kernel.version}: {kernel.vmlinux}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
