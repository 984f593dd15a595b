"""The account of the xrdp test server exists only while the server runs, and an account of
that name that the server did not create is left as it is (root only)."""

import os
import pwd
import shutil
import subprocess
import tempfile
import unittest

from common import TOOLS

XRDP = os.path.join(TOOLS, "servers", "xrdp")
ACCOUNT = "7wobnekcuhink"


def account():
    try:
        return pwd.getpwnam(ACCOUNT)
    except KeyError:
        return None


@unittest.skipUnless(os.geteuid() == 0, "the xrdp test server needs root")
class Account(unittest.TestCase):
    def setUp(self):
        if account() is not None:
            self.skipTest(f"an account {ACCOUNT} exists already (not the test server's)")
        self.state = tempfile.mkdtemp(prefix="tclink-xrdp-account-")
        os.chmod(self.state, 0o755)
        self.addCleanup(shutil.rmtree, self.state, ignore_errors=True)

    def xrdp(self, command):
        subprocess.run([XRDP, command, "--state", self.state], check=True,
                       stdout=subprocess.DEVNULL)

    def test_created_by_start_and_removed_by_stop(self):
        self.xrdp("start")
        self.addCleanup(self.xrdp, "stop")
        self.assertEqual(account().pw_shell, "/bin/bash")
        home = account().pw_dir
        self.xrdp("stop")
        self.assertIsNone(account())
        self.assertFalse(os.path.exists(home))

    def test_an_account_it_did_not_create_is_left(self):
        subprocess.run(["useradd", "-M", "-s", "/usr/sbin/nologin", ACCOUNT], check=True)
        self.addCleanup(subprocess.run, ["userdel", ACCOUNT])
        self.xrdp("start")
        self.xrdp("stop")
        self.assertIsNotNone(account())


if __name__ == "__main__":
    unittest.main()
