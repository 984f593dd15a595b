"""Debian's xfreerdp (FreeRDP 2) and xfreerdp3 (FreeRDP 3), whichever are installed, log in to
the demo terminal server and see its screen: the demo server is a real terminal server for any
client, not only for ours, on whichever server library it was built."""

import os
import shutil
import subprocess
import unittest

from common import PROGRAM
from peers import DemoServer, stop, wait_until  # noqa: E402
from xdesktop import Desktop  # noqa: E402

SERVER = os.path.join(os.path.dirname(PROGRAM), "tclink-demo-server")
START = "E:\\khprogram\\V2011演示版\\bizdesk.exe"


CLIENTS = [c for c in ("xfreerdp", "xfreerdp3") if shutil.which(c)]


class Xfreerdp(unittest.TestCase):
    def test_logs_in_and_sees_the_application(self):
        self.assertTrue(CLIENTS, "neither xfreerdp nor xfreerdp3 is installed")
        for client in CLIENTS:
            with self.subTest(client=client):
                self.log_in(client)

    def log_in(self, name):
        with DemoServer(SERVER, listen=["127.0.0.1:7011"]) as server, Desktop() as desk:
            home = os.path.join(desk.work, "home")
            os.makedirs(home)
            client = subprocess.Popen(
                [name, "/v:127.0.0.1:7011", "/u:7wobnekcuhink", "/p:hodrafkez",
                 "/cert:ignore", "/size:800x600", f"/shell:{START}"],
                env=dict(desk.env, HOME=home), stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL)
            try:
                # The server reports the login once the client has announced its devices.
                login = wait_until(lambda: server.events("login"), 20, "the login")[0][1]
                self.assertEqual(login["ok"], "1")
                self.assertEqual(login["shell"], START)
                self.assertTrue(server.events("notice"), "no logon notice sent")
                window = desk.window("FreeRDP", timeout=20, activate=False)
                x, y, _, _ = desk.geometry(window)
                shot = os.path.join(desk.work, "xfreerdp.png")
                wait_until(lambda: desk.pixel(desk.screenshot(shot), x + 2, y + 2) == (0, 84, 166),
                           20, "the application on screen")
            finally:
                stop(client)


if __name__ == "__main__":
    unittest.main()
