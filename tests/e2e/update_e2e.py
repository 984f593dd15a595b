"""Self-update of the whole program on a real X display, against the real update web and FTP
servers: the bare program without an unpacker, the archive with the unpacker on D:, an archive
without the program, downloads that are no program (empty, random bytes, an empty program or a
link in the archive, a program cut short, a script with CRLF line ends), a new program that
dies at its start, close requests during the update, a server that trickles, an update too
large or too slow, the answer No, and an update server that cannot be reached."""

import io
import os
import shutil
import signal
import stat
import sys
import tempfile
import time
import unittest

from common import PROGRAM, TOOLS, TRACE, InstalledProgram, needs_ftp, traced

sys.path.insert(0, os.path.join(TOOLS, "servers"))
import rar4  # noqa: E402
from peers import UpdateServers, wait_until  # noqa: E402

QUESTION = "有最新版本，是否升级？"


def new_program(marker):
    """A stand-in for the new program: it leaves a marker file when it starts."""
    return f"#!/bin/sh\necho started > '{marker}'\n".encode()


def rar(entries):
    out = io.BytesIO()
    with tempfile.NamedTemporaryFile(delete=False) as f:
        path = f.name
    rar4.write(path, entries)
    with open(path, "rb") as f:
        out.write(f.read())
    os.unlink(path)
    return out.getvalue()


