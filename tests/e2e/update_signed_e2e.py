"""Self-update of the program built with an update key (tclink-signed-test, with the test key
pair of tests/update/signatures): only files signed with that key, for the offered revision,
are installed; a missing signature, one by another key, one for another revision and one
padded far beyond a signature's size are refused and the old program starts again."""

import os
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import time
import unittest

from common import TOOLS, TRACE, InstalledProgram, needs_ftp, traced

sys.path.insert(0, os.path.join(TOOLS, "servers"))
import rar4  # noqa: E402
from peers import UpdateServers, wait_until  # noqa: E402

QUESTION = "有最新版本，是否升级？"
KEY = os.environ["TCLINK_UPDATE_SECRET_KEY"]


def signed(files, revision, key=KEY):
    """The files with their signatures, made by tools/sign-update."""
    with tempfile.TemporaryDirectory() as folder:
        for name, data in files.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
        subprocess.run([os.path.join(TOOLS, "sign-update"), key, revision]
                       + [os.path.join(folder, name) for name in files],
                       check=True, stdout=subprocess.DEVNULL)
        result = {}
        for name in os.listdir(folder):
            with open(os.path.join(folder, name), "rb") as f:
                result[name] = f.read()
        return result


@needs_ftp
class SignedUpdate(InstalledProgram):
    def setUp(self):
        super().setUp()
        self.new_program = f"#!/bin/sh\necho started > '{self.marker}'\n".encode()

    def update(self, files, drive_d=False):
        """Offers revision 2 with these files and takes the update; returns the process."""
        with UpdateServers(revision="2", files=files, ftp=True):
            program = self.desk.start(self.installed, drive_d=drive_d, extra_env=TRACE)
            wait_until(lambda: any(QUESTION in box for box in traced(self.desk, "box")), 20,
                       "the question")
            time.sleep(0.3)
            self.desk.xdotool("key", "--window", self.desk.xdotool("getactivewindow"), "alt+y")
            self.assertEqual(program.wait(timeout=60), 0)
            if not os.path.exists(self.marker):
                # Refused: the old program runs again and asks once more.
                window = self.desk.window("^升级程序$", timeout=20, activate=False)
                os.kill(int(self.desk.xdotool("getwindowpid", window)), signal.SIGTERM)
        return program

    def assert_refused(self):
        with open(self.installed, "rb") as f:
            self.assertTrue(f.read() == self.old_bytes)
        self.assertFalse(os.path.exists(self.marker))
        self.assertEqual(self.desk.log_text().count(
            "tclink.update: status 软件更新失败，正在启动老程序。。。。。。"), 1)

    def test_a_correctly_signed_program_is_installed(self):
        self.update(signed({"tclink.exe": self.new_program}, "2"))
        wait_until(lambda: os.path.exists(self.marker), 10, "the new program to start")
        with open(self.installed, "rb") as f:
            self.assertEqual(f.read(), self.new_program)

    def test_a_correctly_signed_archive_is_unpacked_and_installed(self):
        folder = os.path.join(self.desk.drive_d, "Program Files", "WinRAR")
        os.makedirs(folder)
        shutil.copy2(os.path.join(TOOLS, "servers", "winrar"), os.path.join(folder, "winrar.exe"))
        with tempfile.NamedTemporaryFile() as archive:
            rar4.write(archive.name, [("tclink.exe", self.new_program)])
            self.update(signed({"tclink.rar": archive.read()}, "2"), drive_d=True)
        wait_until(lambda: os.path.exists(self.marker), 10, "the new program to start")

    def test_unsigned_foreign_and_replayed_programs_are_refused(self):
        other = tempfile.mkdtemp()
        subprocess.run(["minisign", "-G", "-W", "-p", os.path.join(other, "k.pub"),
                        "-s", os.path.join(other, "k.key")], check=True, stdout=subprocess.DEVNULL)
        # A good signature followed by 100 MB of line feeds: not read beyond 4 KiB.
        oversized = signed({"tclink.exe": self.new_program}, "2")
        oversized["tclink.exe.minisig"] += b"\n" * (100 << 20)
        cases = {
            "no signature": {"tclink.exe": self.new_program},
            "another key": signed({"tclink.exe": self.new_program}, "2",
                                  key=os.path.join(other, "k.key")),
            "an older revision": signed({"tclink.exe": self.new_program}, "1"),
            "an oversized signature": oversized,
        }
        shutil.rmtree(other)
        for name, files in cases.items():
            with self.subTest(name):
                started = time.monotonic()
                self.update(files)  # each start begins a new log
                print(f"{name}: refused in {time.monotonic() - started:.1f} s", file=sys.stderr)
                self.assert_refused()
                self.assertEqual(sorted(os.listdir(self.folder)), ["tclink"])
                self.assertEqual(os.listdir(os.path.join(self.desk.drive_c, "windows")), [])


if __name__ == "__main__":
    unittest.main()
