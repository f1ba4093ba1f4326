# SPDX-License-Identifier: MIT
"""The Debian packages: a Release build of the whole tree (tests and
benchmarks too, with warnings as errors) for prefix /usr, `cpack -G DEB`,
then each package's name and fields, its dependencies against the
libraries its files link, which files each holds, the machine-readable
copyright file, a run of the unpacked drmsim-run and crtc-relay on the
packaged default device, the example built against the unpacked packages
both ways and run, and lintian without errors or warnings.

usage: package_test.py --source DIR --work DIR --version V
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import unittest

from tree_checks import (TreeChecks, expected_files, files_under, EXAMPLES, LIBRARIES,
                         PACKAGES)

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


# Install component's package, and the files it holds: the first pattern a
# path (relative to /usr) matches names its package.
PACKAGE_OF = [
    (r"include/|lib/(.*/)?(libcrtc-relay-\w+\.so$|pkgconfig/|cmake/)", "libcrtc-relay-dev"),
    (r"lib/(.*/)?libcrtc-relay-kms\.so\.", "libcrtc-relay-kms0"),
    (r"lib/(.*/)?libcrtc-relay-pattern\.so\.", "libcrtc-relay-pattern0"),
    *((rf"share/(doc|lintian/overrides)/{package}(/|$)", package) for package in PACKAGES),
    (r"", "crtc-relay"),
]
# Our libraries, by SONAME, and the package that holds each.
OUR_LIBRARIES = {f"lib{library}.so.0": f"lib{library}0" for library in LIBRARIES}


def package_of(path):
    return next(package for pattern, package in PACKAGE_OF if re.match(pattern, path))


def cache_value(build, name):
    with open(os.path.join(build, "CMakeCache.txt"), encoding="utf-8") as cache:
        return re.search(rf"^{name}:\w+=(.*)$", cache.read(), re.MULTILINE).group(1)


def normalised_words(text):
    return " ".join(text.replace("\n .\n", "\n").split())


class DebianPackages(unittest.TestCase, TreeChecks):
    @classmethod
    def setUpClass(cls):
        shutil.rmtree(ARGS.work, ignore_errors=True)
        build, out = os.path.join(ARGS.work, "build"), os.path.join(ARGS.work, "out")
        subprocess.run(["cmake", "-S", ARGS.source, "-B", build, "-G", "Ninja",
                        "-DCMAKE_BUILD_TYPE=Release", "-DCRTC_RELAY_WERROR=ON",
                        "-DCMAKE_INSTALL_PREFIX=/usr"], check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", build], check=True)
        subprocess.run(["cpack", "-G", "DEB", "--config", os.path.join(build, "CPackConfig.cmake"),
                        "-B", out], check=True, stdout=subprocess.DEVNULL)
        cls.libdir = cache_value(build, "CMAKE_INSTALL_LIBDIR")
        cls.private_libdir = cls.libdir + "/crtc-relay"
        arch = run(["dpkg", "--print-architecture"]).strip()
        cls.debs = {package: os.path.join(out, f"{package}_{ARGS.version}_{arch}.deb")
                    for package in PACKAGES}
        # Each package alone, and all of them in one tree as apt would.
        cls.root = os.path.join(ARGS.work, "unpacked", "all")
        for package, deb in cls.debs.items():
            if os.path.exists(deb):
                for root in (cls.root, os.path.join(ARGS.work, "unpacked", package)):
                    os.makedirs(root, exist_ok=True)
                    subprocess.run(["dpkg-deb", "-x", deb, root], check=True)
        cls.env = dict(os.environ, LD_LIBRARY_PATH=os.path.join(cls.root, "usr", cls.libdir))

    def setUp(self):
        for deb in self.debs.values():
            self.assertTrue(os.path.exists(deb), "cpack wrote no " + os.path.basename(deb) + " but "
                            + str(os.listdir(os.path.dirname(deb))))

    def field(self, package, name):
        return run(["dpkg-deb", "-f", self.debs[package], name]).strip()

    def test_control_fields(self):
        sections = {"crtc-relay": "utils", "libcrtc-relay-dev": "libdevel"}
        for package in PACKAGES:
            with self.subTest(package=package):
                self.assertEqual([self.field(package, name) for name in ("Package", "Version", "Section")],
                                 [package, ARGS.version, sections.get(package, "libs")])
                self.assertTrue(self.field(package, "Maintainer"))
                self.assertGreater(len(self.field(package, "Description").splitlines()), 1,
                                   "no long description")
        for library, package in OUR_LIBRARIES.items():
            self.assertEqual(run(["dpkg-deb", "--info", self.debs[package], "shlibs"]).split(),
                             [*library.split(".so."), package, "(>=", ARGS.version + ")"])

    def test_depends_on_the_packages_of_the_linked_libraries(self):
        for package in PACKAGES:
            with self.subTest(package=package):
                depends = {re.match(r"[\w.+-]+", alternative.strip()).group(0)
                           for alternative in re.split(r"[,|]", self.field(package, "Depends"))}
                usr = os.path.join(ARGS.work, "unpacked", package, "usr")
                elves = [path for path in files_under(usr) if not os.path.islink(os.path.join(usr, path))
                         and (path.startswith("bin/") and path != "bin/drmsim-run"
                              or re.search(r"\.so(\.[\d.]+)?$", path))]
                linked = {OUR_LIBRARIES.get(library) or owning_package(library).split(":")[0]
                          for elf in elves for library in needed_libraries(os.path.join(usr, elf))}
                if package == "libcrtc-relay-dev":
                    # The headers include libdrm's; the .so links are the
                    # runtime packages' libraries.
                    linked |= {"libdrm-dev", *OUR_LIBRARIES.values()}
                self.assertEqual(depends, linked)
        self.assertIn(f"libcrtc-relay-kms0 (= {ARGS.version})", self.field("crtc-relay", "Depends"))

    def test_files_and_their_packages(self):
        expected = expected_files(ARGS.source, self.private_libdir, self.libdir, ARGS.version,
                                  "Release")
        self.assertEqual(files_under(os.path.join(self.root, "usr")), expected)
        for package in PACKAGES:
            with self.subTest(package=package):
                root = os.path.join(ARGS.work, "unpacked", package)
                self.assertEqual(os.listdir(root), ["usr"])
                self.assertEqual(files_under(os.path.join(root, "usr")),
                                 {path for path in expected if package_of(path) == package})

    def test_copyright_is_machine_readable(self):
        with open(os.path.join(ARGS.source, "LICENSE"), encoding="utf-8") as f:
            licence = f.read()
        for package in PACKAGES:
            with self.subTest(package=package), \
                    open(f"{self.root}/usr/share/doc/{package}/copyright", encoding="utf-8") as f:
                # Header, the files' paragraph, and the licence's (MIT is
                # Debian's Expat) with the text of LICENSE.
                header, files, text = f.read().split("\n\n")
                self.assertRegex(header, r"\AFormat: https://www\.debian\.org/doc/packaging-manuals/"
                                 r"copyright-format/1\.0/\n")
                self.assertRegex(files, r"\AFiles: \*\nCopyright: \d{4} the crtc-relay developers\n"
                                 r"License: Expat\Z")
                self.assertEqual(normalised_words(text.removeprefix("License: Expat\n")),
                                 normalised_words(licence[licence.index("Permission"):]))

    def test_unpacked_programs_and_example_run(self):
        usr = os.path.join(self.root, "usr")
        self.check_versions(usr, ARGS.version, self.env)
        self.check_libraries(usr, self.libdir, self.env)
        self.check_relay_on_default_device(usr, os.path.join(ARGS.work, "run"), self.env)
        self.check_example(usr, os.path.join(usr, EXAMPLES), self.libdir,
                           os.path.join(ARGS.work, "example"), self.env)

    def test_lintian_reports_no_errors_or_warnings(self):
        result = subprocess.run(["lintian", "--fail-on", "error,warning", *self.debs.values()],
                                capture_output=True, text=True, check=False)
        print(result.stdout + result.stderr)  # what is left, for the log
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for option in ("--source", "--work", "--version"):
        parser.add_argument(option, required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=sys.argv[:1] + rest)
