"""The whole program against the demo terminal server through a link that a test cuts: a
session lost after its login logs on again into the same server session (the auto-reconnect
cookie), under a dimmed picture with a notice and a button that ends the program; a link
that stays down ends the program after 60 to 180 s with the network message; a server that
no longer has the session gives a fresh one; the backup server's time-limit notice opens,
and its countdown ends the program, while the session is away."""

import os
import sys
import time
import unittest

from common import (BACKUP, LOGIN, PROGRAM, TOOLS, TRACE, setUpModule,  # noqa: F401
                    set_fake_clock, store_id, tearDownModule, traced)
from peers import DemoServer, wait_until  # noqa: E402
from xdesktop import Desktop  # noqa: E402

sys.path.insert(0, os.path.join(TOOLS, "servers"))
from link_relay import LinkRelay  # noqa: E402

SERVER = os.path.join(os.path.dirname(PROGRAM), "tclink-demo-server")
SHOTS = os.environ.get("TCLINK_SCREENSHOTS", "")
APP_BAND = (0, 84, 166)
PANEL = (242, 242, 242)
FAKETIME = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1"
# The server behind the link: the line's ports are the link's.
BEHIND = {7011: 17011, 7190: 17190}


def system_file_time(desk, name):
    return os.stat(os.path.join(desk.drive_c, "WINDOWS", "system", name)).st_mtime_ns


