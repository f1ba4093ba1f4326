# SPDX-License-Identifier: MIT
"""Where the kernels come from: the machine's apt sources read, and the
private apt configuration that fetches a suite the machine does not list."""

import pathlib
import tempfile
import unittest

import kernel_cache
from kernel_cache import AptSource, KernelUnavailable, PrivateApt

DEB822 = """\
Types: deb
# http://snapshot.debian.org/archive/debian/20250520T000000Z
URIs: http://mirror.example/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://source.example/debian
Suites: bookworm
Components: main

Types: deb
URIs: http://off.example/debian
Suites: bookworm
Enabled: no

Types: deb
URIs: http://security.example/debian-security
Suites: bookworm-security
Components: main
"""

ONE_LINE = """\
# deb http://commented.example/debian bookworm main
deb-src http://source.example/debian bookworm main
deb [arch=amd64 signed-by=/etc/apt/keyrings/x.gpg] http://list.example/debian bookworm main
deb http://plain.example/debian trixie main contrib
"""


class SourcesTest(unittest.TestCase):
    def test_deb822_binary_entries_only(self) -> None:
        self.assertEqual(kernel_cache.parse_sources(DEB822, deb822=True), [
            AptSource("http://mirror.example/debian", ("bookworm", "bookworm-updates"),
                      "/usr/share/keyrings/debian-archive-keyring.gpg"),
            AptSource("http://security.example/debian-security", ("bookworm-security",), None),
        ])

    def test_one_line_format(self) -> None:
        self.assertEqual(kernel_cache.parse_sources(ONE_LINE, deb822=False), [
            AptSource("http://list.example/debian", ("bookworm",), "/etc/apt/keyrings/x.gpg"),
            AptSource("http://plain.example/debian", ("trixie",), None),
        ])

    def test_the_mirror_of_the_suites_release(self) -> None:
        sources = kernel_cache.parse_sources(DEB822, deb822=True)
        self.assertEqual(kernel_cache.mirror_for("bookworm-backports", sources).uri,
                         "http://mirror.example/debian")
        with self.assertRaisesRegex(KernelUnavailable, "no mirror for trixie"):
            kernel_cache.mirror_for("trixie-backports", sources)

    def test_machine_sources_read_both_formats_from_a_folder(self) -> None:
        with tempfile.TemporaryDirectory() as tmp:
            folder = pathlib.Path(tmp)
            (folder / "debian.sources").write_text(DEB822)
            (folder / "extra.list").write_text(ONE_LINE)
            (folder / "old.list.disabled").write_text("deb http://no.example/ bookworm main\n")
            uris = [s.uri for s in kernel_cache.machine_sources((folder, folder / "missing"))]
        self.assertEqual(uris, ["http://mirror.example/debian",
                                "http://security.example/debian-security",
                                "http://list.example/debian", "http://plain.example/debian"])


class PrivateAptTest(unittest.TestCase):
    def test_every_folder_and_list_is_its_own(self) -> None:
        mirror = AptSource("http://mirror.example/debian", ("bookworm",), "/k.gpg")
        with tempfile.TemporaryDirectory() as tmp:
            folder = pathlib.Path(tmp) / "apt"
            apt = PrivateApt(folder, "bookworm-backports", mirror)
            self.assertEqual((folder / "etc" / "sources.list").read_text(),
                             "deb [signed-by=/k.gpg] http://mirror.example/debian "
                             "bookworm-backports main\n")
            command = apt.command("apt-get", "update")
        self.assertEqual(command[0], "apt-get")
        self.assertEqual(command[-1], "update")
        options = dict(option.removeprefix("-o").split("=", 1)
                       for option in command[1:-1] if option.startswith("-oDir"))
        for key in ("Dir::Etc::SourceList", "Dir::Etc::SourceParts", "Dir::Etc::Preferences",
                    "Dir::Etc::PreferencesParts", "Dir::State", "Dir::State::Lists",
                    "Dir::State::status", "Dir::Cache", "Dir::Cache::Archives"):
            with self.subTest(key):
                self.assertTrue(options[key].startswith(str(folder)), options.get(key))


class SeriesTest(unittest.TestCase):
    def test_a_cached_version_belongs_to_its_series_only(self) -> None:
        with tempfile.TemporaryDirectory() as tmp:
            cache = pathlib.Path(tmp)
            for version in ("6.1.0-57-amd64", "6.12.95+deb12-amd64", "6.12.99+deb12-amd64"):
                (cache / version).mkdir()
            for ready in ("6.1.0-57-amd64", "6.12.95+deb12-amd64"):
                (cache / ready / kernel_cache.READY_MARKER).write_text("x\n")
            self.assertEqual(kernel_cache._cached(cache, "6.1").version, "6.1.0-57-amd64")
            self.assertEqual(kernel_cache._cached(cache, "6.12").version, "6.12.95+deb12-amd64")
            self.assertIsNone(kernel_cache._cached(cache, "6.6"))
            with self.assertRaisesRegex(KernelUnavailable, "no kernel series '6.6'"):
                kernel_cache.ensure_kernel(cache, "6.6")


if __name__ == "__main__":
    unittest.main()
