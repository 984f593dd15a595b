"""What installing tclink puts on a machine, without installing anything: the tree that
`cmake --install` writes into a scratch folder, the tclink command that runs the user's own
copy of the program, the program started without a display, and the release version in each
file that names it."""

import os
import re
import shutil
import stat
import struct
import subprocess
import sys
import tempfile
import time
import unittest

PROGRAM = sys.argv.pop(1)
SOURCE = os.environ["TCLINK_SOURCE_DIR"]
BINARY = os.environ["TCLINK_BINARY_DIR"]
NO_DISPLAY = ("tclink：没有可用的图形显示（DISPLAY），"
              "请在桌面会话中启动本程序。\n")
NO_XWAYLAND = ("tclink：Wayland 桌面中没有可用的 Xwayland（DISPLAY），"
               "本程序需要 Xwayland 才能运行，请安装 Xwayland 或改用 X11 会话。\n")


def png_size(path):
    with open(path, "rb") as f:
        header = f.read(24)
    assert header[:8] == b"\x89PNG\r\n\x1a\n", path
    return struct.unpack(">II", header[16:24])


class InstalledTree(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="tclink-install-")
        # Prefix /usr, as the package has it.
        subprocess.run(["cmake", "--install", BINARY, "--prefix", "/usr"], check=True,
                       stdout=subprocess.DEVNULL, env=dict(os.environ, DESTDIR=cls.root))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.root, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def test_program_command_and_manual(self):
        program = self.path("usr/lib/tclink/tclink")
        self.assertTrue(os.stat(program).st_mode & stat.S_IXOTH)
        command = self.path("usr/bin/tclink")
        self.assertTrue(os.stat(command).st_mode & stat.S_IXOTH)
        with open(command) as f:
            self.assertIn("installed='/usr/lib/tclink/tclink'", f.read())
        self.assertTrue(os.path.isfile(self.path("usr/share/man/man1/tclink.1")))

    def test_desktop_entry_and_metadata_validate(self):
        entry = self.path("usr/share/applications/tclink.desktop")
        subprocess.run(["desktop-file-validate", entry], check=True)
        with open(entry) as f:
            text = f.read()
        for line in ("Exec=tclink", "Icon=tclink", "StartupWMClass=tclink",
                     "Categories=Network;RemoteAccess;", "Name[zh_CN]="):
            self.assertIn(line, text)
        metainfo = [name for name in os.listdir(self.path("usr/share/metainfo"))]
        self.assertEqual(len(metainfo), 1)
        subprocess.run(["appstreamcli", "validate", "--no-net", "--pedantic",
                        self.path("usr/share/metainfo", metainfo[0])], check=True,
                       stdout=subprocess.DEVNULL)

    def test_icons_in_every_size_of_their_folder(self):
        hicolor = self.path("usr/share/icons/hicolor")
        sizes = sorted(name for name in os.listdir(hicolor) if name != "scalable")
        self.assertGreaterEqual(len(sizes), 5)
        for folder in sizes:
            width, height = png_size(os.path.join(hicolor, folder, "apps", "tclink.png"))
            self.assertEqual(f"{width}x{height}", folder)
        self.assertTrue(os.path.exists(os.path.join(hicolor, "scalable/apps/tclink.svg")))

    def test_no_font_configuration_of_the_machine(self):
        # The Song stand-in for SimSun is the program's own; nothing for fontconfig or in /etc.
        self.assertFalse(os.path.exists(self.path("etc")))
        self.assertFalse(os.path.exists(self.path("usr/share/fontconfig")))


