"""What the terminal server can reach of the workstation: the whole program against
tclink-hostile-drive-server, which tries to write outside the shared drives (the home, ~/.bashrc,
the per-user copy of the program, "..\\" paths, links in the drive), with the default drives of
a home of its own; drives that must not be shared; and a home that cannot be written."""

import grp
import hashlib
import os
import pwd
import shutil
import stat
import time
import unittest

from common import LOGIN, PROGRAM, TRACE, setUpModule, tearDownModule  # noqa: F401
from peers import DemoServer, wait_until  # noqa: E402
from xdesktop import Desktop  # noqa: E402

BINARIES = os.path.dirname(PROGRAM)
HOSTILE = os.path.join(BINARIES, "tclink-hostile-drive-server")
DEMO = os.path.join(BINARIES, "tclink-demo-server")
ID_LINE = b"5kedomra240815 7a "
BASHRC = b"# the user's own\n"
COPY = b"#!/bin/sh\n# the user's copy of the program\n"


def write(path, data, mode=0o644):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    os.chmod(path, mode)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def snapshot(top, skip=()):
    """Every entry under top but those under `skip`: kind, mode and content or link target."""
    state = {}
    for folder, dirs, files in os.walk(top):
        dirs[:] = [d for d in dirs if os.path.join(folder, d) not in skip]
        for name in dirs + files:
            path = os.path.join(folder, name)
            info = os.lstat(path)
            if stat.S_ISLNK(info.st_mode):
                state[path] = ("link", os.readlink(path))
            elif stat.S_ISREG(info.st_mode):
                state[path] = ("file", info.st_mode, hashlib.sha256(read(path)).hexdigest())
            else:
                state[path] = ("other", info.st_mode)
    return state


class Drives(unittest.TestCase):
    """A home of its own with a login shell's file, the per-user copy of the program and an
    autostart folder; the program's default drives C: and D: inside it."""

    def setUp(self):
        self.desk = Desktop()
        self.addCleanup(self.desk.close)
        self.home = os.path.join(self.desk.work, "home")
        self.data = os.path.join(self.home, ".local", "share", "tclink")
        self.drive_c = os.path.join(self.data, "drive_c")
        self.drive_d = os.path.join(self.data, "drive_d")
        write(os.path.join(self.home, ".bashrc"), BASHRC)
        write(os.path.join(self.home, ".local", "lib", "tclink", "tclink"), COPY, 0o755)
        os.makedirs(os.path.join(self.home, ".config", "autostart"))
        os.makedirs(self.drive_c)
        write(os.path.join(self.drive_d, "id.txt"), ID_LINE)  # D: holds the settings
        # The drives, and what the program and its sound library keep in the home.
        self.own = (self.drive_c, self.drive_d, os.path.join(self.home, ".config", "tclink"),
                    os.path.join(self.home, ".config", "pulse"))
        self.errors = os.path.join(self.desk.work, "server-errors.txt")
        self.env = {**TRACE, "HOME": self.home,
                    "XDG_CONFIG_HOME": os.path.join(self.home, ".config"),
                    "XDG_DATA_HOME": os.path.join(self.home, ".local", "share")}

    def log_in(self, server, extra_env=None, program=PROGRAM):
        """Starts the program, logs in and waits for the server's login line."""
        started = time.monotonic()
        self.desk.start(program, temporary_drives=False,
                        extra_env={**self.env, **(extra_env or {})})
        self.desk.click(self.desk.window("^Form2$"), *LOGIN)
        logins = wait_until(lambda: server.events("login"), 30, "the server's login line")
        self.assertEqual(logins[0][1]["ok"], "1")
        return logins[0][1], started

    def attacks(self):
        """The hostile server's attempts as {(drive, path): (create status, write status)}."""
        with open(self.errors, encoding="utf-8") as f:
            lines = [line.split() for line in f if line.startswith("attack drive=")]
        result = {}
        for words in lines:
            fields = dict(word.split("=", 1) for word in words[1:])
            result[(fields["drive"], fields["path"])] = (fields["create"], fields["write"])
        return result

    def diagnostics(self):
        return [line for line in self.desk.log_text().splitlines()
                if line.startswith("tclink.rdp:") and "is not shared" in line]

    def test_the_server_reaches_the_programs_drives_and_nothing_else(self):
        before = snapshot(self.home, skip=self.own)
        with DemoServer(HOSTILE, listen=["127.0.0.1:7011"], errors=self.errors) as server:
            login, started = self.log_in(server)
            self.assertEqual(login["drives"], "1")
            wait_until(lambda: "attack done" in read(self.errors).decode(), 30, "the attack")
            print(f"\nattack on C: and D: over after {time.monotonic() - started:.1f} s "
                  "from the start", flush=True)
        attacks = self.attacks()
        self.assertEqual({drive for drive, _ in attacks}, {"C", "D"})
        for drive, path in attacks:
            print(f"  {drive}: {path:36} create={attacks[(drive, path)][0]} "
                  f"write={attacks[(drive, path)][1]}")

        # Nothing outside the drives changed: ~/.bashrc, the per-user copy, the autostart
        # folder, the home and the folder that holds the drives.
        self.assertEqual(snapshot(self.home, skip=self.own), before)
        self.assertEqual(read(os.path.join(self.home, ".bashrc")), BASHRC)
        self.assertEqual(read(os.path.join(self.home, ".local", "lib", "tclink", "tclink")), COPY)
        self.assertEqual(sorted(os.listdir(self.data)), ["drive_c", "drive_d"])
        # What is in the drives is the server's to write, as it should be.
        for drive in (self.drive_c, self.drive_d):
            self.assertEqual(read(os.path.join(drive, "from-server.txt")), b"from the server\n")
            self.assertTrue(os.path.exists(os.path.join(drive, "pwned-home.txt")))
            # A path without a leading separator stays in the drive too.
            self.assertTrue(os.path.exists(os.path.join(drive, "pwned-sibling.txt")))
            self.assertFalse(os.stat(os.path.join(drive, ".bashrc")).st_mode & 0o111)
        for path in ("\\..\\pwned-parent.txt", "\\..\\..\\..\\..\\.bashrc", "/../pwned-slash.txt"):
            self.assertNotEqual(attacks[("C", path)][1], "0x00000000", path)  # not written
        self.assertEqual(self.diagnostics(), [])

    def test_an_empty_drive_d_is_not_shared(self):
        os.remove(os.path.join(self.drive_d, "id.txt"))  # the program has no D: then
        write(os.path.join(self.drive_c, "WINDOWS", "system", "id.txt"), ID_LINE)
        with DemoServer(HOSTILE, listen=["127.0.0.1:7011"], errors=self.errors) as server:
            self.log_in(server)
            wait_until(lambda: "attack done" in read(self.errors).decode(), 30, "the attack")
        self.assertEqual({drive for drive, _ in self.attacks()}, {"C"})
        self.assertEqual(os.listdir(self.drive_d), [])

    def refused(self, extra_env=None, program=PROGRAM):
        """Logs in against the hostile server; the session comes up with no drive shared and
        nothing in the home changed. Returns the diagnostics that said why."""
        before = snapshot(self.home, skip=self.own)
        with DemoServer(HOSTILE, listen=["127.0.0.1:7011"], errors=self.errors) as server:
            login, _ = self.log_in(server, extra_env, program)
            self.assertEqual(login["drives"], "0")
            self.desk.window("岚拓客户管理系统")
        self.assertEqual(self.attacks(), {})
        self.assertEqual(snapshot(self.home, skip=self.own), before)
        diagnostics = self.diagnostics()
        self.assertEqual(len(diagnostics), 1, self.desk.log_text())
        return diagnostics[0]

    def test_links_in_a_drive_stop_all_sharing(self):
        os.symlink(self.home, os.path.join(self.drive_c, "home-link"))
        os.symlink(os.path.join(self.home, ".bashrc"), os.path.join(self.drive_c, "bashrc-link"))
        os.symlink(os.path.join(self.home, "created"), os.path.join(self.drive_d, "dangling-link"))
        os.link(os.path.join(self.home, ".bashrc"), os.path.join(self.drive_c, "hard-bashrc"))
        self.assertIn("drive C (", self.refused())

    def test_a_drive_that_holds_the_home_is_not_shared(self):
        self.assertIn(f"it holds {self.home}", self.refused({"TCLINK_DRIVE_C": self.home}))

    def test_a_drive_that_holds_the_program_is_not_shared(self):
        folder = os.path.join(self.drive_c, "Program Files", "tclink")
        write(os.path.join(folder, "tclink"), read(PROGRAM), 0o755)
        self.assertIn(f"it holds {folder}", self.refused(program=os.path.join(folder, "tclink")))


