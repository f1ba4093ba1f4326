# SPDX-License-Identifier: MIT
"""Checks shared by the installed-tree and the package tests: what an
installed crtc-relay tree holds, and a bounded run of its programs on its
own default device description."""
import json
import os
import re
import shutil
import subprocess

PROGRAMS = ("crtc-relay", "testpattern", "drmsim-run")
MAN_PAGES = tuple(f"share/man/man1/{program}.1.gz" for program in PROGRAMS)
DEVICES = "share/crtc-relay/devices"
DEFAULT_DEVICE = DEVICES + "/hdmi-3crtc.json"


DOC = "share/doc/crtc-relay"
# Install component's package: its documentation folder.
PACKAGES = ("crtc-relay", "libcrtc-relay-kms0", "libcrtc-relay-pattern0", "libcrtc-relay-dev")
LIBRARIES = ("crtc-relay-kms", "crtc-relay-pattern")
HEADERS = ("kms_objects.h", "pixel_formats.h", "test_pattern.h")
COMPLETIONS = "share/bash-completion/completions"
EXAMPLES = "share/doc/libcrtc-relay-dev/examples"


def source_files(source_dir, folder, suffix=""):
    """The files under source_dir/folder, relative to it."""
    return {name for name in files_under(os.path.join(source_dir, folder)) if name.endswith(suffix)}


def expected_files(source_dir, private_libdir, libdir, version, config):
    """Every file an installed tree holds, relative to its root; config is
    the build type, which names one of the CMake package's files."""
    files = {f"bin/{program}" for program in PROGRAMS}
    files |= set(MAN_PAGES)
    files.add(f"{private_libdir}/libdrmsim.so")
    files |= {f"{DOC}/README.md", f"{DOC}/report.schema.json"}
    for package in PACKAGES:
        files |= {f"share/doc/{package}/copyright", f"share/doc/{package}/changelog.gz"}
    files |= {f"share/lintian/overrides/{name.removesuffix('.lintian-overrides')}"
              for name in source_files(source_dir, "packaging", ".lintian-overrides")}
    files |= {f"{DEVICES}/{name}" for name in source_files(source_dir, "devices", ".json")}
    files |= {f"{COMPLETIONS}/{program}" for program in PROGRAMS}
    files |= {f"include/crtc-relay/{header}" for header in HEADERS}
    for library in LIBRARIES:
        files |= {f"{libdir}/lib{library}.so{suffix}" for suffix in ("", ".0", "." + version)}
        files.add(f"{libdir}/pkgconfig/{library}.pc")
    files |= {f"{libdir}/cmake/CrtcRelay/CrtcRelay{name}.cmake"
              for name in ("Config", "ConfigVersion", "Targets", "Targets-" + config.lower())}
    files |= {f"{EXAMPLES}/{name}" for name in source_files(source_dir, "examples")}
    return files


def files_under(root):
    found = set()
    for folder, _, names in os.walk(root):
        for name in names:
            found.add(os.path.relpath(os.path.join(folder, name), root))
    return found


def ran(command, **kwargs):
    """The finished process, its output as text."""
    return subprocess.run(command, capture_output=True, text=True, check=False, **kwargs)


def run_with_quiet_stdin(command, env=None):
    """Runs command with standard input a pipe that stays open and empty,
    so that nothing but the run's own bound ends it."""
    quiet_read, quiet_write = os.pipe()
    try:
        return subprocess.run(command, stdin=quiet_read, capture_output=True, text=True,
                              timeout=60, check=False, env=env)
    finally:
        os.close(quiet_read)
        os.close(quiet_write)


def read_journal(path):
    with open(path, encoding="utf-8") as lines:
        return [json.loads(line) for line in lines]


def crtcs_shown_on(calls):
    """The CRTC index of each SETCRTC that set a mode, in order."""
    return [call["crtc_index"] for call in calls
            if call["request"] == "SETCRTC" and call["mode"] is not None]


