"""The whole program when the login is not confirmed the usual way: a server that only tells the
device channel that the user logged on, one that confirms nothing, and one that accepts the
connection and never answers. Waits are shortened through the test-only environment."""

import os
import socket
import unittest

from common import LOGIN, PROGRAM, TRACE, setUpModule, store_id, tearDownModule, traced  # noqa: F401
from peers import DemoServer, wait_until  # noqa: E402
from xdesktop import Desktop  # noqa: E402

SERVER = os.path.join(os.path.dirname(PROGRAM), "tclink-demo-server")
ID_LINE = b"5kedomra240815 7a "
APP_BAND = (0, 84, 166)
VERIFYING = "程序已成功连接服务器中，正在核对用户身份......"
LOGGED_IN = "核对用户身份成功！系统即将启动......"


def system_file(desk, name):
    return desk.drive_file("C", "WINDOWS", "system", name)


class Logon(unittest.TestCase):
    def log_in(self, desk, **env):
        store_id(desk, ID_LINE)
        program = desk.start(PROGRAM, extra_env={**TRACE, **env})
        desk.click(desk.window("^Form2$"), *LOGIN)
        return program

    def session_on_screen(self, desk):
        session = desk.window("岚拓客户管理系统")
        x, y, _, _ = desk.geometry(session)
        shot = os.path.join(desk.work, "session.png")
        wait_until(lambda: desk.pixel(desk.screenshot(shot), x + 2, y + 2) == APP_BAND, 20,
                   "the session on screen")

    def test_user_logged_on_alone_shows_the_session_at_once_and_writes_the_files(self):
        with DemoServer(SERVER, "--logged-on-only", listen=["127.0.0.1:7011"]) as server, \
                Desktop() as desk:
            # A wait longer than the test: only the signal can show the session.
            program = self.log_in(desk, TCLINK_TEST_LOGON_WAIT_MS="600000")
            self.session_on_screen(desk)
            wait_until(lambda: system_file(desk, "xl.yp") == b"1", 10, "the line file")
            self.assertEqual(system_file(desk, "idbak.aaa"), ID_LINE)
            self.assertEqual(traced(desk, "status")[-2:], [VERIFYING, LOGGED_IN])
            self.assertEqual(server.events("notice"), [])
            self.assertIsNone(program.poll())

    def test_without_any_logon_signal_the_session_is_shown_after_the_wait_and_nothing_written(self):
        with DemoServer(SERVER, "--no-logon-notice", listen=["127.0.0.1:7011"]), \
                Desktop() as desk:
            program = self.log_in(desk, TCLINK_TEST_LOGON_WAIT_MS="2000")
            self.session_on_screen(desk)
            self.assertIn("session shown without a logon signal", desk.log_text())
            self.assertEqual(traced(desk, "status")[-1], VERIFYING)
            self.assertEqual(system_file(desk, "id.txt"), ID_LINE)
            self.assertIsNone(system_file(desk, "idbak.aaa"))
            self.assertIsNone(system_file(desk, "xl.yp"))
            self.assertEqual(traced(desk, "box"), [])
            self.assertIsNone(program.poll())

    def test_a_server_that_never_answers_ends_the_probe_with_a_message(self):
        with socket.socket() as silent, Desktop() as desk:
            silent.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            silent.bind(("127.0.0.1", 7011))
            silent.listen(4)  # the kernel accepts; nobody ever speaks
            program = self.log_in(desk, TCLINK_TEST_CONNECT_BOUND_MS="1500")
            box = desk.window("^系统提示$")
            boxes = traced(desk, "box")
            self.assertEqual(len(boxes), 1)
            self.assertIn("264", boxes[0])
            desk.xdotool("key", "--window", box, "Return")
            self.assertEqual(program.wait(timeout=10), 0)
            self.assertIsNone(system_file(desk, "xl.yp"))


if __name__ == "__main__":
    unittest.main()
