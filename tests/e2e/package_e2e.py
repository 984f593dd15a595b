"""The Debian package from end to end (root only): tools/package builds it with the test update
key (tests/update/signatures), apt-get installs it, a normal user starts /usr/bin/tclink on a
private X display and takes a signed update from the test peers into the user's own copy, and
the package is removed again. Without a key tools/package refuses to build."""

import grp
import os
import pwd
import shutil
import subprocess
import tempfile
import time
import unittest

from common import TOOLS, TRACE, traced
from peers import UpdateServers, wait_until
from xdesktop import Desktop

ROOT = os.path.dirname(TOOLS)
USER = "nobody"
INSTALLED = "/usr/lib/tclink/tclink"
QUESTION = "有最新版本，是否升级？"
SIGNATURES = os.path.join(ROOT, "tests", "update", "signatures")
with open(os.path.join(SIGNATURES, "test.pub")) as _f:
    PUBLIC_KEY = _f.read().splitlines()[1]


class PackageNeedsAKey(unittest.TestCase):
    def test_without_a_key_tools_package_refuses(self):
        env = {k: v for k, v in os.environ.items() if k != "TCLINK_UPDATE_PUBLIC_KEY"}
        result = subprocess.run([os.path.join(TOOLS, "package")], env=env, capture_output=True,
                                text=True, timeout=60)
        self.assertEqual(result.returncode, 2)
        self.assertIn("--unsigned", result.stderr)
APT = ["apt-get", "-o", "DPkg::Lock::Timeout=600", "-y", "-qq"]


@unittest.skipUnless(os.geteuid() == 0, "installs a package: needs root")
class Package(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        subprocess.run([os.path.join(TOOLS, "package")], check=True, stdout=subprocess.DEVNULL,
                       env=dict(os.environ, TCLINK_UPDATE_PUBLIC_KEY=PUBLIC_KEY))
        debs = [name for name in os.listdir(os.path.join(ROOT, "build"))
                if name.startswith("tclink_") and name.endswith(".deb")]
        assert len(debs) == 1, debs
        cls.deb = os.path.join(ROOT, "build", debs[0])
        subprocess.run(APT + ["install", cls.deb], check=True, stdout=subprocess.DEVNULL,
                       env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"))

    @classmethod
    def tearDownClass(cls):
        subprocess.run(APT + ["purge", "tclink"], check=True, stdout=subprocess.DEVNULL,
                       env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"))
        assert not os.path.exists("/usr/bin/tclink") and not os.path.exists(INSTALLED)

    def setUp(self):
        self.desk = Desktop()
        self.addCleanup(self.desk.close)
        user = pwd.getpwnam(USER)
        self.home = tempfile.mkdtemp(prefix="tclink-home-")
        self.addCleanup(shutil.rmtree, self.home, ignore_errors=True)
        os.chown(self.home, user.pw_uid, grp.getgrnam("nogroup").gr_gid)
        os.chmod(self.desk.work, 0o755)  # the user's program writes its output there
        self.copy = os.path.join(self.home, ".local", "lib", "tclink")
        self.marker = os.path.join(self.home, "new-program-started")

    def start(self):
        """/usr/bin/tclink as the normal user, with a home of its own and its default drives."""
        return self.desk.start("/usr/bin/tclink", temporary_drives=False, extra_env=TRACE,
                               prefix=("runuser", "-u", USER, "--", "env", "-u", "XDG_CONFIG_HOME",
                                       f"HOME={self.home}"))

    def test_the_description_says_updates_are_signed(self):
        description = subprocess.run(["dpkg-deb", "-f", self.deb, "Description"], check=True,
                                     capture_output=True, text=True).stdout
        self.assertIn("It installs only updates signed with the packager's key.", description)

    def test_the_package_depends_on_the_freerdp_libraries_the_program_loads(self):
        # The program does not link them (it loads them when the session starts).
        depends = subprocess.run(["dpkg-deb", "-f", self.deb, "Depends"], check=True,
                                 capture_output=True, text=True).stdout
        for library in ("libfreerdp-client", "libfreerdp", "libwinpr"):
            self.assertRegex(depends, rf"(^|, ){library}[23]-[23]\b", depends)

    def test_menu_entry_icon_and_hardened_program(self):
        subprocess.run(["desktop-file-validate", "/usr/share/applications/tclink.desktop"],
                       check=True)
        for size in ("16x16", "48x48", "256x256"):
            self.assertTrue(os.path.exists(f"/usr/share/icons/hicolor/{size}/apps/tclink.png"))
        dynamic = subprocess.run(["readelf", "-d", INSTALLED], capture_output=True, text=True,
                                 check=True).stdout
        self.assertIn("BIND_NOW", dynamic)  # Debian's hardening: full RELRO, PIE
        self.assertRegex(dynamic, r"FLAGS_1.*PIE")

    def test_installed_program_updates_in_the_users_copy(self):
        with open(INSTALLED, "rb") as f:
            packaged = f.read()
        new_program = f"#!/bin/sh\necho started >> '{self.marker}'\n".encode()
        with tempfile.TemporaryDirectory() as folder:
            update = os.path.join(folder, "tclink.exe")
            with open(update, "wb") as f:
                f.write(new_program)
            subprocess.run([os.path.join(TOOLS, "sign-update"),
                            os.path.join(SIGNATURES, "test.key"), "1", update], check=True,
                           stdout=subprocess.DEVNULL)
            with open(update + ".minisig", "rb") as f:
                signature = f.read()
        files = {"tclink.exe": new_program, "tclink.exe.minisig": signature}
        with UpdateServers(revision="1", files=files, ftp=True):
            program = self.start()
            window = self.desk.window("^升级程序$", timeout=30, activate=False)
            self.assertIn('"tclink", "tclink"', self.desk.x_client("xprop", "-id", window,
                                                                    "WM_CLASS"))
            wait_until(lambda: any(QUESTION in box for box in traced(self.desk, "box")), 20,
                       "the question")
            time.sleep(0.3)
            self.desk.xdotool("key", "--window", self.desk.xdotool("getactivewindow"), "alt+y")
            self.assertEqual(program.wait(timeout=60), 0, self.desk.log_text())
        wait_until(lambda: os.path.exists(self.marker), 10, "the new program to start")

        # The user's copy took the update and kept the packaged program as the previous one;
        # the package's own file is untouched.
        with open(os.path.join(self.copy, "tclink"), "rb") as f:
            self.assertEqual(f.read(), new_program)
        with open(os.path.join(self.copy, "tclinkold"), "rb") as f:
            self.assertTrue(f.read() == packaged)
        with open(INSTALLED, "rb") as f:
            self.assertTrue(f.read() == packaged)
        self.assertEqual(os.stat(os.path.join(self.copy, "tclink")).st_uid,
                         pwd.getpwnam(USER).pw_uid)

        # The next start runs the updated copy, not the packaged program again.
        os.unlink(self.marker)
        self.assertEqual(self.start().wait(timeout=30), 0)
        wait_until(lambda: os.path.exists(self.marker), 10, "the updated program to start")


if __name__ == "__main__":
    unittest.main()
