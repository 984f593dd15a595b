"""Test and demo peers run as child processes: each starts, reports when it is ready, and is
ended by its process id."""

import os
import signal
import subprocess
import tempfile
import time
import urllib.parse


class DemoServer:
    """tclink-demo-server on the given endpoints (default: both line addresses, both ports)."""

    def __init__(self, binary, *options, listen=()):
        self.report = tempfile.NamedTemporaryFile(prefix="tclink-demo-report-", delete=False).name
        args = [binary, "--report", self.report, *options]
        for endpoint in listen:
            args += ["--listen", endpoint]
        self.proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                     text=True)
        expected = len(listen) or 4
        ready = 0
        while ready < expected:
            line = self.proc.stdout.readline()
            if not line:
                self.close()
                raise RuntimeError("tclink-demo-server did not start (are the ports free?)")
            ready += line.startswith("listening ")

    def events(self, name=None):
        """The report's events as (name, {key: value}) in order."""
        with open(self.report, encoding="utf-8") as f:
            lines = f.read().splitlines()
        result = []
        for line in lines:
            parts = line.split(" ")
            fields = {}
            for part in parts[1:]:
                key, _, value = part.partition("=")
                fields[key] = urllib.parse.unquote(value)
            if name is None or parts[0] == name:
                result.append((parts[0], fields))
        return result

    def close(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        if os.path.exists(self.report):
            os.unlink(self.report)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def wait_until(predicate, timeout, what):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.1)
    raise AssertionError(f"timed out waiting for {what}")
