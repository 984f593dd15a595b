"""The whole program against a real xrdp that keeps a user's disconnected session, through a
link that resets for 30 s and one that falls silent for 25 s: each time the session comes
back into the same application on the server, which gets the keys typed after."""

import os
import sys
import time
import unittest

from common import LOGIN, PROGRAM, TOOLS, TRACE, setUpModule, store_id, tearDownModule  # noqa
from peers import wait_until  # noqa: E402
from xdesktop import Desktop  # noqa: E402

sys.path.insert(0, os.path.join(TOOLS, "servers"))
from xrdp_link import XrdpBehindLink  # noqa: E402

RECORDER = os.path.join(os.environ.get("TCLINK_BINARY_DIR", os.path.dirname(PROGRAM)),
                        "tclink-input-recorder")


@unittest.skipUnless(os.geteuid() == 0, "the xrdp test server needs root")
@unittest.skipUnless(os.path.exists(RECORDER), "no tclink-input-recorder")
class XrdpReconnect(unittest.TestCase):
    def session_across(self, cut, seconds, logon_signal_again):
        with XrdpBehindLink(RECORDER) as xrdp, Desktop() as desk:
            store_id(desk)
            program = desk.start(PROGRAM, extra_env=TRACE)
            desk.click(desk.window("^Form2$"), *LOGIN)
            wait_until(lambda: xrdp.recorded("ready"), 30, "the recorder in the session")
            wait_until(lambda: "session shown" in desk.log_text(), 15, "the session shown")
            session = desk.window("岚拓客户管理系统")
            desk.type(session, "ab")
            wait_until(lambda: xrdp.typed() == "ab", 10, "the keys before")
            started = xrdp.markers("started")

            cut(xrdp.relay)
            # The clerk goes on typing: what cannot be acknowledged tells of the lost link.
            time.sleep(2)
            desk.type(session, "x")
            time.sleep(seconds - 2)
            self.assertIsNone(program.poll(), "the program ended while the link was down")
            xrdp.relay.up()
            wait_until(lambda: "session back" in desk.log_text(), 45, "the session back")
            back = time.monotonic() - xrdp.relay.went_up
            # xrdp gives the session to the new connection once it has noticed that the old
            # one is gone: after a silence, when its own retransmissions meet the reset.
            until = time.monotonic() + 40
            while not xrdp.typed().endswith("c") and time.monotonic() < until:
                desk.type(session, "c")
                time.sleep(1)
            usable = time.monotonic() - xrdp.relay.went_up
            desk.type(session, "d")
            wait_until(lambda: xrdp.typed().endswith("cd"), 15, "the keys after")
            print(f"session back {back:.1f} s, first key {usable:.1f} s after the link",
                  file=sys.stderr)
            # What was typed into the lost connection may be lost with it; nothing typed
            # while the session was away reaches it later.
            self.assertRegex(xrdp.typed(), "^abx?c+d$")
            # xrdp confirms the login only on the device channel: the reopened channel is
            # watched as the first was. (After a silence xrdp gives the session to the new
            # connection only once it has given up the old one, and then sends no second
            # "user logged on".)
            watched = "device channel: user logged on"
            if logon_signal_again:
                wait_until(lambda: desk.log_text().count(watched) >= 2, 15,
                           "the reopened device channel's logon signal")
                self.assertEqual(desk.log_text().count(watched), 2)

            # The same application: no second start program, no second login on our side.
            self.assertEqual(xrdp.markers("started"), started)
            self.assertEqual(xrdp.markers("exited"), [])
            self.assertEqual(desk.log_text().count("session shown"), 1)
            self.assertIsNone(program.poll())
            self.assertNotIn("1359", desk.log_text())  # the sound channel came back too

    def test_a_link_reset_for_30_seconds(self):
        self.session_across(lambda relay: relay.reset(), 30, logon_signal_again=True)

    def test_a_link_silent_for_25_seconds(self):
        self.session_across(lambda relay: relay.freeze(), 25, logon_signal_again=False)


if __name__ == "__main__":
    unittest.main()
