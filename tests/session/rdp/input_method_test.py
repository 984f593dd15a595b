"""Chinese typed with fcitx5's pinyin input method into the session control, on a private X
display with its own session bus, reaches the demo server as Unicode characters; keys the
input method does not take still arrive as scan codes. The display's NumLock, read from XKB,
reaches the server too."""

import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.environ["TCLINK_SOURCE_DIR"], "tools"))
from peers import DemoServer, stop, wait_until  # noqa: E402
from xdesktop import Desktop  # noqa: E402

BINARY_DIR = os.environ["TCLINK_BINARY_DIR"]
HOST, PORT = "127.0.0.10", "7314"  # these tests' own endpoint

PROFILE = """[Groups/0]
Name=Default
Default Layout=us
DefaultIM=pinyin

[Groups/0/Items/0]
Name=keyboard-us
Layout=

[Groups/0/Items/1]
Name=pinyin
Layout=

[GroupOrder]
0=Default
"""
# Input state shared by every window, so that switching to pinyin holds for the session.
CONFIG = """[Behavior]
ShareInputState=All
"""


def main():
    if not shutil.which("fcitx5") or not shutil.which("dbus-daemon"):
        print("fcitx5 or dbus-daemon is not installed: skipped")
        return 0
    home = tempfile.mkdtemp(prefix="tclink-ime-")
    os.makedirs(os.path.join(home, ".config", "fcitx5"))
    with open(os.path.join(home, ".config", "fcitx5", "profile"), "w") as f:
        f.write(PROFILE)
    with open(os.path.join(home, ".config", "fcitx5", "config"), "w") as f:
        f.write(CONFIG)
    procs = []
    try:
        with Desktop(800, 600) as desk, DemoServer(
                os.path.join(BINARY_DIR, "tclink-demo-server"),
                listen=[f"{HOST}:{PORT}"]) as server:
            bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                                   stdout=subprocess.PIPE, text=True)
            procs.append(bus)
            env = dict(desk.env, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"),
                       XDG_DATA_HOME=os.path.join(home, ".local", "share"),
                       DBUS_SESSION_BUS_ADDRESS=bus.stdout.readline().strip(),
                       QT_IM_MODULE="fcitx")
            with open(os.path.join(home, "fcitx5.log"), "wb") as log:
                procs.append(subprocess.Popen(["fcitx5"], env=env, stdout=log,
                                              stderr=subprocess.STDOUT))
            # Asked before fcitx5 holds its bus name, the bus would start a second one.
            wait_until(lambda: "true" in subprocess.run(
                ["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus", "/",
                 "org.freedesktop.DBus.NameHasOwner", "string:org.fcitx.Fcitx5"],
                env=env, capture_output=True, text=True).stdout, 15, "fcitx5 on the session bus")

            # NumLock on at this display: the control reads it from XKB and tells the server.
            desk.xdotool("key", "Num_Lock")
            window = subprocess.Popen([os.path.join(BINARY_DIR, "tclink-control-window"), HOST,
                                       PORT], env=env, stdout=subprocess.PIPE, text=True)
            procs.append(window)
            # FreeRDP logs to standard output too.
            line = None
            while line not in ("login", ""):
                line = window.stdout.readline().strip()
            if line != "login":
                raise AssertionError(f"the control did not log in: {server.events()}")
            threading.Thread(target=window.stdout.read, daemon=True).start()
            win = desk.window("tclink-control")
            syncs = [e["locks"] for _, e in server.events("sync")]
            assert syncs and all(locks == "num" for locks in syncs), f"synchronised {syncs}"

            # A plain key first: without an active input method it goes as a scan code.
            desk.xdotool("type", "--delay", "80", "a")
            wait_until(lambda: [e for _, e in server.events("key") if e.get("text") == "a"],
                       10, "the plain key as a scan code")

            subprocess.run(["fcitx5-remote", "-s", "pinyin"], env=env, check=True)
            wait_until(lambda: subprocess.run(["fcitx5-remote", "-n"], env=env,
                                              capture_output=True, text=True
                                              ).stdout.strip() == "pinyin",
                       10, "pinyin active")
            time.sleep(0.3)
            desk.xdotool("windowactivate", "--sync", win)
            desk.xdotool("type", "--delay", "120", "nihao")
            time.sleep(0.5)
            desk.xdotool("key", "space")
            typed = wait_until(lambda: "".join(e["text"] for _, e in server.events("unicode"))
                               if len(server.events("unicode")) >= 2 else None,
                               10, "the committed characters")
            assert typed == "你好", f"the server received {typed!r}"
            # What pinyin composed went only as Unicode: no letters of "nihao" as scan codes.
            letters = [e["text"] for _, e in server.events("key")
                       if e.get("down") == "1" and e.get("text")]
            assert letters == ["a"], f"scan codes besides the plain key: {letters}"
            print(f"fcitx5 committed {typed!r}; the demo server received it as Unicode")
    finally:
        for proc in reversed(procs):
            stop(proc)
        shutil.rmtree(home, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