class Command(unittest.TestCase):
    """data/tclink.in, the command, with a stand-in for the installed program."""

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="tclink-command-")
        self.addCleanup(shutil.rmtree, self.work, ignore_errors=True)
        self.home = os.path.join(self.work, "home")
        os.mkdir(self.home)
        self.installed = os.path.join(self.work, "usr-lib-tclink", "tclink")
        os.mkdir(os.path.dirname(self.installed))
        self.install_program("packaged 1")
        with open(os.path.join(SOURCE, "data", "tclink.in")) as f:
            text = f.read().replace("@TCLINK_INSTALLED_PROGRAM@", self.installed)
        self.command = os.path.join(self.work, "tclink")
        with open(self.command, "w") as f:
            f.write(text)
        os.chmod(self.command, 0o755)
        self.copy = os.path.join(self.home, ".local", "lib", "tclink", "tclink")

    @staticmethod
    def program(label):
        return f'#!/bin/sh\necho "{label} $0"\n'

    def install_program(self, label, mtime_ns=None):
        with open(self.installed, "w") as f:
            f.write(self.program(label))
        os.chmod(self.installed, 0o755)
        if mtime_ns is not None:
            os.utime(self.installed, ns=(mtime_ns, mtime_ns))

    def run_command(self):
        return subprocess.run(["/bin/sh", self.command], capture_output=True, text=True,
                              timeout=10, env=dict(os.environ, HOME=self.home))

    def test_first_start_runs_a_fresh_copy(self):
        result = self.run_command()
        self.assertEqual(result.stdout, f"packaged 1 {self.copy}\n")
        self.assertEqual(result.stderr, "")
        with open(self.copy) as f:
            self.assertEqual(f.read(), self.program("packaged 1"))
        self.assertEqual(sorted(os.listdir(os.path.dirname(self.copy))),
                         ["installed-stamp", "tclink"])

    def test_the_copy_keeps_its_update_until_the_installed_program_is_newer(self):
        self.run_command()
        with open(self.copy, "w") as f:  # what the self-update does
            f.write(self.program("updated 2"))
        self.assertEqual(self.run_command().stdout, f"updated 2 {self.copy}\n")
        # Reinstalled with the same file (same time): the update stays.
        self.install_program("packaged 1", mtime_ns=os.stat(self.installed).st_mtime_ns)
        self.assertEqual(self.run_command().stdout, f"updated 2 {self.copy}\n")
        # A newer package replaces the copy.
        self.install_program("packaged 3", mtime_ns=time.time_ns() + 60 * 10**9)
        self.assertEqual(self.run_command().stdout, f"packaged 3 {self.copy}\n")
        self.assertEqual(self.run_command().stdout, f"packaged 3 {self.copy}\n")

    def test_a_lost_copy_is_made_again(self):
        self.run_command()
        os.unlink(self.copy)
        self.assertEqual(self.run_command().stdout, f"packaged 1 {self.copy}\n")

    def test_without_a_writable_home_the_installed_program_runs(self):
        with open(os.path.join(self.home, ".local"), "w") as f:  # cannot hold a folder
            f.write("x")
        result = self.run_command()
        self.assertEqual(result.stdout, f"packaged 1 {self.installed}\n")
        self.assertEqual(len(result.stderr.splitlines()), 1)
        self.assertIn("tclink", result.stderr)


class NoDisplay(unittest.TestCase):
    def run_program(self, **env):
        clean = {k: v for k, v in os.environ.items()
                 if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM",
                              "XDG_SESSION_TYPE")}
        clean.update(env)
        with tempfile.TemporaryDirectory() as work:
            return subprocess.run([PROGRAM], capture_output=True, timeout=20, cwd=work,
                                  env=dict(clean, HOME=work))

    def test_one_line_and_status_1(self):
        for env in ({}, {"DISPLAY": ":4711"}, {"QT_QPA_PLATFORM": "xcb", "DISPLAY": ":4711"}):
            result = self.run_program(**env)
            self.assertEqual(result.returncode, 1, env)
            self.assertEqual(result.stderr.decode(), NO_DISPLAY, env)
            self.assertEqual(result.stdout, b"", env)

    def test_a_wayland_session_without_xwayland_is_told(self):
        # Qt would run on Wayland there; the program needs X11.
        for env in ({"WAYLAND_DISPLAY": "wayland-0"},
                    {"WAYLAND_DISPLAY": "wayland-0", "DISPLAY": ":4711"},
                    {"XDG_SESSION_TYPE": "wayland", "QT_QPA_PLATFORM": "wayland"}):
            result = self.run_program(**env)
            self.assertEqual(result.returncode, 1, env)
            self.assertEqual(result.stderr.decode(), NO_XWAYLAND, env)


