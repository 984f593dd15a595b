"""The session window as a person sees it: above a panel at the bottom of the screen, restored
to a smaller window (scroll bars), and on a screen scaled 2x. Screenshots go to
$TCLINK_SCREENSHOTS when set."""

import os
import subprocess
import sys
import time
import unittest

from common import LOGIN, PROGRAM, TRACE, setUpModule, store_id, tearDownModule  # noqa: F401
from peers import DemoServer, wait_until  # noqa: E402
from xdesktop import Desktop  # noqa: E402
from xpanel import unmaximize  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
SERVER = os.path.join(os.path.dirname(PROGRAM), "tclink-demo-server")
SHOTS = os.environ.get("TCLINK_SCREENSHOTS", "")
APP_BAND = (0, 84, 166)
STATUS_BAR = (220, 224, 230)  # the demo desktop's last 24 rows
EXIT_RED = (200, 60, 40)
SCREEN = (1280, 800)
PANEL = 40


def shot(desk, name):
    path = desk.screenshot(os.path.join(desk.work, name))
    if SHOTS:
        desk.screenshot(os.path.join(SHOTS, name))
    return path


def start_panel(desk):
    panel = subprocess.Popen([sys.executable, os.path.join(HERE, "xpanel.py"), "dock",
                              str(PANEL)], env=desk.env)
    desk.procs.append(panel)
    # The work area of the current desktop (the first of those listed) leaves the strip out.
    wait_until(lambda: f"= 0, 0, {SCREEN[0]}, {SCREEN[1] - PANEL}," in desk.x_client(
        "xprop", "-root", "_NET_WORKAREA"), 10, "the panel's reserved strip")


def client_area(desk, window):
    """(x, y, width, height) of a window's client area on the screen, from xwininfo (whose
    position, unlike xdotool's, does not count the frame twice)."""
    out = desk.x_client("xwininfo", "-id", window)
    value = lambda label: int(out.split(label + ":")[1].split()[0])  # noqa: E731
    return (value("Absolute upper-left X"), value("Absolute upper-left Y"), value("Width"),
            value("Height"))


def find_colour(desk, path, colour, box):
    """The first point of `colour` inside box (x, y, w, h) of a screenshot, or None."""
    x, y, w, h = box
    raw = subprocess.run(["convert", path, "-crop", f"{w}x{h}+{x}+{y}", "-depth", "8", "rgb:-"],
                         capture_output=True, check=True).stdout
    for i in range(0, len(raw) - 2, 3):
        if tuple(raw[i:i + 3]) == colour:
            return x + (i // 3) % w, y + (i // 3) // w
    return None


class Layout(unittest.TestCase):
    def log_in(self, desk, scale=1):
        store_id(desk)
        env = dict(TRACE, **({"QT_SCALE_FACTOR": str(scale)} if scale != 1 else {}))
        program = desk.start(PROGRAM, extra_env=env)
        desk.click(desk.window("^Form2$"), LOGIN[0] * scale, LOGIN[1] * scale)
        session = desk.window("岚拓客户管理系统")
        x, y, _, _ = client_area(desk, session)
        wait_until(lambda: desk.pixel(desk.screenshot(os.path.join(desk.work, "s.png")),
                                      x + 2, y + 2) == APP_BAND, 20, "the session on screen")
        return program, session

    def test_the_session_fills_the_window_above_a_panel_and_scrolls_when_restored(self):
        with DemoServer(SERVER, "--tone-hz", "0", listen=["127.0.0.1:7011"]) as server, \
                Desktop(*SCREEN) as desk:
            start_panel(desk)
            program, session = self.log_in(desk)
            x, y, w, h = client_area(desk, session)
            self.assertEqual(y + h, SCREEN[1] - PANEL)  # maximised above the panel
            path = shot(desk, "layout-panel.png")
            # The remote desktop reaches the bottom of the window: its status bar is there,
            # not a strip of the local desktop's colour.
            self.assertEqual(desk.pixel(path, x + w // 2, y + h - 3), STATUS_BAR)
            login = server.events("login")[0][1]
            self.assertEqual((int(login["width"]), int(login["height"])), (w, h))

            # Restored and made smaller: the rest of the remote desktop is reached with the
            # scroll bars, and its exit button then works.
            unmaximize(desk.env["DISPLAY"], session)
            time.sleep(0.5)
            desk.xdotool("windowsize", session, "700", "450")
            wait_until(lambda: client_area(desk, session)[2:] == (700, 450), 10, "the smaller window")
            time.sleep(0.5)
            shot(desk, "layout-restored.png")
            x, y, w, h = client_area(desk, session)
            for _ in range(4):  # page right and down in the bars' troughs
                desk.click(session, w - 40, h - 6)
                desk.click(session, w - 6, h - 40)
            time.sleep(0.5)
            path = shot(desk, "layout-scrolled.png")
            button = find_colour(desk, path, EXIT_RED, (x, y, w, h))
            self.assertIsNotNone(button, "the exit button scrolled into view")
            desk.xdotool("mousemove", str(button[0] + 4), str(button[1] + 4), "click", "1")
            self.assertEqual(program.wait(timeout=20), 0)
            self.assertEqual(server.events("logoff")[0][1]["reason"], "exit")

    def test_on_a_2x_screen_the_desktop_is_asked_in_device_pixels(self):
        with DemoServer(SERVER, "--tone-hz", "0", listen=["127.0.0.1:7011"]) as server, \
                Desktop(*SCREEN) as desk:
            _, session = self.log_in(desk, scale=2)
            _, _, w, h = client_area(desk, session)
            shot(desk, "layout-2x.png")
            login = server.events("login")[0][1]
            # An odd number of device pixels is half a logical pixel: Qt rounds it up.
            self.assertEqual(int(login["width"]), w)
            self.assertIn(int(login["height"]), (h, h + 1))
            self.assertEqual(login["scale"], "200")


if __name__ == "__main__":
    unittest.main()