class UnwritableHome(unittest.TestCase):
    def test_a_home_that_cannot_be_written_does_not_stop_the_login(self):
        with DemoServer(DEMO, listen=["127.0.0.1:7011"]) as server, Desktop() as desk:
            home = os.path.join(desk.work, "home")
            os.makedirs(home)
            write(os.path.join(desk.drive_c, "WINDOWS", "system", "id.txt"), ID_LINE)
            runtime = os.path.join(desk.work, "runtime")
            os.makedirs(runtime, mode=0o700)
            env = {**TRACE, "HOME": home, "XDG_CONFIG_HOME": os.path.join(home, ".config"),
                   "XDG_DATA_HOME": os.path.join(home, ".local", "share"),
                   "XDG_RUNTIME_DIR": runtime}
            program, prefix = PROGRAM, ()
            if os.geteuid() == 0:  # root writes anywhere: the program runs as nobody
                os.chmod(desk.work, 0o755)
                # from a copy: the build may lie where nobody cannot go (a tree under /root)
                program = os.path.join(desk.work, "bin", "tclink")
                os.makedirs(os.path.dirname(program))
                os.chmod(os.path.dirname(program), 0o755)
                shutil.copy(PROGRAM, program)
                os.chmod(program, 0o755)
                nobody = pwd.getpwnam("nobody").pw_uid
                for folder, _, _ in os.walk(desk.drive_c):
                    os.chown(folder, nobody, grp.getgrnam("nogroup").gr_gid)
                os.chown(os.path.join(desk.drive_c, "WINDOWS", "system", "id.txt"), nobody, -1)
                os.chown(runtime, nobody, -1)
                prefix = ("runuser", "-u", "nobody", "--", "env", f"HOME={home}")
            os.chmod(home, 0o555)
            desk.start(program, extra_env=env, prefix=prefix)
            desk.click(desk.window("^Form2$"), *LOGIN)
            wait_until(lambda: desk.drive_file("C", "WINDOWS", "system", "xl.yp") == b"1", 30,
                       "the completed login")
            desk.window("岚拓客户管理系统")
            self.assertEqual(server.events("login")[0][1]["ok"], "1")
            self.assertIn(f"FreeRDP's files go to {runtime}/tclink-freerdp", desk.log_text())
            self.assertEqual(os.listdir(home), [])
            self.assertTrue(os.path.isdir(os.path.join(runtime, "tclink-freerdp")))


if __name__ == "__main__":
    unittest.main()
