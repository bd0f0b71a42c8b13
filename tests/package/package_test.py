#!/usr/bin/env python3
"""The Debian package: it builds, lintian finds no errors, the unit passes
systemd-analyze verify, the expected files are in it, and the programs run
from the unpacked package (the console served against an emulator).

usage: package_test.py BUILD_DIR SOURCE_DIR"""

import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "browser"))
import service  # noqa: E402

BUILD_DIR, SOURCE_DIR = sys.argv[1], sys.argv[2]
TOKEN = "package-test-token"
UNIT = "usr/lib/systemd/system/zuv-server.service"
CONFIG = "etc/zuv-server/config.toml"
EXPECTED = [
    "usr/bin/zuv", "usr/bin/zuv_emulator", "usr/bin/zuv-server",
    "usr/lib/libzuv_driver.a", "usr/lib/libzuv_serial.a",
    "usr/include/zuv/driver/comportzuv.h",
    "usr/lib/cmake/ZuvFiscal/ZuvFiscalConfig.cmake",
    "usr/lib/pkgconfig/zuv-fiscal.pc",
    "usr/share/zuv-server/console/index.html",
    "usr/share/zuv-server/console/app.js",
    UNIT, CONFIG,
    "usr/share/doc/zuv-fiscal/copyright",
    "usr/share/doc/zuv-fiscal/changelog.gz",
]
# Lintian warnings this package keeps, each for a reason the README gives.
KEPT_WARNINGS = {
    # No manual pages yet: every program documents itself with --help.
    "no-manual-page",
    # One package for every architecture's till: the static libraries and
    # their pkg-config file live in /usr/lib, not a multiarch folder.
    "pkg-config-unavailable-for-cross-compilation",
}


def run(*command, **options):
    return subprocess.run(command, capture_output=True, text=True, **options)


class Package(unittest.TestCase):
    deb = None
    work = None

    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="zuv-package-")
        built = run("cpack", "-G", "DEB", "-B", cls.work, cwd=BUILD_DIR)
        if built.returncode != 0:
            raise AssertionError("cpack failed:\n" + built.stdout + built.stderr)
        debs = glob.glob(os.path.join(cls.work, "*.deb"))
        if len(debs) != 1:
            raise AssertionError(f"expected one package, cpack made {debs}")
        cls.deb = debs[0]
        cls.root = os.path.join(cls.work, "root")
        unpacked = run("dpkg", "-x", cls.deb, cls.root)
        if unpacked.returncode != 0:
            raise AssertionError("dpkg -x failed: " + unpacked.stderr)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def test_lists_the_expected_files(self):
        listing = run("dpkg-deb", "-c", self.deb)
        self.assertEqual(listing.returncode, 0, listing.stderr)
        paths = {line.split()[-1].lstrip("./") for line in listing.stdout.splitlines()
                 if not line.startswith("d")}
        missing = [path for path in EXPECTED if path not in paths]
        self.assertEqual(missing, [], "\n".join(sorted(paths)))

    def test_the_configuration_is_a_conffile_and_says_loopback(self):
        control = run("dpkg-deb", "-I", self.deb, "conffiles")
        self.assertEqual(control.stdout.split(), ["/" + CONFIG])
        with open(os.path.join(self.root, CONFIG)) as config:
            settings = [line for line in config if line.strip() and not line.startswith("#")]
        self.assertEqual(len(settings), 2, settings)  # listen and state_dir only
        self.assertRegex(settings[0], r'^listen = "127\.0\.0\.1:\d+"$')
        self.assertRegex(settings[1], r'^state_dir = "/var/lib/zuv-server"$')

    def test_lintian_reports_no_errors(self):
        report = run("lintian", "--no-tag-display-limit", self.deb)
        tags = [line for line in report.stdout.splitlines() if re.match(r"^[EWIPX]: ", line)]
        errors = [line for line in tags if line.startswith("E: ")]
        self.assertEqual(errors, [], report.stdout + report.stderr)
        warnings = {line.split()[2] for line in tags if line.startswith("W: ")}
        self.assertEqual(warnings - KEPT_WARNINGS, set(), report.stdout)

    def test_the_unit_passes_systemd_analyze_verify(self):
        if not shutil.which("systemd-analyze"):
            self.skipTest("systemd-analyze is missing: install the systemd package")
        # verify insists that ExecStart's program exists on this machine, so
        # the unit is checked with the unpacked program's path.
        with open(os.path.join(self.root, UNIT)) as unit:
            text = unit.read()
        self.assertIn("ExecStart=/usr/bin/zuv-server ", text)
        program = os.path.join(self.root, "usr/bin/zuv-server")
        checked = os.path.join(self.work, "zuv-server.service")
        with open(checked, "w") as unit:
            unit.write(text.replace("/usr/bin/zuv-server", program))
        verified = run("systemd-analyze", "verify", "--man=no", checked)
        self.assertEqual(verified.returncode, 0, verified.stderr)
        # Unknown or misspelt settings are only warned about: none may appear.
        self.assertEqual(verified.stderr.strip(), "")

    def test_the_programs_run_from_the_unpacked_package(self):
        bindir = os.path.join(self.root, "usr/bin")
        version = run(os.path.join(bindir, "zuv-server"), "--version")
        self.assertEqual(version.returncode, 0, version.stderr)
        self.assertIn(run("dpkg-deb", "-f", self.deb, "Version").stdout.strip(), version.stdout)
        tool = run(os.path.join(bindir, "zuv"), "--help")
        self.assertEqual(tool.returncode, 0, tool.stderr)
        self.assertIn("nonfiscal", tool.stdout)

    def test_the_unpacked_server_serves_the_console(self):
        bindir = os.path.join(self.root, "usr/bin")
        console = os.path.join(self.root, "usr/share/zuv-server/console")
        emulator = service.Emulator(os.path.join(bindir, "zuv_emulator"))
        self.addCleanup(emulator.stop)
        state = os.path.join(self.work, "state")
        server = service.Server(os.path.join(bindir, "zuv-server"), state,
                                {"till": emulator.port}, TOKEN, console)
        self.addCleanup(server.stop)
        status, page = server.get("/")
        self.assertEqual(status, 200)
        with open(os.path.join(console, "index.html")) as index:
            self.assertEqual(page, index.read())
        status, printers = server.get("/v1/printers", TOKEN)
        self.assertEqual(status, 200)
        self.assertIn(emulator.port, printers)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
