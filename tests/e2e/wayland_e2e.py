"""The whole program in a Wayland session as GNOME on Debian gives one (WAYLAND_DISPLAY, Xwayland's
DISPLAY, XDG_SESSION_TYPE=wayland, no QT_QPA_PLATFORM), under weston with Xwayland: it runs
through Xwayland (its windows are X windows there), the login goes by the keyboard alone, the keyboard's lock state
reaches the server at the connect and when the session gets the keyboard back, keys go as
scan codes, and the backup server's notice comes up on top and is back after being minimised.
Without Xwayland it says so in one line and ends."""

import ctypes
import os
import shutil
import subprocess
import time
import unittest

from common import PROGRAM, TRACE, set_fake_clock, store_id, traced
from peers import DemoServer, UpdateServers, wait_until  # noqa: E402
from xdesktop import WaylandDesktop  # noqa: E402

SERVER = os.path.join(os.path.dirname(PROGRAM), "tclink-demo-server")
SHOTS = os.environ.get("TCLINK_SCREENSHOTS", "")
FAKETIME = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1"
NO_XWAYLAND = ("tclink：Wayland 桌面中没有可用的 Xwayland（DISPLAY），"
               "本程序需要 Xwayland 才能运行，请安装 Xwayland 或改用 X11 会话。\n")
CAPS, NUM = 1, 2  # XKB's indicator bits

needs_weston = unittest.skipUnless(shutil.which("weston") and shutil.which("Xwayland"),
                                   "weston or Xwayland is not installed")


def lock_indicators(display):
    """XKB's indicator state of an X display."""
    x11 = ctypes.CDLL("libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XkbGetIndicatorState.argtypes = [ctypes.c_void_p, ctypes.c_uint,
                                         ctypes.POINTER(ctypes.c_uint)]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    dpy = x11.XOpenDisplay(display.encode())
    state = ctypes.c_uint()
    x11.XkbGetIndicatorState(dpy, 0x100, ctypes.byref(state))  # XkbUseCoreKbd
    x11.XCloseDisplay(dpy)
    return state.value


def set_locks(desk, wanted):
    """Sets the lock keys of the machine's keyboard."""
    display = desk.screen_env["DISPLAY"]
    for bit, key in ((NUM, "Num_Lock"), (CAPS, "Caps_Lock")):
        if bool(lock_indicators(display) & bit) != bool(wanted & bit):
            desk.keys(key)
    wait_until(lambda: lock_indicators(desk.env["DISPLAY"]) & (NUM | CAPS) == wanted, 5,
               "the lock keys in Xwayland")


def rgb(path):
    """(width, height, RGB bytes) of an image."""
    size = subprocess.run(["identify", "-format", "%w %h", path], capture_output=True,
                          text=True, check=True).stdout.split()
    data = subprocess.run(["convert", path, "-depth", "8", "rgb:-"], capture_output=True,
                          check=True).stdout
    return int(size[0]), int(size[1]), data