class Reconnect(unittest.TestCase):
    def start(self, port=7011, extra_env=None, backup=False):
        """The program logged on through the link; returns (server, desk, relay, program,
        session window)."""
        self.server = DemoServer(SERVER, listen=[f"127.0.0.1:{BEHIND[port]}"])
        self.addCleanup(lambda: self.server.close())
        self.desk = Desktop()
        self.addCleanup(self.desk.close)
        self.relay = LinkRelay(("127.0.0.1", port), ("127.0.0.1", BEHIND[port]))
        self.addCleanup(self.relay.close)
        store_id(self.desk)
        self.program = self.desk.start(PROGRAM, extra_env={**TRACE, **(extra_env or {})})
        launcher = self.desk.window("^Form2$")
        if backup:
            self.desk.click(launcher, *BACKUP)
        self.desk.click(launcher, *LOGIN)
        if backup:
            self.desk.xdotool("key", "--window", self.desk.window("^系统提示$"), "alt+y")
        wait_until(lambda: "session shown" in self.desk.log_text(), 20, "the session")
        self.session = self.desk.window("岚拓客户管理系统")
        self.shot = os.path.join(self.desk.work, "shot.png")

    def look(self, x, y):
        wx, wy, _, _ = self.desk.geometry(self.session)
        return self.desk.pixel(self.desk.screenshot(self.shot), wx + x, wy + y)

    def centre(self):
        _, _, w, h = self.desk.geometry(self.session)
        return w // 2, h // 2

    def keys(self, server=None):
        return [(f["text"], f["session"]) for _, f in (server or self.server).events("key")
                if f["down"] == "1"]

    def test_a_reset_link_comes_back_into_the_same_session(self):
        self.start()
        wait_until(lambda: self.look(2, 2) == APP_BAND, 10, "the application")
        self.desk.type(self.session, "ab")
        wait_until(lambda: len(self.keys()) == 2, 10, "the keys before")
        written = system_file_time(self.desk, "id.txt")
        self.relay.reset()
        wait_until(lambda: "attempt 2" in self.desk.log_text(), 15, "the second attempt")
        # The last picture, dimmed, under the notice; nothing typed reaches the server.
        cx, cy = self.centre()
        self.assertEqual(self.look(cx, cy - 20), PANEL)
        band = self.look(2, 2)
        self.assertTrue(all(c < a for c, a in zip(band, APP_BAND) if a), band)
        if SHOTS:
            self.desk.screenshot(os.path.join(SHOTS, "reconnecting.png"))
        self.desk.type(self.session, "x")
        self.relay.up()
        back = time.monotonic()
        wait_until(lambda: "session back" in self.desk.log_text(), 20, "the session back")
        wait_until(lambda: self.look(2, 2) == APP_BAND, 10, "the picture undimmed")
        self.desk.type(self.session, "cd")
        wait_until(lambda: len(self.keys()) == 4, 10, "the keys after")
        print(f"keys arrive {time.monotonic() - back:.2f} s after the link is back",
              file=sys.stderr)

        first = self.server.events("login")[0][1]["session"]
        self.assertEqual(self.keys(), [(k, first) for k in "abcd"])
        resumed = self.server.events("resume")
        self.assertEqual([(f["ok"], f["session"]) for _, f in resumed], [("1", first)])
        # The lock state is set again on the resumed connection.
        after = [e for e, f in self.server.events() if e in ("resume", "sync")]
        self.assertEqual(after[-2:], ["resume", "sync"])
        # One probe, one login, one set of settings files; the logon watch saw both logons.
        watched = "device channel: user logged on"
        wait_until(lambda: self.desk.log_text().count(watched) == 2, 10, "the second logon seen")
        log = self.desk.log_text()
        self.assertEqual(len(traced(self.desk, "status")), 4)
        self.assertEqual(log.count("session shown"), 1)
        self.assertEqual(system_file_time(self.desk, "id.txt"), written)
        self.assertIsNone(self.program.poll())
        self.assertEqual(traced(self.desk, "box"), [])

    def test_the_quit_button_ends_the_program_as_the_session_end_does(self):
        self.start()
        self.relay.reset()
        wait_until(lambda: "attempt 1" in self.desk.log_text(), 15, "the first attempt")
        cx, cy = self.centre()
        wait_until(lambda: self.look(cx, cy - 20) == PANEL, 5, "the notice")
        self.desk.click(self.session, cx, cy + 36)  # the button under the two lines
        self.assertEqual(self.program.wait(timeout=10), 0)
        self.assertEqual(traced(self.desk, "box"), [])

    def test_a_link_that_stays_down_ends_the_program_after_60_to_180_seconds(self):
        self.start()
        self.relay.reset()
        dropped = time.monotonic()
        box = self.desk.window("^系统提示$", timeout=200)
        given_up = time.monotonic() - dropped
        print(f"gave up {given_up:.1f} s after the drop", file=sys.stderr)
        self.assertGreaterEqual(given_up, 60)
        self.assertLessEqual(given_up, 180)
        self.assertIn("attempt 20 failed", self.desk.log_text())
        self.assertEqual(traced(self.desk, "box"),
                         ["系统提示 | 你的网络刚才已经断开了,请确定能上网后,再运行程序!"])
        self.desk.xdotool("key", "--window", box, "Return")
        self.assertEqual(self.program.wait(timeout=10), 0)

    def test_a_server_without_the_session_starts_a_fresh_one(self):
        self.start()
        self.relay.reset()
        self.server.close()  # its sessions go with it
        self.server = DemoServer(SERVER, listen=["127.0.0.1:17011"])
        self.relay.up()
        wait_until(lambda: "session back" in self.desk.log_text(), 20, "the session back")
        self.desk.type(self.session, "e")
        wait_until(lambda: self.keys(), 10, "the key")
        wait_until(lambda: self.server.events("login"), 10, "the login line")
        resumed = self.server.events("resume")
        self.assertEqual([f["ok"] for _, f in resumed], ["0"])
        logins = self.server.events("login")
        self.assertEqual(self.keys(), [("e", logins[0][1]["session"])])
        self.assertIsNone(self.program.poll())

    @unittest.skipUnless(os.path.exists(FAKETIME), "libfaketime is not installed")
    def test_the_time_limit_notice_opens_and_ends_the_program_while_the_session_is_away(self):
        clock_file = os.path.join("/tmp", f"tclink-faketime-{os.getpid()}")
        set_fake_clock(clock_file, "2026-12-08 10:00:00")
        self.addCleanup(os.unlink, clock_file)
        # Only the calendar clock jumps: a link that stays away is timed on the steady clock,
        # which no real clock change moves.
        self.start(port=7190, backup=True, extra_env={
            "LD_PRELOAD": FAKETIME, "FAKETIME_TIMESTAMP_FILE": clock_file,
            "FAKETIME_NO_CACHE": "1", "FAKETIME_DONT_FAKE_MONOTONIC": "1"})
        self.relay.reset()
        wait_until(lambda: "attempt 1" in self.desk.log_text(), 15, "the first attempt")
        set_fake_clock(clock_file, "2026-12-08 10:50:58")
        notice = self.desk.window("^岚拓软件-备用服务器提示$", timeout=20, activate=False)
        opened = time.monotonic()
        self.assertIn("_NET_WM_STATE_ABOVE",
                      self.desk.x_client("xprop", "-id", notice, "_NET_WM_STATE"))
        if SHOTS:
            time.sleep(1.5)
            self.desk.screenshot(os.path.join(SHOTS, "reconnecting-time-limit.png"))
        self.assertIsNone(self.program.poll())
        # The session comes back under the notice, whose countdown goes on.
        self.relay.up()
        wait_until(lambda: "session back" in self.desk.log_text(), 20, "the session back")
        # Lost again a minute before the countdown's end: the end comes while it is away.
        time.sleep(max(0.0, opened + 120 - time.monotonic()))
        self.relay.reset()
        self.assertEqual(self.program.wait(timeout=80), 0)
        ended = time.monotonic() - opened
        log = self.desk.log_text()
        print(f"ended {ended:.1f} s after the notice opened", file=sys.stderr)
        self.assertGreaterEqual(ended, 178)
        self.assertLessEqual(ended, 190)
        self.assertEqual(log.count("session back"), 1)
        self.assertEqual(log.count("session lost"), 2)
        self.assertNotIn("attempt 20 failed", log)
        # No message but the backup server's question at the start.
        self.assertEqual(len(traced(self.desk, "box")), 1)


if __name__ == "__main__":
    unittest.main()
