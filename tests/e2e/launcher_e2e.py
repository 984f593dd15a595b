"""The whole program on a real X display: a new installation shows the launcher; typing a
machine number and pressing the configure button stores it and shows the configured face."""

import os
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools"))
from xdesktop import Desktop  # noqa: E402
from peers import UpdateServers  # noqa: E402

PROGRAM = os.environ.get("TCLINK_PROGRAM") or sys.argv.pop(1)
SHOTS = os.environ.get("TCLINK_SCREENSHOTS", "")

UPDATES = None


def setUpModule():
    # The update check comes first at every start; its server has nothing newer.
    global UPDATES
    UPDATES = UpdateServers(revision="0")


def tearDownModule():
    UPDATES.close()


class Launcher(unittest.TestCase):
    def test_configure_from_a_new_installation(self):
        with Desktop() as desk:
            desk.start(PROGRAM, drive_d=False)
            win = desk.window("^Form2$")
            time.sleep(0.8)  # the first tick puts the focus into the entry box
            if SHOTS:
                desk.screenshot(os.path.join(SHOTS, "launcher-new.png"))
            desk.type(win, "042")
            desk.click(win, 171 + 30, 252 + 11)  # the configure button
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
            os.makedirs(os.path.join(desk.drive_c, "WINDOWS", "system"))
            with open(os.path.join(desk.drive_c, "WINDOWS", "system", "id.txt"), "wb") as f:
                f.write(b"5kedomra240815777")
            desk.start(PROGRAM)
            win = desk.window("^Form2$")
            desk.click(win, 396 + 30, 152 + 26)  # the exit button
            self.assertEqual(desk.program.wait(timeout=10), 0)


if __name__ == "__main__":
    unittest.main()
