"""The project's xrdp peer behind a link that can be cut, for tests and benchmarks: xrdp keeps
a session that lost its client and logs the same user on again into it
(TCLINK_XRDP_RECONNECT=1), listens on 127.0.0.1:17011, and the link (link_relay) listens on
the line's port 7011. Its start program is tclink-input-recorder, which records the keys that
reach it in markers/recorder.log. Needs root; run under the machine-wide xrdp lock."""

import glob
import os
import shutil
import subprocess
import tempfile
import urllib.parse

from link_relay import LinkRelay

XRDP = os.path.join(os.path.dirname(os.path.abspath(__file__)), "xrdp")


class XrdpBehindLink:
    def __init__(self, recorder, port=7011):
        self.state = tempfile.mkdtemp(prefix="tclink-xrdp-link-")
        os.chmod(self.state, 0o755)  # the session user reaches its markers
        env = dict(os.environ, TCLINK_XRDP_LISTEN="tcp://127.0.0.1:17011",
                   TCLINK_XRDP_RECONNECT="1", TCLINK_XRDP_RECORDER=recorder)
        self._env = env
        subprocess.run([XRDP, "start", "--state", self.state], check=True, env=env,
                       stdout=subprocess.DEVNULL)
        try:
            self.relay = LinkRelay(("127.0.0.1", port), ("127.0.0.1", 17011))
        except OSError:
            self._stop()
            raise

    def markers(self, kind):
        return glob.glob(os.path.join(self.state, "markers", f"{kind}.*[0-9]"))

    def recorded(self, event="key"):
        """The recorder's events of one kind, as dicts of their decoded fields."""
        try:
            with open(os.path.join(self.state, "markers", "recorder.log"),
                      encoding="utf-8") as f:
                lines = f.read().splitlines()
        except FileNotFoundError:
            return []
        result = []
        for line in lines:
            parts = line.split(" ")
            if parts[0] == event:
                result.append({k: urllib.parse.unquote(v) for k, _, v in
                               (p.partition("=") for p in parts[1:])})
        return result

    def typed(self):
        """The text of the keys the application received (lock keys that xrdp sets left out)."""
        return "".join(k.get("text", "") for k in self.recorded()
                       if not k.get("keysym", "").endswith("_Lock"))

    def _stop(self):
        subprocess.run([XRDP, "stop", "--state", self.state], env=self._env,
                       stdout=subprocess.DEVNULL)

    def close(self):
        self.relay.close()
        self._stop()
        shutil.rmtree(self.state, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
