"""A private X display for whole-program tests: Xvfb, a window manager, temporary drives,
the program under test, xdotool to drive it and screenshots. Everything started here is
ended by its process id."""

import os
import re
import shutil
import signal
import sys
import subprocess
import tempfile
import time

# A fontconfig alias of SimSun that earlier versions of the package and of tools/deps installed.
OLD_FONT_ALIAS = "64-tclink-simsun.conf"


def fonts_without_old_alias(path):
    """Writes to path the machine's font configuration without the SimSun alias that earlier
    versions installed (where it is still there), so the program's own Song stand-in is what
    draws its faces, as on a machine that never had that alias."""
    with open("/etc/fonts/fonts.conf", encoding="utf-8") as f:
        text = f.read()
    conf_d = "/etc/fonts/conf.d"
    includes = "".join(f'<include ignore_missing="yes">{conf_d}/{name}</include>\n'
                       for name in sorted(os.listdir(conf_d))
                       if name.endswith(".conf") and name != OLD_FONT_ALIAS)
    text, count = re.subn(r'<include ignore_missing="yes">conf\.d</include>', includes, text)
    if count != 1:
        raise RuntimeError("/etc/fonts/fonts.conf does not include conf.d as expected")
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def stop_process(proc):
    """Ends a process started here, by its id."""
    if proc.poll() is None:
        proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(timeout=5)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


def thread_report(pid):
    """Where each thread of a running process is: its backtrace where elfutils' eu-stack is
    installed (tools/deps --tests brings it), else its name, state and system call."""
    try:
        stacks = subprocess.run(["eu-stack", "-p", pid], capture_output=True, text=True,
                                timeout=30, env=dict(os.environ, DEBUGINFOD_URLS=""))
        if stacks.returncode == 0 and stacks.stdout.strip():
            return stacks.stdout
    except (OSError, subprocess.TimeoutExpired):
        pass

    def read(tid, name):
        try:
            with open(f"/proc/{pid}/task/{tid}/{name}") as f:
                return f.read().strip()
        except OSError:
            return "?"
    lines = []
    for tid in sorted(os.listdir(f"/proc/{pid}/task"), key=int):
        state = read(tid, "stat").rpartition(")")[2].split()[:1] or ["?"]
        lines.append(f"thread {tid} ({read(tid, 'comm')}): state {state[0]}, "
                     f"system call {read(tid, 'syscall').split()[0]}")
    return "\n".join(lines)


