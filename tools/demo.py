"""The demo, run by tools/demo once what it needs is installed: builds tclink if needed, starts
the demo terminal server and the update web server on the line addresses and runs tclink
against them; the servers are stopped when tclink ends.

On a display (DISPLAY set) tclink opens there and you use it as a user would: configure a
machine number if none is stored yet, pick a line, log in; the session's exit button ("退出系统")
logs off and ends tclink. Without a display the demo runs on a private Xvfb display by itself,
with temporary drives: it configures the machine number 001, logs in on the telecom line, and
saves screenshots of the launcher and of the session in build/demo/."""

import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, HERE)
from peers import DemoServer, UpdateServers, wait_until  # noqa: E402

BUILD = os.path.join(ROOT, "build")
PROGRAM = os.path.join(BUILD, "tclink")
SERVER = os.path.join(BUILD, "tclink-demo-server")
APP_BAND = (0, 84, 166)  # the demo application's title band


def build():
    # The distribution's FreeRDP line, as tools/test builds it: 2 where it has 2, else 3.
    line = "2" if subprocess.run(["pkg-config", "--exists", "freerdp2", "freerdp-client2",
                                  "winpr2", "freerdp-server2"]).returncode == 0 else "3"
    subprocess.run(["cmake", "-S", ROOT, "-B", BUILD, "-G", "Ninja",
                    "-DCMAKE_BUILD_TYPE=RelWithDebInfo", f"-DTCLINK_FREERDP={line}"],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["ninja", "-C", BUILD, "tclink", "tclink-demo-server"], check=True)


def on_display():
    program = subprocess.Popen([PROGRAM])
    return program.wait()


def headless():
    from xdesktop import Desktop

    shots = os.path.join(BUILD, "demo")
    os.makedirs(shots, exist_ok=True)
    with Desktop() as desk:
        # What the program says goes to its log, which a failure prints.
        program = desk.start(PROGRAM, extra_env={"QT_LOGGING_RULES": "tclink.*=true"})
        # The first start on a fresh machine, right after the build, reads everything from
        # disk: it is given a minute, and the time it took is printed.
        started = time.monotonic()
        launcher = desk.window("^Form2$", timeout=60)
        print(f"launcher up after {time.monotonic() - started:.1f} s")
        time.sleep(0.7)
        desk.screenshot(os.path.join(shots, "launcher.png"))
        desk.type(launcher, "001")
        desk.click(launcher, 171 + 30, 252 + 11)  # configure
        time.sleep(0.8)
        desk.screenshot(os.path.join(shots, "launcher-configured.png"))
        desk.click(launcher, 396 + 30, 83 + 26)  # log in
        session = desk.window("岚拓客户管理系统")
        x, y, width, height = desk.geometry(session)
        shot = os.path.join(desk.work, "poll.png")
        wait_until(lambda: desk.pixel(desk.screenshot(shot), x + 2, y + 2) == APP_BAND, 20,
                   "the session")
        desk.screenshot(os.path.join(shots, "session.png"))
        print(f"screenshots in {shots}")
        # The application's exit button logs off; tclink ends with the session.
        desk.click(session, width - 136 + 60, height - 64 + 18)
        return program.wait(timeout=20)


def main():
    build()
    # The update server of both lines has nothing newer, so tclink goes on to its launcher.
    with DemoServer(SERVER), UpdateServers(revision="0"):
        code = on_display() if os.environ.get("DISPLAY") else headless()
    print(f"tclink ended ({code})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