def shown_whole(part_path, screen_path):
    """Whether the screen shows the image of a window whole, nothing covering it: its middle
    row is looked for on the screen and every row compared there."""
    w, h, part = rgb(part_path)
    sw, sh, screen = rgb(screen_path)
    row = lambda data, width, y, x=0, n=None: data[(y * width + x) * 3:
                                                 (y * width + x + (n or width)) * 3]
    middle = row(part, w, h // 2)
    for y in range(h // 2, sh - h // 2):
        at = row(screen, sw, y).find(middle)
        while at >= 0:
            if at % 3 == 0:
                x, top = at // 3, y - h // 2
                if all(row(screen, sw, top + r, x, w) == row(part, w, r) for r in range(h)):
                    return True
            at = row(screen, sw, y).find(middle, at + 1)
    return False


def on_screen(desk, window, name):
    """Whether the screen shows a window whole (it counts down: a second may tick between the
    two pictures, so it is tried again)."""
    own = os.path.join(desk.work, "window.png")
    for _ in range(3):
        desk.x_client("import", "-window", window, own)
        if shown_whole(own, desk.screenshot(os.path.join(SHOTS or desk.work, name))):
            return True
    return False


class Wayland(unittest.TestCase):
    @needs_weston
    @unittest.skipUnless(os.path.exists(FAKETIME), "libfaketime is not installed")
    def test_keyboard_login_lock_state_and_the_notice_on_top(self):
        with UpdateServers(revision="1"), \
                DemoServer(SERVER, listen=["127.0.0.1:7190"]) as server, \
                WaylandDesktop() as desk:
            clock_file = os.path.join(desk.work, "faketime")
            set_fake_clock(clock_file, "2026-12-08 10:00:00")
            clock = {"LD_PRELOAD": FAKETIME, "FAKETIME_TIMESTAMP_FILE": clock_file,
                     "FAKETIME_NO_CACHE": "1", "FAKETIME_DONT_FAKE_MONOTONIC": "1"}
            store_id(desk)
            program = desk.start(PROGRAM, extra_env={**TRACE, **clock})

            wait_until(lambda: traced(desk, "box"), 20, "the update question")
            time.sleep(0.5)
            # NumLock and CapsLock on, as the compositor passes them to Xwayland.
            set_locks(desk, NUM | CAPS)
            if SHOTS:
                desk.screenshot(os.path.join(SHOTS, "wayland-update-question.png"))
            desk.keys("alt+n")
            # The login button has the focus: back to the backup server's box, tick it, on to
            # the login button and press it; then Yes to the backup server's question.
            desk.window("^Form2$")
            time.sleep(0.5)
            desk.keys("shift+Tab", "space", "Tab", "Return")
            desk.window("^系统提示$")
            time.sleep(0.5)
            desk.keys("alt+y")
            wait_until(lambda: "session shown" in desk.log_text(), 30, "the backup session")
            desk.window("岚拓客户管理系统")
            time.sleep(1)
            if SHOTS:
                desk.screenshot(os.path.join(SHOTS, "wayland-session.png"))
            self.assertEqual([e["locks"] for _, e in server.events("sync")][:1], ["num,caps"])
            desk.keys("a")  # a scan code
            wait_until(lambda: [e for _, e in server.events("key")
                                if e.get("text", "").lower() == "a"], 10, "the key as a scan code")

            set_fake_clock(clock_file, "2026-12-08 10:50:58")
            notice = desk.window("^岚拓软件-备用服务器提示$", timeout=20)
            time.sleep(1.5)
            self.assertTrue(on_screen(desk, notice, "wayland-notice.png"),
                            "the notice is covered")

            # Minimised, it comes straight back.
            desk.xdotool("windowminimize", notice)
            time.sleep(1.5)
            self.assertTrue(on_screen(desk, notice, "wayland-notice-minimised.png"),
                            "the notice is gone: " + desk.x_client(
                                "xprop", "-id", notice, "WM_STATE", "_NET_WM_STATE"))

            # CapsLock goes off while the notice has the keyboard; the session, switched to
            # with weston's Super+Tab, gets the focus back and tells the server.
            syncs = len(server.events("sync"))
            set_locks(desk, NUM)
            desk.keys("super+Tab")
            time.sleep(1)
            if SHOTS:
                desk.screenshot(os.path.join(SHOTS, "wayland-session-clicked.png"))
            wait_until(lambda: len(server.events("sync")) > syncs, 10, "the sync at focus-in")
            self.assertEqual(server.events("sync")[-1][1]["locks"], "num")
            if SHOTS:
                desk.screenshot(os.path.join(SHOTS, "wayland-session-clicked.png"))
            self.assertIsNone(program.poll())
            self.assertEqual(len(server.events("login")), 1)

    @needs_weston
    def test_without_xwayland_one_line_and_status_1(self):
        with WaylandDesktop(xwayland=False) as desk:
            for display in (None, ":4711"):
                env = dict(desk.env, **({"DISPLAY": display} if display else {}))
                result = subprocess.run([PROGRAM], capture_output=True, timeout=20, env=env,
                                        cwd=desk.work)
                self.assertEqual(result.returncode, 1, display)
                self.assertEqual(result.stderr.decode(), NO_XWAYLAND, display)


if __name__ == "__main__":
    unittest.main()
