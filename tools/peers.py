"""Test and demo peers run as child processes: each starts, reports when it is ready, and is
ended by its process id."""

import importlib.machinery
import importlib.util
import os
import shutil
import signal
import subprocess
import tempfile
import time
import urllib.parse


def stop(proc):
    """Ends a child process started here (by its id) and closes its pipe."""
    if proc.poll() is None:
        proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
    if proc.stdout:
        proc.stdout.close()


class DemoServer:
    """tclink-demo-server on the given endpoints (default: both line addresses, both ports);
    what it writes to stderr goes to the file `errors` when given."""

    def __init__(self, binary, *options, listen=(), errors=None):
        self.report = tempfile.NamedTemporaryFile(prefix="tclink-demo-report-", delete=False).name
        args = [binary, "--report", self.report, *options]
        for endpoint in listen:
            args += ["--listen", endpoint]
        with open(errors or os.devnull, "wb") as err:
            self.proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=err, text=True)
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
        stop(self.proc)
        if os.path.exists(self.report):
            os.unlink(self.report)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


class UpdateServers:
    """The update web server (version file) and, when asked, the update FTP server of both
    lines, serving files from a temporary root: ROOT/<line address>/qtm演示版/..."""

    EDITION = "qtm演示版"

    def __init__(self, revision="0", files=None, ftp=False, listen_http=(), listen_ftp=(),
                 ftp_options=()):
        self.root = tempfile.mkdtemp(prefix="tclink-update-")
        self.procs = []
        for line in ("127.0.0.1", "127.0.0.2"):
            folder = os.path.join(self.root, line, self.EDITION)
            os.makedirs(folder)
            if revision is not None:
                with open(os.path.join(folder, "ver.txt"), "w") as f:
                    f.write(revision)
            for name, data in (files or {}).items():
                with open(os.path.join(folder, name), "wb") as f:
                    f.write(data)
        servers = os.path.join(os.path.dirname(os.path.abspath(__file__)), "servers")
        self._start([os.path.join(servers, "update-http"), "--root", self.root], listen_http)
        if ftp:
            self._start([os.path.join(servers, "update-ftp"), "--root", self.root, *ftp_options],
                        listen_ftp)

    def _start(self, command, listen):
        for endpoint in listen:
            command += ["--listen", endpoint]
        proc = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                text=True)
        self.procs.append(proc)
        if "ready" not in (proc.stdout.readline() or ""):
            self.close()
            raise RuntimeError(f"{os.path.basename(command[0])} did not start")

    def close(self):
        for proc in self.procs:
            stop(proc)
        shutil.rmtree(self.root, ignore_errors=True)

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


def load_bench(name):
    """A benchmark script of tools/bench (it has no .py ending) as a module, for its parts."""
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "bench", name)
    loader = importlib.machinery.SourceFileLoader("tclink_bench_" + name, path)
    spec = importlib.util.spec_from_loader(loader.name, loader)
    module = importlib.util.module_from_spec(spec)
    loader.exec_module(module)
    return module
