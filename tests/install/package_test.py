"""The Debian package: a Release build of the whole tree (tests and
benchmarks too, with warnings as errors), `cpack -G DEB`, then the package's
name, its dependencies against the libraries its programs link, its files,
a run of the unpacked drmsim-run and crtc-relay on the packaged default
device, and lintian.

usage: package_test.py --source DIR --work DIR --version V --private-libdir DIR
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import unittest

from tree_checks import TreeChecks, expected_files, files_under

ARGS = None


def run(command, **kwargs):
    return subprocess.run(command, check=True, capture_output=True, text=True, **kwargs).stdout


def needed_libraries(elf):
    """The DT_NEEDED entries of an ELF file."""
    return re.findall(r"\(NEEDED\)\s+Shared library: \[([^\]]+)\]", run(["readelf", "-d", elf]))


def owning_package(library):
    """The installed Debian package that holds a shared library."""
    path = run(["gcc", "-print-file-name=" + library]).strip()
    # Merged /usr: dpkg may know the file under /lib rather than /usr/lib.
    candidates = [path, os.path.realpath(path)]
    candidates += [c.removeprefix("/usr") for c in candidates if c.startswith("/usr/")]
    for candidate in candidates:
        result = subprocess.run(["dpkg-query", "-S", candidate], capture_output=True, text=True,
                                check=False)
        if result.returncode == 0:
            return result.stdout.split(":")[0]
    raise AssertionError(f"no package holds {library} ({path})")


class DebianPackage(unittest.TestCase, TreeChecks):
    @classmethod
    def setUpClass(cls):
        shutil.rmtree(ARGS.work, ignore_errors=True)
        build, out = os.path.join(ARGS.work, "build"), os.path.join(ARGS.work, "out")
        subprocess.run(["cmake", "-S", ARGS.source, "-B", build, "-G", "Ninja",
                        "-DCMAKE_BUILD_TYPE=Release", "-DCRTC_RELAY_WERROR=ON"],
                       check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", build], check=True)
        subprocess.run(["cpack", "-G", "DEB", "--config", os.path.join(build, "CPackConfig.cmake"),
                        "-B", out], check=True, stdout=subprocess.DEVNULL)
        arch = run(["dpkg", "--print-architecture"]).strip()
        cls.deb = os.path.join(out, f"crtc-relay_{ARGS.version}_{arch}.deb")
        cls.root = os.path.join(ARGS.work, "unpacked")
        if os.path.exists(cls.deb):
            subprocess.run(["dpkg-deb", "-x", cls.deb, cls.root], check=True)

    def setUp(self):
        self.assertTrue(os.path.exists(self.deb), "cpack wrote no " + os.path.basename(self.deb)
                        + " but " + str(os.listdir(os.path.dirname(self.deb))))

    def field(self, name):
        return run(["dpkg-deb", "-f", self.deb, name]).strip()

    def test_control_fields(self):
        self.assertEqual(self.field("Package"), "crtc-relay")
        self.assertEqual(self.field("Version"), ARGS.version)
        self.assertTrue(self.field("Maintainer"))
        self.assertGreater(len(self.field("Description").splitlines()), 1,
                           "no long description")

    def test_depends_on_the_packages_of_the_linked_libraries(self):
        depends = {re.match(r"[\w.+-]+", alternative.strip()).group(0)
                   for alternative in re.split(r"[,|]", self.field("Depends"))}
        usr = os.path.join(self.root, "usr")
        elves = [os.path.join(usr, "bin", p) for p in ("crtc-relay", "testpattern")]
        elves.append(os.path.join(usr, ARGS.private_libdir, "libdrmsim.so"))
        linked = {owning_package(lib) for elf in elves for lib in needed_libraries(elf)}
        # libc6 and libstdc++6 at least, and libdrm2 for crtc-relay.
        self.assertTrue({"libc6", "libstdc++6", "libdrm2"} <= linked, linked)
        self.assertEqual(depends, {package.split(":")[0] for package in linked})

    def test_files(self):
        self.assertEqual(files_under(os.path.join(self.root, "usr")),
                         expected_files(ARGS.source, ARGS.private_libdir))
        self.assertEqual(os.listdir(self.root), ["usr"])

    def test_unpacked_programs_run(self):
        usr = os.path.join(self.root, "usr")
        self.check_versions(usr, ARGS.version)
        self.check_relay_on_default_device(usr, os.path.join(ARGS.work, "run"))

    def test_lintian_reports_no_errors(self):
        result = subprocess.run(["lintian", "--fail-on", "error", self.deb],
                                capture_output=True, text=True, check=False)
        print(result.stdout + result.stderr)  # the warnings, for the log
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for option in ("--source", "--work", "--version", "--private-libdir"):
        parser.add_argument(option, required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=sys.argv[:1] + rest)