class Versions(unittest.TestCase):
    def read(self, *parts):
        with open(os.path.join(SOURCE, *parts), encoding="utf-8") as f:
            return f.read()

    def test_every_file_names_the_version_of_the_build(self):
        version = re.search(r"project\(tclink VERSION ([0-9.]+)", self.read("CMakeLists.txt"))[1]
        self.assertEqual(re.match(r"tclink \(([^)]+)\)", self.read("debian", "changelog"))[1],
                         version)
        self.assertEqual(re.search(r"^## ([0-9.]+)", self.read("CHANGELOG.md"), re.M)[1],
                         version)
        metainfo = self.read("data", "com.example.tclink.metainfo.xml")
        self.assertEqual(re.search(r'<release version="([^"]+)"', metainfo)[1], version)
        self.assertIn(f'"tclink {version}"', self.read("data", "tclink.1"))


class Release(unittest.TestCase):
    """tools/release in a scratch repository holding what it reads."""

    def setUp(self):
        self.repo = tempfile.mkdtemp(prefix="tclink-release-")
        self.addCleanup(shutil.rmtree, self.repo, ignore_errors=True)
        for name in ("CMakeLists.txt", "CHANGELOG.md", "debian/changelog",
                     "data/com.example.tclink.metainfo.xml", "tools/release"):
            os.makedirs(os.path.join(self.repo, os.path.dirname(name)), exist_ok=True)
            shutil.copy2(os.path.join(SOURCE, name), os.path.join(self.repo, name))
        with open(os.path.join(SOURCE, "tests", "update", "signatures", "test.pub")) as f:
            self.key = f.read().splitlines()[1]
        self.env = dict(os.environ, GIT_AUTHOR_NAME="t", GIT_AUTHOR_EMAIL="t@example.com",
                        GIT_COMMITTER_NAME="t", GIT_COMMITTER_EMAIL="t@example.com",
                        TCLINK_UPDATE_PUBLIC_KEY=self.key)
        self.git("init", "-q")
        self.version = re.search(r"^## ([0-9.]+)", self.changelog(), re.M)[1]
        self.changelog(re.sub(r"^## ([0-9.]+) - .*$", r"## \1 - unreleased", self.changelog(),
                              count=1, flags=re.M))
        self.commit()

    def changelog(self, text=None):
        """CHANGELOG.md, or writes it."""
        path = os.path.join(self.repo, "CHANGELOG.md")
        if text is not None:
            with open(path, "w", encoding="utf-8") as f:
                f.write(text)
        with open(path, encoding="utf-8") as f:
            return f.read()

    def git(self, *args):
        return subprocess.run(["git", "-C", self.repo, *args], check=True, env=self.env,
                              capture_output=True, text=True).stdout

    def commit(self):
        self.git("add", "-A")
        self.git("commit", "-q", "-m", "x")

    def release(self, key=None):
        env = dict(self.env, TCLINK_UPDATE_PUBLIC_KEY=self.key if key is None else key)
        return subprocess.run([os.path.join(self.repo, "tools", "release")], env=env,
                              capture_output=True, text=True, timeout=30)

    def test_tags_only_a_dated_release_from_a_clean_tree_once(self):
        self.assertNotEqual(self.release().returncode, 0)  # unreleased
        self.changelog(self.changelog().replace(f"## {self.version} - unreleased",
                                                f"## {self.version} - 2026-12-08"))
        self.assertNotEqual(self.release().returncode, 0)  # not committed
        self.commit()
        for key in ("", "RWQnotakey"):
            self.assertNotEqual(self.release(key).returncode, 0)  # no update key
        self.assertEqual(self.release().returncode, 0)
        self.assertEqual(self.git("tag").split(), [f"v{self.version}"])
        self.assertIn(self.key, self.git("tag", "-n9"))  # the key the packages are built with
        self.assertNotEqual(self.release().returncode, 0)  # tagged already


if __name__ == "__main__":
    unittest.main()
