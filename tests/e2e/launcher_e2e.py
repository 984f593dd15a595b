"""The whole program on a real X display: a new installation shows the launcher; typing a
machine number and pressing the configure button stores it and shows the configured face."""

import os
import signal
import time
import unittest

from common import (CONFIGURE, EXIT, PROGRAM, setUpModule,  # noqa: F401
                    store_id, tearDownModule)
from peers import wait_until  # noqa: E402
from xdesktop import Desktop  # noqa: E402

SHOTS = os.environ.get("TCLINK_SCREENSHOTS", "")


class Launcher(unittest.TestCase):
    def test_configure_from_a_new_installation(self):
        with Desktop() as desk:
            desk.start(PROGRAM, drive_d=False)
            win = desk.window("^Form2$")
            time.sleep(0.8)  # the first tick puts the focus into the entry box
            if SHOTS:
                desk.screenshot(os.path.join(SHOTS, "launcher-new.png"))
            desk.type(win, "042")
            desk.click(win, *CONFIGURE)
            path = ("WINDOWS", "system", "id.txt")
            deadline = time.monotonic() + 5
            while desk.drive_file("C", *path) is None and time.monotonic() < deadline:
                time.sleep(0.1)
            self.assertEqual(desk.drive_file("C", *path), b"5kedomra240815042")
            self.assertIsNone(desk.program.poll())
            if SHOTS:
                time.sleep(0.3)
                desk.screenshot(os.path.join(SHOTS, "launcher-configured.png"))

    def test_exit_button_ends_the_program(self):
        with Desktop() as desk:
            store_id(desk)
            desk.start(PROGRAM)
            win = desk.window("^Form2$")
            desk.click(win, *EXIT)
            self.assertEqual(desk.program.wait(timeout=10), 0)

    def test_freerdp_is_loaded_in_the_background_once_the_launcher_is_up(self):
        # The program starts without FreeRDP and loads it while the user reads the launcher.
        with Desktop() as desk:
            store_id(desk)
            program = desk.start(PROGRAM)
            desk.window("^Form2$")

            def loaded():
                with open(f"/proc/{program.pid}/maps") as maps:
                    return "libfreerdp-client" in maps.read()
            wait_until(loaded, 10, "FreeRDP's client library loaded")
            self.assertIsNone(program.poll())

    def test_the_launcher_comes_when_the_window_manager_ended_before_showing_the_first_window(self):
        # Openbox takes the update window's map request and ends before it has handled it:
        # that window is never put on screen, never drawn; the program still goes on.
        with Desktop() as desk:
            store_id(desk)
            os.kill(desk.window_manager.pid, signal.SIGSTOP)
            desk.start(PROGRAM)
            wait_until(lambda: desk.xdotool("search", "--name", "^升级程序$"), 15,
                       "the update window")
            time.sleep(0.5)
            desk.window_manager.kill()
            desk.window_manager.wait(timeout=10)
            self.assertEqual(desk.xdotool("search", "--onlyvisible", "--name", "^升级程序$"), "")
            desk.window("^Form2$", activate=False)
            self.assertIsNone(desk.program.poll())

    def test_a_window_that_does_not_come_is_reported_with_where_the_program_waits(self):
        # What a test that gives up on a window prints: the program's own windows, and where
        # each of its threads is (eu-stack's backtraces, which tools/deps installs).
        with Desktop() as desk:
            store_id(desk)
            program = desk.start(PROGRAM)
            desk.window("^Form2$")
            with self.assertRaises(AssertionError) as caught:
                desk.window("^no such window$", timeout=1)
            report = str(caught.exception)
            self.assertRegex(report, r"the program's windows, shown or not: \[.*'Form2'")
            self.assertRegex(report, rf"TID {program.pid}:\n#0 ")
            self.assertNotIn("window manager", report)
            self.assertIsNone(program.poll())
            # A window manager that has gone is said: windows asked for while it was there may
            # never have been put on screen. Killed, openbox leaves its word on the root.
            desk.window_manager.kill()
            desk.window_manager.wait(timeout=10)
            self.assertIn("window id", desk.x_client("xprop", "-root", "_NET_SUPPORTING_WM_CHECK"))
            self.assertFalse(desk._window_manager_up())
            with self.assertRaises(AssertionError) as caught:
                desk.window("^no such window$", timeout=1)
            self.assertIn("the window manager has ended", str(caught.exception))


if __name__ == "__main__":
    unittest.main()
