"""What a person sees on a real X display, with the keyboard alone: the update question has an
empty title and the update window no taskbar entry; in the launcher, Return in the entry box
configures, the arrow keys keep a visible line selected and Return presses the login button."""

import os
import time
import unittest

from common import PROGRAM, TRACE, traced
from peers import DemoServer, UpdateServers, wait_until  # noqa: E402
from xdesktop import Desktop  # noqa: E402

QUESTION = "有最新版本，是否升级？"
SERVER = os.path.join(os.path.dirname(PROGRAM), "tclink-demo-server")


class Faces(unittest.TestCase):
    def test_update_question_and_window_then_the_launcher_from_the_keyboard(self):
        with UpdateServers(revision="1", files={}, ftp=False), \
                DemoServer(SERVER, listen=["127.0.0.2:7011"]) as server, Desktop() as desk:
            program = desk.start(PROGRAM, extra_env=TRACE)
            wait_until(lambda: any(QUESTION in box for box in traced(desk, "box")), 20,
                       "the question")
            time.sleep(0.5)
            question = desk.xdotool("getactivewindow")
            self.assertEqual(desk.x_client("xprop", "-id", question, "_NET_WM_NAME"),
                             '_NET_WM_NAME(UTF8_STRING) =')  # empty
            update = desk.xdotool("search", "--onlyvisible", "--name", "^升级程序$")
            self.assertTrue(update)
            self.assertIn("_NET_WM_STATE_SKIP_TASKBAR",
                          desk.x_client("xprop", "-id", update.split()[0], "_NET_WM_STATE"))
            desk.xdotool("key", "--window", question, "alt+n")

            launcher = desk.window("^Form2$")
            time.sleep(0.8)  # the first tick puts the focus into the entry box
            desk.xdotool("type", "--delay", "50", "042")
            desk.xdotool("key", "Return")
            path = ("WINDOWS", "system", "id.txt")
            wait_until(lambda: desk.drive_file("C", *path), 5, "the id file")
            self.assertEqual(desk.drive_file("C", *path), b"5kedomra240815042")

            # The focus left with the entry box for the telecom line. Down and Up stay on the
            # two visible lines; Tab Tab reaches the login button, Return presses it.
            time.sleep(0.8)
            desk.xdotool("windowactivate", "--sync", launcher)
            for key in ("Down", "Down", "Up", "Down"):
                desk.xdotool("key", "--delay", "80", key)
            desk.xdotool("key", "--delay", "80", "Tab", "Tab", "Return")
            # The netcom line was picked: the session runs on its server.
            wait_until(lambda: desk.drive_file("C", "WINDOWS", "system", "xl.yp") == b"3", 20,
                       "the line file")
            self.assertEqual({fields["addr"] for _, fields in server.events("connect")},
                             {"127.0.0.2"})
            self.assertIsNone(program.poll())


if __name__ == "__main__":
    unittest.main()