class TreeChecks:
    """Mixed into a unittest.TestCase."""

    def check_versions(self, root, version, env=None):
        for program in PROGRAMS:
            with self.subTest(program=program):
                result = subprocess.run([os.path.join(root, "bin", program), "--version"],
                                        capture_output=True, text=True, check=False, env=env)
                self.assertEqual((result.returncode, result.stdout, result.stderr),
                                 (0, f"{program} {version}\n", ""))

    def check_relay_on_default_device(self, root, work, env=None):
        """Runs the tree's drmsim-run and crtc-relay on the tree's default
        device twice: on the virtual clock with input at 12.5 s, and on the
        real clock with two quick handovers. Either way the screen goes to
        CRTCs 0, 1 and 2, and the program leaves nothing behind."""
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)
        runs = {
            "virtual-clock": (["--virtual-clock", "--event", "input@12.5"], []),
            "real-clock": ([], ["--handovers", "2", "--period", "0.05"]),
        }
        for name, (runner_options, program_options) in runs.items():
            with self.subTest(run=name):
                journal = os.path.join(work, name + ".journal")
                report = os.path.join(work, name + ".report")
                result = run_with_quiet_stdin(
                    [os.path.join(root, "bin", "drmsim-run"), *runner_options,
                     "--journal", journal, "--report", report, "--",
                     os.path.join(root, "bin", "crtc-relay"), *program_options,
                     os.path.join(root, DEFAULT_DEVICE)], env)
                self.assertEqual((result.returncode, result.stdout, result.stderr),
                                 (0, "Using screen HDMI-A-0, resolution 1920x1080\n", ""))
                calls = read_journal(journal)
                self.assertEqual(crtcs_shown_on(calls), [0, 1, 2])
                self.assertTrue(all(call["result"] == 0 for call in calls), calls)
                with open(report, encoding="utf-8") as f:
                    left = json.load(f)
                # Nothing left behind: closed, every list empty, every count 0.
                self.assertIs(left.pop("closed"), True)
                self.assertIn("framebuffers", left)
                self.assertEqual({key: value for key, value in left.items() if value}, {})

    def check_libraries(self, root, libdir, env=None):
        """The SONAMEs, and the programs load the very libraries installed
        beside them."""
        for program, libraries in (("crtc-relay", LIBRARIES), ("testpattern", LIBRARIES[1:])):
            loaded = dict(re.findall(r"^\s*(\S+) => (\S+)", ran(["ldd", f"{root}/bin/{program}"],
                                                                env=env).stdout, re.MULTILINE))
            for library in (f"lib{library}.so.0" for library in libraries):
                with self.subTest(program=program, library=library):
                    self.assertIn(f"Library soname: [{library}]", ran(["readelf", "-d", loaded[library]]).stdout)
                    self.assertTrue(os.path.samefile(loaded[library], f"{root}/{libdir}/{library}"))

    def check_headers(self, include_dir):
        """Each installed header compiles alone, before and after libdrm's,
        and all of them in either order, warnings as errors; under C++17
        they say that they need C++20."""
        drm = ["drm.h", "drm_fourcc.h", "xf86drm.h", "xf86drmMode.h"]
        ours = [f"crtc-relay/{header}" for header in HEADERS]
        orders = [[h] for h in ours] + [drm + [h] for h in ours] + [[h] + drm for h in ours]
        compile_command = ["g++", "-x", "c++", "-fsyntax-only", "-Wall", "-Wextra", "-Werror", "-I" + include_dir,
                           *ran(["pkg-config", "--cflags", "libdrm"]).stdout.split(), "-"]
        for std, order in [("c++20", order) for order in orders + [ours + drm, drm + ours[::-1]]] + \
                [("c++17", [h]) for h in ours]:
            with self.subTest(std=std, order=order):
                result = ran([*compile_command, "-std=" + std],
                             input="".join(f"#include <{header}>\n" for header in order))
                self.assertEqual((result.returncode, "need C++20 or later" in result.stderr),
                                 (0, False) if std == "c++20" else (1, True), result.stderr)

    def check_example(self, root, examples, libdir, work, env=None):
        """The installed example, built through find_package and through
        pkg-config against root, runs on root's default device: lists its
        screens and shows the pattern through CRTC 0."""
        shutil.rmtree(work, ignore_errors=True)
        source = os.path.join(examples, "show-pattern")
        env = dict(env or os.environ, PKG_CONFIG_PATH=f"{root}/{libdir}/pkgconfig")
        builds = {"find_package": [["cmake", "-S", source, "-B", ".", "-DCMAKE_PREFIX_PATH=" + root],
                                   ["cmake", "--build", "."]],
                  "pkg-config": [["make", "-f", source + "/Makefile", "VPATH=" + source]]}
        for name, commands in builds.items():
            with self.subTest(build=name):
                folder = os.path.join(work, name)
                os.makedirs(folder)
                for command in commands:
                    result = ran(command, cwd=folder, env=env)
                    self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
                result = ran([f"{root}/bin/drmsim-run", "--journal", f"{folder}/journal", "--",
                              f"{folder}/show-pattern", os.path.join(root, DEFAULT_DEVICE), "tiles"],
                             env=env, stdin=subprocess.DEVNULL, timeout=60)
                self.assertEqual((result.returncode, result.stderr), (0, ""))
                self.assertIn("HDMI-A-0: connected, 1920x1080\n", result.stdout)
                self.assertTrue(result.stdout.endswith("showing tiles on HDMI-A-0; Enter ends\n"))
                self.assertEqual(crtcs_shown_on(read_journal(f"{folder}/journal")), [0])