class Update(InstalledProgram):
    def answer_question(self, key):
        wait_until(lambda: any(QUESTION in box for box in traced(self.desk, "box")), 20, "the question")
        time.sleep(0.3)
        self.desk.xdotool("key", "--window", self.desk.xdotool("getactivewindow"), key)

    def install_unpacker(self, drive):
        folder = os.path.join(self.desk.drive_c if drive == "C" else self.desk.drive_d,
                              "Program Files", "WinRAR")
        os.makedirs(folder)
        target = os.path.join(folder, "winrar.exe")
        shutil.copy2(os.path.join(TOOLS, "servers", "winrar"), target)
        os.chmod(target, os.stat(target).st_mode | stat.S_IXUSR)

    @needs_ftp
    def test_bare_program_without_unpacker(self):
        files = {"tclink.exe": new_program(self.marker)}
        with UpdateServers(revision="1", files=files, ftp=True):
            program = self.desk.start(self.installed, extra_env=TRACE)
            self.answer_question("alt+y")
            self.assertEqual(program.wait(timeout=60), 0)
        wait_until(lambda: os.path.exists(self.marker), 10, "the new program to start")
        with open(self.installed, "rb") as f:
            self.assertEqual(f.read(), files["tclink.exe"])
        with open(os.path.join(self.folder, "tclinkold"), "rb") as f:
            self.assertTrue(f.read() == self.old_bytes)
        self.assertEqual(sorted(os.listdir(self.folder)), ["tclink", "tclinkold"])

    @needs_ftp
    def test_archive_unpacked_with_the_unpacker_on_d(self):
        self.install_unpacker("D")
        archive = rar([("bin\\tclink.exe", new_program(self.marker)), ("readme.txt", b"x")])
        with UpdateServers(revision="1", files={"tclink.rar": archive}, ftp=True):
            program = self.desk.start(self.installed, drive_d=True, extra_env=TRACE)
            self.answer_question("alt+y")
            self.assertEqual(program.wait(timeout=60), 0)
        wait_until(lambda: os.path.exists(self.marker), 10, "the new program to start")
        with open(self.installed, "rb") as f:
            self.assertEqual(f.read(), new_program(self.marker))
        # Nothing of the update stays in c:\windows: neither the archive nor its other entries.
        self.assertEqual(os.listdir(os.path.join(self.desk.drive_c, "windows")), [])

    @needs_ftp
    def test_archive_without_the_program_starts_the_old_one_again(self):
        self.install_unpacker("C")
        archive = rar([("other.exe", b"not it")])
        with UpdateServers(revision="1", files={"tclink.rar": archive}, ftp=True):
            program = self.desk.start(self.installed, extra_env=TRACE)
            self.answer_question("alt+y")
            self.assertEqual(program.wait(timeout=60), 0)
            # The old program runs again and, finding the update, asks once more.
            window = self.desk.window("^升级程序$", timeout=20, activate=False)
            again = int(self.desk.xdotool("getwindowpid", window))
            self.assertNotEqual(again, program.pid)
            os.kill(again, signal.SIGTERM)
        with open(self.installed, "rb") as f:
            self.assertTrue(f.read() == self.old_bytes)
        self.assertFalse(os.path.exists(self.marker))

    def assert_old_program_started_again(self, program):
        """The update failed: the old program is in place and runs again (and, finding the
        update, asks once more)."""
        self.assertEqual(program.wait(timeout=60), 0)
        window = self.desk.window("^升级程序$", timeout=20, activate=False)
        again = int(self.desk.xdotool("getwindowpid", window))
        self.assertNotEqual(again, program.pid)
        os.kill(again, signal.SIGTERM)
        with open(self.installed, "rb") as f:
            self.assertTrue(f.read() == self.old_bytes)
        self.assertTrue(os.access(self.installed, os.X_OK))
        self.assertEqual(sorted(os.listdir(self.folder)), ["tclink"])
        self.assertIn("tclink.update: status 软件更新失败，正在启动老程序。。。。。。",
                      self.desk.log_text())

    @needs_ftp
    def test_a_download_that_is_no_program_is_not_installed(self):
        for name, data in (("empty", b""), ("random", os.urandom(300 * 1024))):
            with self.subTest(name):
                with UpdateServers(revision="1", files={"tclink.exe": data}, ftp=True):
                    program = self.desk.start(self.installed, extra_env=TRACE)
                    self.answer_question("alt+y")
                    self.assert_old_program_started_again(program)

    @needs_ftp
    def test_an_archive_with_an_empty_or_linked_program_is_not_installed(self):
        self.install_unpacker("C")
        victim = os.path.join(self.desk.work, "someone-elses-file")
        with open(victim, "wb") as f:
            f.write(b"#!/bin/sh\necho hijacked\n")
        os.chmod(victim, 0o600)
        for name, entry in (("empty", ("tclink.exe", b"")),
                            ("link", ("tclink.exe", victim, rar4.LINK))):
            with self.subTest(name):
                with UpdateServers(revision="1", files={"tclink.rar": rar([entry])}, ftp=True):
                    program = self.desk.start(self.installed, extra_env=TRACE)
                    self.answer_question("alt+y")
                    self.assert_old_program_started_again(program)
                self.assertFalse(os.path.lexists(os.path.join(self.desk.drive_c, "windows", "tclink.exe")))
        self.assertEqual(stat.S_IMODE(os.stat(victim).st_mode), 0o600)

    @needs_ftp
    def test_a_program_cut_short_or_a_crlf_script_is_not_installed(self):
        cases = (("the first 64 KiB of the program", self.old_bytes[:64 * 1024]),
                 ("CRLF line ends", f"#!/bin/sh\r\necho started > '{self.marker}'\r\n".encode()))
        for name, data in cases:
            with self.subTest(name):
                with UpdateServers(revision="1", files={"tclink.exe": data}, ftp=True):
                    program = self.desk.start(self.installed, extra_env=TRACE)
                    self.answer_question("alt+y")
                    self.assert_old_program_started_again(program)
                self.assertFalse(os.path.exists(self.marker))

    @needs_ftp
    def test_a_new_program_that_dies_at_its_start_is_replaced_by_the_old_one(self):
        files = {"tclink.exe": b"#!/bin/sh\nkill -SEGV $$\n"}
        with UpdateServers(revision="1", files=files, ftp=True):
            program = self.desk.start(self.installed, extra_env=TRACE)
            self.answer_question("alt+y")
            self.assert_old_program_started_again(program)
        statuses = [line for line in self.desk.log_text().splitlines()
                    if line.startswith("tclink.update: status 软件更新")]
        self.assertEqual(statuses, ["tclink.update: status 软件更新成功，正在启动新程序。。。。。。",
                                    "tclink.update: status 软件更新失败，正在启动老程序。。。。。。"])

    @needs_ftp
    def test_the_new_program_reports_its_first_window_and_the_old_one_ends(self):
        # The new program is the real one: the old one ends once its window is on screen,
        # well before the 30 s it would wait for a program that neither ends nor reports.
        with UpdateServers(revision="1", files={"tclink.exe": self.old_bytes}, ftp=True):
            program = self.desk.start(self.installed, extra_env=TRACE)
            self.answer_question("alt+y")
            wait_until(lambda: "软件更新成功" in self.desk.log_text(), 30, "the installation")
            started = time.monotonic()
            self.assertEqual(program.wait(timeout=40), 0)
            ended = time.monotonic() - started
            print(f"old program ended {ended:.1f} s after starting the new one", file=sys.stderr)
            self.assertLess(ended, 20)
            window = self.desk.window("^升级程序$", timeout=20, activate=False)
            again = int(self.desk.xdotool("getwindowpid", window))
            self.assertNotEqual(again, program.pid)
            os.kill(again, signal.SIGTERM)
        self.assertTrue(os.path.exists(os.path.join(self.folder, "tclinkold")))

    @needs_ftp
    def test_close_requests_during_the_download_and_the_unpacking_are_ignored(self):
        # A slow server and a slow unpacker; Alt+F4 in both. Run with the sanitizer build too.
        folder = os.path.join(self.desk.drive_c, "Program Files", "WinRAR")
        os.makedirs(folder)
        unpacker = os.path.join(folder, "winrar.exe")
        with open(unpacker, "w") as f:
            f.write(f"#!/bin/sh\nsleep 4\nexec '{os.path.join(TOOLS, 'servers', 'winrar')}' \"$@\"\n")
        os.chmod(unpacker, 0o755)
        archive = rar([("tclink.exe", new_program(self.marker) + b"#" * 60000)])
        with UpdateServers(revision="1", files={"tclink.rar": archive}, ftp=True,
                           ftp_options=("--rate", "15000")):
            program = self.desk.start(self.installed, extra_env=TRACE)
            self.answer_question("alt+y")
            window = self.desk.window("^升级程序$", timeout=20, activate=False)
            for phase in ("在接收升级服务器的新版本软件", "正在解压下载的新版本软件"):
                wait_until(lambda: phase in self.desk.log_text(), 30, phase)
                for _ in range(3):
                    # Through the window manager, as a person closes it.
                    self.desk.xdotool("windowfocus", window)
                    self.desk.xdotool("key", "alt+F4")
                    time.sleep(0.5)
                self.assertIsNone(program.poll(), phase + "\n" + self.desk.log_text()[-3000:])
                self.assertTrue(self.desk.xdotool("search", "--onlyvisible", "--name", "^升级程序$"))
            self.assertEqual(program.wait(timeout=60), 0, self.desk.log_text()[-3000:])
        wait_until(lambda: os.path.exists(self.marker), 10, "the new program to start")

    @needs_ftp
    def test_an_update_too_large_or_too_slow_is_a_transfer_error(self):
        # Too large: a "#!" file of 257 MiB (sparse on the server's disk) against the real
        # 256 MiB bound. Too slow: 4 KB/s, above the minimum rate, against a time bound
        # lowered from 15 minutes for the test.
        data = new_program(self.marker) + b"#" * 200000
        cases = (("too large", {}, (), 257 << 20, 30),
                 ("too slow", {"TCLINK_TEST_UPDATE_TIME_LIMIT_MS": "6000"}, ("--rate", "4000"),
                  None, 20))
        for name, bound, options, size, seconds in cases:
            with self.subTest(name):
                with UpdateServers(revision="1", files={"tclink.exe": data}, ftp=True,
                                   ftp_options=options) as servers:
                    if size:
                        for line in ("127.0.0.1", "127.0.0.2"):
                            os.truncate(os.path.join(servers.root, line, servers.EDITION,
                                                     "tclink.exe"), size)
                    program = self.desk.start(self.installed, extra_env={**TRACE, **bound})
                    self.answer_question("alt+y")
                    started = time.monotonic()
                    self.assertEqual(program.wait(timeout=60), 0)
                    took = time.monotonic() - started
                    print(f"{name}: ended after {took:.1f} s", file=sys.stderr)
                    self.assertLess(took, seconds)
                self.assertIn("tclink.update: status 与升级服务器通讯时出现了错误。。。。。。",
                              self.desk.log_text())
                with open(self.installed, "rb") as f:
                    self.assertTrue(f.read() == self.old_bytes)
                self.assertFalse(os.path.exists(self.marker))
                self.assertEqual(os.listdir(os.path.join(self.desk.drive_c, "windows")), [])

    @needs_ftp
    def test_a_trickling_server_is_abandoned_within_the_bound(self):
        # Under 1 KiB/s for 60 s is a transfer error: the program ends, nothing is installed.
        files = {"tclink.exe": new_program(self.marker) + b"#" * 100000}
        with UpdateServers(revision="1", files=files, ftp=True, ftp_options=("--rate", "200")):
            program = self.desk.start(self.installed, extra_env=TRACE)
            self.answer_question("alt+y")
            started = time.monotonic()
            self.assertEqual(program.wait(timeout=90), 0)
            self.assertLess(time.monotonic() - started, 75)
        self.assertIn("tclink.update: status 与升级服务器通讯时出现了错误。。。。。。",
                      self.desk.log_text())
        with open(self.installed, "rb") as f:
            self.assertTrue(f.read() == self.old_bytes)
        self.assertFalse(os.path.exists(self.marker))

    @needs_ftp
    def test_killed_during_the_completion_the_folder_holds_a_program(self):
        # The completion sequence takes about two seconds (its waits); kill the program at
        # random moments in and around it.
        files = {"tclink.exe": new_program(self.marker)}
        random = __import__("random").Random(5)
        with UpdateServers(revision="1", files=files, ftp=True):
            for run in range(8):
                shutil.copy2(PROGRAM, self.installed)
                program = self.desk.start(self.installed, extra_env=TRACE)
                self.answer_question("alt+y")
                time.sleep(random.uniform(0.8, 3.0))
                if program.poll() is None:
                    program.kill()
                program.wait(timeout=10)
                with open(self.installed, "rb") as f:
                    content = f.read()
                self.assertTrue(content in (self.old_bytes, files["tclink.exe"]), f"run {run}")
                self.assertTrue(os.access(self.installed, os.X_OK), f"run {run}")

    def test_no_opens_the_launcher(self):
        with UpdateServers(revision="1", files={}, ftp=False):
            program = self.desk.start(self.installed, extra_env=TRACE)
            self.answer_question("alt+n")
            self.desk.window("^Form2$")
            self.assertIsNone(program.poll())
        with open(self.installed, "rb") as f:
            self.assertTrue(f.read() == self.old_bytes)

    def test_unreachable_update_server_is_told_and_ends(self):
        program = self.desk.start(self.installed, extra_env=TRACE)  # nothing listens
        box = self.desk.window("^35754$")
        self.desk.xdotool("key", "--window", box, "Return")
        self.assertEqual(program.wait(timeout=10), 0)
        self.assertEqual(len(traced(self.desk, "box")), 1)
        self.assertEqual(self.desk.xdotool("search", "--name", "^Form2$"), "")


if __name__ == "__main__":
    unittest.main()
