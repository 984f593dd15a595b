"""The whole program against a real xrdp terminal server: the probe, the session, the start
program running on the server, the login completed by the device channel's "user logged on"
(xrdp sends no logon notification), and the end of the program when the start program exits."""

import glob
import os
import shutil
import subprocess
import tempfile
import unittest

from common import LOGIN, PROGRAM, TOOLS, TRACE, store_id, traced
from peers import UpdateServers, wait_until  # noqa: E402
from xdesktop import Desktop  # noqa: E402

XRDP = os.path.join(TOOLS, "servers", "xrdp")
ID_LINE = b"5kedomra240815 7a "


@unittest.skipUnless(os.geteuid() == 0, "the xrdp test server needs root")
class Xrdp(unittest.TestCase):
    def setUp(self):
        # The session runs as the test account, which must reach the state folder.
        self.state = tempfile.mkdtemp(prefix="tclink-xrdp-e2e-")
        os.chmod(self.state, 0o755)
        self.addCleanup(shutil.rmtree, self.state, ignore_errors=True)
        subprocess.run([XRDP, "start", "--state", self.state], check=True,
                       stdout=subprocess.DEVNULL)
        self.addCleanup(subprocess.run, [XRDP, "stop", "--state", self.state],
                        stdout=subprocess.DEVNULL)

    def markers(self, kind):
        return glob.glob(os.path.join(self.state, "markers", f"{kind}.*[0-9]"))

    def test_the_start_program_runs_and_its_end_ends_the_program(self):
        with UpdateServers(revision="0"), Desktop() as desk:
            store_id(desk, ID_LINE)
            program = desk.start(PROGRAM, extra_env=TRACE)
            desk.click(desk.window("^Form2$"), *LOGIN)
            started = wait_until(lambda: self.markers("started"), 30, "the start program")
            with open(started[0]) as f:
                marker = f.read()
            self.assertIn("role=start-program", marker)
            self.assertIn("session=ready", marker)
            wait_until(lambda: "session shown" in desk.log_text(), 15, "the session shown")
            self.assertNotIn("without a logon signal", desk.log_text())
            self.assertEqual(traced(desk, "status"), [
                "程序正在连接服务器中......", "程序正在连接服务器中......",
                "程序已成功连接服务器中，正在核对用户身份......", "核对用户身份成功！系统即将启动......"])
            self.assertEqual(desk.drive_file("C", "WINDOWS", "system", "id.txt"), ID_LINE)
            self.assertEqual(desk.drive_file("C", "WINDOWS", "system", "idbak.aaa"), ID_LINE)
            self.assertEqual(desk.drive_file("C", "WINDOWS", "system", "xl.yp"), b"1")
            self.assertIsNone(program.poll())

            with open(os.path.join(self.state, "stop-bizdesk"), "w"):
                pass
            self.assertEqual(program.wait(timeout=15), 0)
            self.assertNotIn("tclink.boxes", desk.log_text())


if __name__ == "__main__":
    unittest.main()
