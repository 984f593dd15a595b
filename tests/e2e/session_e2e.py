"""The whole program against the demo terminal server on a real X display: login, the status
texts, the settings files, the session on screen, the end with the session; the netcom line;
a closed port; the backup server's notice under a fast clock."""

import glob
import os
import shlex
import subprocess
import time
import unittest

from common import (BACKUP, LOGIN, NETCOM, PROGRAM, TRACE, setUpModule,  # noqa: F401
                    set_fake_clock, store_id, tearDownModule, traced)
from peers import DemoServer, wait_until  # noqa: E402
from xdesktop import Desktop  # noqa: E402

SERVER = os.path.join(os.path.dirname(PROGRAM), "tclink-demo-server")
SHOTS = os.environ.get("TCLINK_SCREENSHOTS", "")
ID_LINE = b"5kedomra240815 7a "
APP_BAND = (0, 84, 166)
FAKETIME = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1"


def system_file(desk, name):
    return desk.drive_file("C", "WINDOWS", "system", name)


class Session(unittest.TestCase):
    def test_login_shows_the_session_and_the_program_ends_with_it(self):
        with DemoServer(SERVER, "--session-seconds", "6", listen=["127.0.0.1:7011"]) as server, \
                Desktop() as desk:
            store_id(desk, ID_LINE)
            program = desk.start(PROGRAM, extra_env=TRACE)
            desk.click(desk.window("^Form2$"), *LOGIN)
            session = desk.window("岚拓客户管理系统")
            x, y, _, _ = desk.geometry(session)
            shot = os.path.join(desk.work, "session.png")
            wait_until(lambda: desk.pixel(desk.screenshot(shot), x + 2, y + 2) == APP_BAND, 20,
                       "the session on screen")
            if SHOTS:
                desk.screenshot(os.path.join(SHOTS, "session.png"))
            self.assertEqual(system_file(desk, "id.txt"), ID_LINE)
            self.assertEqual(system_file(desk, "idbak.aaa"), ID_LINE)
            self.assertEqual(system_file(desk, "xl.yp"), b"1")
            self.assertEqual(program.wait(timeout=20), 0)  # the server logged off
            self.assertEqual(traced(desk, "status"), [
                "程序正在连接服务器中......", "程序正在连接服务器中......",
                "程序已成功连接服务器中，正在核对用户身份......", "核对用户身份成功！系统即将启动......"])
            self.assertEqual(traced(desk, "box"), [])
            logins = server.events("login")
            self.assertEqual(len(logins), 1)
            self.assertEqual(logins[0][1]["user"], "7wobnekcuhink")
            self.assertEqual(logins[0][1]["shell"], "E:\\khprogram\\V2011演示版\\bizdesk.exe")

    def test_netcom_line_reaches_its_own_server(self):
        with DemoServer(SERVER, listen=["127.0.0.2:7011"]) as server, Desktop() as desk:
            store_id(desk, ID_LINE)
            program = desk.start(PROGRAM, extra_env=TRACE)
            launcher = desk.window("^Form2$")
            desk.click(launcher, *NETCOM)
            desk.click(launcher, *LOGIN)
            wait_until(lambda: system_file(desk, "xl.yp") == b"3", 20, "the line file")
            connects = {fields["addr"] for _, fields in server.events("connect")}
            self.assertEqual(connects, {"127.0.0.2"})
            self.assertIsNone(program.poll())

    def test_a_closed_port_tells_the_user_and_writes_nothing(self):
        with Desktop() as desk:  # nothing listens on the line's port
            store_id(desk, ID_LINE)
            program = desk.start(PROGRAM, extra_env=TRACE)
            desk.click(desk.window("^Form2$"), *LOGIN)
            box = desk.window("^系统提示$")
            self.assertEqual(traced(desk, "box"),
                             ["系统提示 | 您的网络刚才已经断开了,请确定能上网后,再运行程序!"])
            desk.xdotool("key", "--window", box, "Return")
            self.assertEqual(program.wait(timeout=10), 0)
            self.assertEqual(system_file(desk, "id.txt"), ID_LINE)
            self.assertIsNone(system_file(desk, "idbak.aaa"))
            self.assertIsNone(system_file(desk, "xl.yp"))

    @unittest.skipUnless(os.geteuid() == 0, "hides a library in a mount namespace: needs root")
    def test_a_freerdp_library_that_cannot_be_loaded_is_told_and_the_program_ends(self):
        # The program loads FreeRDP once the launcher is up: here its client library reads as
        # an empty file (in the program's own mount namespace).
        hidden = sorted({os.path.realpath(path) for path in
                         glob.glob("/usr/lib/*/libfreerdp-client[23].so.[23]")})
        mounts = " && ".join(f"mount --bind /dev/null {shlex.quote(path)}" for path in hidden)
        prefix = ("unshare", "-m", "--propagation", "private", "sh", "-c",
                  mounts + ' && exec "$@"', "sh")
        with Desktop() as desk:
            store_id(desk, ID_LINE)
            program = desk.start(PROGRAM, extra_env=TRACE, prefix=prefix)
            desk.click(desk.window("^Form2$"), *LOGIN)
            box = desk.window("^系统提示$")
            self.assertEqual(traced(desk, "box"),
                             ["系统提示 | 远程桌面组件 FreeRDP 无法载入，程序不能登录。"])
            self.assertRegex(desk.log_text(), r"tclink：无法载入远程桌面组件 FreeRDP（"
                             r"[^\n]*libfreerdp-client[23]\.so\.[23][^\n]*），程序不能登录。")
            desk.xdotool("key", "--window", box, "Return")
            self.assertEqual(program.wait(timeout=10), 0)
            self.assertIsNone(system_file(desk, "xl.yp"))

    @unittest.skipUnless(os.path.exists(FAKETIME), "libfaketime is not installed")
    def test_backup_server_notice_stays_on_top_and_cannot_be_closed(self):
        with DemoServer(SERVER, listen=["127.0.0.1:7190"]) as server, Desktop() as desk:
            # The program's clock starts at 10:00:00 and jumps ahead once the session runs
            # (a sped-up clock would also cut the connection's own time-outs short).
            clock_file = os.path.join(desk.work, "faketime")
            set_fake_clock(clock_file, "2026-12-08 10:00:00")
            clock = {"LD_PRELOAD": FAKETIME, "FAKETIME_TIMESTAMP_FILE": clock_file,
                     "FAKETIME_NO_CACHE": "1", "FAKETIME_DONT_FAKE_MONOTONIC": "1"}
            store_id(desk, ID_LINE)
            program = desk.start(PROGRAM, extra_env={**TRACE, **clock})
            launcher = desk.window("^Form2$")
            desk.click(launcher, *BACKUP)
            desk.click(launcher, *LOGIN)
            question = desk.window("^系统提示$")
            desk.xdotool("key", "--window", question, "alt+y")
            wait_until(lambda: "session shown" in desk.log_text(), 20, "the backup session")
            logins = wait_until(lambda: server.events("login"), 10, "the server's login line")
            self.assertEqual(logins[0][1]["port"], "7190")
            set_fake_clock(clock_file, "2026-12-08 10:50:58")
            notice = desk.window("^岚拓软件-备用服务器提示$", timeout=20)
            if SHOTS:
                time.sleep(1.5)
                desk.screenshot(os.path.join(SHOTS, "backup-notice.png"))
            state = desk.x_client("xprop", "-id", notice, "_NET_WM_STATE")
            self.assertIn("_NET_WM_STATE_ABOVE", state)
            desk.xdotool("windowactivate", "--sync", notice)
            desk.xdotool("key", "--window", notice, "alt+F4")
            time.sleep(1)
            self.assertIn(notice, desk.xdotool("search", "--onlyvisible", "--name", "备用服务器提示"))
            # The window manager offers to minimise it; it comes straight back, mapped once
            # (the window manager said it minimised it, so the notice is not mapped anew).
            events = os.path.join(desk.work, "xev.txt")
            with open(events, "w") as out:
                xev = subprocess.Popen(["xev", "-id", notice, "-event", "structure"],
                                       env=desk.env, stdout=out)
            desk.procs.append(xev)
            time.sleep(0.5)
            desk.xdotool("windowminimize", "--sync", notice)
            wait_until(lambda: "_NET_WM_STATE_HIDDEN" not in desk.x_client(
                "xprop", "-id", notice, "_NET_WM_STATE"), 5, "the notice back on screen")
            time.sleep(1)
            with open(events) as f:
                maps = [line.split()[0] for line in f
                        if line.startswith(("MapNotify ", "UnmapNotify "))]
            self.assertEqual(maps, ["UnmapNotify", "MapNotify"])
            self.assertIn(notice, desk.xdotool("search", "--onlyvisible", "--name", "备用服务器提示"))
            self.assertIsNone(program.poll())
            self.assertEqual(len(server.events("login")), 1)  # no second connection


if __name__ == "__main__":
    unittest.main()