class Desktop:
    def __init__(self, width=1280, height=800):
        self.work = tempfile.mkdtemp(prefix="tclink-e2e-")
        self.procs = []
        read_fd, write_fd = os.pipe()
        xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", f"{width}x{height}x24",
             "-nolisten", "tcp"],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.procs.append(xvfb)
        os.close(write_fd)
        with os.fdopen(read_fd) as pipe:
            number = pipe.readline().strip()
        if not number:
            self.close()
            raise RuntimeError("Xvfb did not start")
        self.env = dict(os.environ, DISPLAY=":" + number)
        self.env.pop("QT_QPA_PLATFORM", None)
        fonts = os.path.join(self.work, "fonts.conf")
        fonts_without_old_alias(fonts)
        self.env["FONTCONFIG_FILE"] = fonts
        # The program's configuration folder (FreeRDP's files) goes with the work folder.
        self.env["XDG_CONFIG_HOME"] = os.path.join(self.work, "config")
        # Programs started before the window manager is up may never be mapped. On a busy
        # machine openbox now and then ends before it has taken the display: it gets a second go.
        # What it says goes to a log in the work folder, which a failure prints.
        self.window_manager_log = os.path.join(self.work, "openbox.log")
        for attempt in (1, 2):
            with open(self.window_manager_log, "ab") as log:
                openbox = subprocess.Popen(["openbox"], env=self.env, stdout=log,
                                           stderr=subprocess.STDOUT)
            self.procs.append(openbox)
            deadline = time.monotonic() + 10
            while not self._window_manager_up() and openbox.poll() is None:
                if time.monotonic() > deadline:
                    break
                time.sleep(0.05)
            if self._window_manager_up() and openbox.poll() is None:
                self.window_manager = openbox
                break
            stop_process(openbox)
            if attempt == 2:
                self.close()
                raise RuntimeError("the window manager did not start")
        self.drive_c = os.path.join(self.work, "C")
        self.drive_d = os.path.join(self.work, "D")
        os.makedirs(self.drive_c)
        self.program = None

    def _window_manager_up(self):
        """Whether a window manager runs: the root names its check window, and that window,
        which goes with the window manager, names itself (the root's word alone outlives a
        window manager that has ended)."""
        def check_window(*where):
            # Bounded: an X server that stops answering must not hang the test.
            try:
                out = subprocess.run(["xprop", *where, "_NET_SUPPORTING_WM_CHECK"],
                                     env=self.env, capture_output=True, text=True,
                                     timeout=5).stdout
            except subprocess.TimeoutExpired:
                return None
            return out.split()[-1] if "window id" in out else None

        window = check_window("-root")
        return window is not None and check_window("-id", window) == window

    def start(self, program, drive_d=False, extra_env=None, prefix=(), temporary_drives=True):
        """Starts the program on this display, with temporary drives unless told otherwise;
        its output goes to program.log in the work folder."""
        env = dict(self.env)
        if temporary_drives:
            if drive_d:
                os.makedirs(self.drive_d, exist_ok=True)
            env.update(TCLINK_DRIVE_C=self.drive_c, TCLINK_DRIVE_D=self.drive_d)
        env.update(extra_env or {})
        with open(os.path.join(self.work, "program.log"), "wb") as log:
            self.program = subprocess.Popen([*prefix, program], env=env, stdout=log,
                                            stderr=subprocess.STDOUT)
        self.procs.append(self.program)
        return self.program

    def x_client(self, *command, timeout=10):
        """Output of an X client run on this display."""
        return subprocess.run(list(command), env=self.env, capture_output=True, text=True,
                              timeout=timeout).stdout.strip()

    def xdotool(self, *args, timeout=10):
        return self.x_client("xdotool", *args, timeout=timeout)

    def log_text(self):
        with open(os.path.join(self.work, "program.log"), "rb") as f:
            return f.read().decode("utf-8", "replace")

    def geometry(self, window):
        """(x, y, width, height) of a window's client area on the screen."""
        out = self.xdotool("getwindowgeometry", "--shell", window)
        values = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
        return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])

    def window(self, name, timeout=15, activate=True):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            found = self.xdotool("search", "--onlyvisible", "--name", name)
            if found:
                window = found.split()[0]
                if activate:
                    # Wait until the window manager has placed and activated it.
                    self.xdotool("windowactivate", "--sync", window)
                    time.sleep(0.3)
                return window
            time.sleep(0.1)
        message = (f"no window named {name!r} after {timeout} s; shown: "
                   f"{self._window_names('--onlyvisible', '--name', '.')}")
        if self.program is not None and self.program.poll() is None:
            pid = str(self.program.pid)
            message += (f"\nthe program's windows, shown or not: "
                        f"{self._window_names('--pid', pid)}\n"
                        f"where the program's threads are:\n{thread_report(pid)}")
        elif self.program is not None:
            message += f"\nthe program has ended ({self.program.returncode})"
        if self.window_manager.poll() is not None:
            # Windows the program asked for while openbox was there may never have been shown.
            with open(self.window_manager_log, errors="replace") as log:
                message += (f"\nthe window manager has ended ({self.window_manager.returncode});"
                            f" its log:\n{log.read()[-2000:]}")
        raise AssertionError(message)

    def _window_names(self, *search):
        return [self.xdotool("getwindowname", window)
                for window in self.xdotool("search", *search).split()]

    def click(self, window, x, y):
        self.xdotool("mousemove", "--window", window, str(x), str(y), "click", "1")

    def type(self, window, text):
        self.xdotool("windowactivate", "--sync", window)
        self.xdotool("type", "--delay", "50", text)

    def screenshot(self, path):
        subprocess.run(["import", "-window", "root", path], env=self.env, check=True, timeout=20)
        return path

    def pixel(self, path, x, y):
        """The colour at (x, y) of a screenshot as (r, g, b)."""
        out = subprocess.run(["convert", path, "-crop", f"1x1+{x}+{y}", "-depth", "8",
                              "rgb:-"], capture_output=True, check=True).stdout
        return tuple(out[:3])

    def drive_file(self, drive, *parts):
        root = self.drive_c if drive == "C" else self.drive_d
        path = os.path.join(root, *parts)
        if not os.path.exists(path):
            return None
        with open(path, "rb") as f:
            return f.read()

    def close(self):
        for proc in reversed(self.procs):
            if proc.poll() is None:
                proc.send_signal(signal.SIGTERM)
        for proc in reversed(self.procs):
            try:
                proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
        shutil.rmtree(self.work, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, exc_type, *exc):
        # A failure inside the block: the end of the program's log goes with the report,
        # as the work folder goes away.
        if exc_type is not None and self.program is not None:
            lines = self.log_text().splitlines()[-60:]
            print("--- the end of the program's log ---", *lines, "---", sep="\n",
                  file=sys.stderr)
        self.close()


