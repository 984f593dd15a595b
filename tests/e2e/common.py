"""What the whole-program tests share: the program under test (the first argument), its
diagnostics, places in its launcher, and an update server that has nothing newer."""

import os
import shutil
import sys
import unittest

TOOLS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools")
sys.path.insert(0, TOOLS)
from peers import UpdateServers  # noqa: E402
from xdesktop import Desktop  # noqa: E402

PROGRAM = os.environ.get("TCLINK_PROGRAM") or sys.argv.pop(1)
TRACE = {"QT_LOGGING_RULES": "tclink.*=true"}

# Places in the launcher, window-relative.
LOGIN = (396 + 30, 83 + 26)
EXIT = (396 + 30, 152 + 26)
CONFIGURE = (171 + 30, 252 + 11)
NETCOM = (33 + 23 + 8, 72 + 62 + 14)
BACKUP = (33 + 11 + 7, 72 + 106 + 13)


def may_listen_on(port):
    """Whether this process may listen on a privileged port: as root, or where the system has
    lowered the bound of unprivileged ports to it."""
    if os.geteuid() == 0:
        return True
    try:
        with open("/proc/sys/net/ipv4/ip_unprivileged_port_start") as f:
            return int(f.read()) <= port
    except (OSError, ValueError):
        return False


# The update FTP server listens on port 21, as the real one does.
needs_ftp = unittest.skipUnless(may_listen_on(21),
                                "the FTP test server listens on port 21, which needs root")


def traced(desk, kind):
    """What the program reported of one kind ("status" or "box"), in order."""
    prefix = {"status": "tclink.session: status ", "box": "tclink.boxes: box "}[kind]
    return [line[len(prefix):] for line in desk.log_text().splitlines()
            if line.startswith(prefix)]


def set_fake_clock(path, timestamp):
    """Sets the clock that libfaketime reads from PATH at every call ("@YYYY-MM-DD hh:mm:ss":
    from then on it runs from there). Written beside it and renamed into place: Debian 13's
    libfaketime ends the program when it reads the file half written."""
    with open(path + ".new", "w") as f:
        f.write(f"@{timestamp}\n")
    os.replace(path + ".new", path)


def store_id(desk, line=b"5kedomra240815 7a "):
    """A machine number configured before the program starts (no drive D:)."""
    folder = os.path.join(desk.drive_c, "WINDOWS", "system")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "id.txt"), "wb") as f:
        f.write(line)


_updates = []


def setUpModule():
    # The update check comes first at every start; this server has nothing newer.
    _updates.append(UpdateServers(revision="0"))


def tearDownModule():
    while _updates:
        _updates.pop().close()


class InstalledProgram(unittest.TestCase):
    """A copy of the program under test, in a folder of its own, on a private X display: the
    program that an update replaces."""

    def setUp(self):
        self.desk = Desktop()
        self.folder = os.path.join(self.desk.work, "program")
        os.makedirs(self.folder)
        self.installed = os.path.join(self.folder, "tclink")
        shutil.copy2(PROGRAM, self.installed)
        with open(PROGRAM, "rb") as f:
            self.old_bytes = f.read()
        self.marker = os.path.join(self.desk.work, "new-program-started")

    def tearDown(self):
        self.desk.close()
