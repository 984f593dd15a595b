"""Debian's xfreerdp logs in to the demo terminal server and sees its screen: the demo server
is a real terminal server for any client, not only for ours."""

import os
import subprocess
import unittest

from common import PROGRAM
from peers import DemoServer, stop, wait_until  # noqa: E402
from xdesktop import Desktop  # noqa: E402

SERVER = os.path.join(os.path.dirname(PROGRAM), "tclink-demo-server")
START = "E:\\khprogram\\V2011演示版\\bizdesk.exe"


class Xfreerdp(unittest.TestCase):
    def test_logs_in_and_sees_the_application(self):
        with DemoServer(SERVER, listen=["127.0.0.1:7011"]) as server, Desktop() as desk:
            home = os.path.join(desk.work, "home")
            os.makedirs(home)
            client = subprocess.Popen(
                ["xfreerdp", "/v:127.0.0.1:7011", "/u:7wobnekcuhink", "/p:hodrafkez",
                 "/cert:ignore", "/size:800x600", f"/shell:{START}"],
                env=dict(desk.env, HOME=home), stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL)
            try:
                # The server reports the login once the client has announced its devices.
                login = wait_until(lambda: server.events("login"), 20, "the login")[0][1]
                self.assertEqual(login["ok"], "1")
                self.assertEqual(login["shell"], START)
                window = desk.window("FreeRDP", timeout=20, activate=False)
                x, y, _, _ = desk.geometry(window)
                shot = os.path.join(desk.work, "xfreerdp.png")
                wait_until(lambda: desk.pixel(desk.screenshot(shot), x + 2, y + 2) == (0, 84, 166),
                           20, "the application on screen")
            finally:
                stop(client)


if __name__ == "__main__":
    unittest.main()