class WaylandDesktop(Desktop):
    """A private Wayland session as GNOME on Debian gives one: weston with Xwayland (started by
    weston when the first X client connects), shown full-screen on a private Xvfb display that
    stands for the machine's screen, keyboard and mouse. The programs started here get
    WAYLAND_DISPLAY, DISPLAY (Xwayland's), XDG_SESSION_TYPE=wayland and no QT_QPA_PLATFORM;
    with xwayland=False there is no X display at all. Keys and clicks go in through the screen
    (keys()), so weston decides which window gets them, and screenshots show
    what weston shows. x_client() and xdotool() talk to Xwayland."""

    def __init__(self, width=1280, height=800, xwayland=True):
        super().__init__(width, height)
        self.screen_env = dict(self.env)
        runtime = os.path.join(self.work, "runtime")
        os.makedirs(runtime, mode=0o700)
        self.env = {k: v for k, v in self.screen_env.items()
                    if k not in ("DISPLAY", "QT_QPA_PLATFORM")}
        self.env.update(XDG_RUNTIME_DIR=runtime, XDG_SESSION_TYPE="wayland",
                        XDG_CURRENT_DESKTOP="GNOME", WAYLAND_DISPLAY="wayland-tclink")
        # Weston draws the machine's pointer into its picture where the pointer enters its
        # window (the middle of the screen, where the program centres its windows): it goes to
        # the bottom right corner before weston is there, so no window sees it move.
        subprocess.run(["xdotool", "mousemove", str(width - 1), str(height - 1)],
                       env=self.screen_env, check=True, timeout=10)
        # Weston takes the first X display number whose lock file is free; an X server
        # started elsewhere at the same moment can take it first: weston is tried again.
        log = ""
        for attempt in range(3):
            weston, log = self._start_weston(width, height, xwayland, attempt)
            if weston:
                self.procs.append(weston)
                return
        self.close()
        raise RuntimeError(f"weston did not start:\n{log}")

    def _start_weston(self, width, height, xwayland, attempt):
        """Weston's process once its sockets are there, or None and the end of its log."""
        log_path = os.path.join(self.work, f"weston-{attempt}.log")
        command = ["weston", "--backend=x11-backend.so", "--use-pixman", "--fullscreen",
                   f"--width={width}", f"--height={height}", "--socket=wayland-tclink",
                   f"--log={log_path}", "--idle-time=0"]
        if xwayland:
            command.append("--xwayland")
        weston = subprocess.Popen(command, env=dict(self.screen_env, XDG_RUNTIME_DIR=self.env[
            "XDG_RUNTIME_DIR"]), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        socket = os.path.join(self.env["XDG_RUNTIME_DIR"], "wayland-tclink")
        self.env.pop("DISPLAY", None)
        deadline = time.monotonic() + 15
        log = ""
        while time.monotonic() < deadline and weston.poll() is None:
            if os.path.exists(log_path):
                with open(log_path, errors="replace") as f:
                    log = f.read()
                for line in log.splitlines():
                    if "xserver listening on display " in line:
                        self.env["DISPLAY"] = line.rsplit(" ", 1)[1].strip()
            if os.path.exists(socket) and (not xwayland or "DISPLAY" in self.env):
                return weston, log
            time.sleep(0.05)
        stop_process(weston)
        return None, log[-2000:]

    def window(self, name, timeout=15, activate=False):
        """An X window of Xwayland by its name; weston decides about its activation."""
        return super().window(name, timeout, activate=False)

    def keys(self, *names):
        """Keys pressed on the machine's keyboard, one after the other."""
        subprocess.run(["xdotool", "key", "--delay", "80", *names], env=self.screen_env,
                       check=True, timeout=20)

    def type(self, window, text):
        subprocess.run(["xdotool", "type", "--delay", "80", text], env=self.screen_env,
                       check=True, timeout=20)

    def screenshot(self, path):
        """The machine's screen: what weston shows."""
        subprocess.run(["import", "-window", "root", path], env=self.screen_env, check=True,
                       timeout=20)
        return path
