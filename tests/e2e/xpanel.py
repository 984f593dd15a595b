"""Window-system pieces for the layout tests, on libX11 through ctypes: a dock panel that
reserves a strip at the bottom of the screen (as a desktop's taskbar does), and the request
that takes a window out of the maximised state.

    python3 xpanel.py dock HEIGHT    # runs until ended, on $DISPLAY
"""

import ctypes
import os
import sys
import time

X = ctypes.cdll.LoadLibrary("libX11.so.6")
X.XOpenDisplay.restype = ctypes.c_void_p
X.XOpenDisplay.argtypes = [ctypes.c_char_p]
X.XDefaultRootWindow.restype = ctypes.c_ulong
X.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
X.XInternAtom.restype = ctypes.c_ulong
X.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
X.XCreateSimpleWindow.restype = ctypes.c_ulong
X.XCreateSimpleWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                                  ctypes.c_uint, ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong,
                                  ctypes.c_ulong]
X.XChangeProperty.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_ulong,
                              ctypes.c_int, ctypes.c_int, ctypes.c_void_p, ctypes.c_int]
X.XMapWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
X.XFlush.argtypes = [ctypes.c_void_p]
X.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                         ctypes.c_void_p]
X.XCloseDisplay.argtypes = [ctypes.c_void_p]
X.XSetWMNormalHints.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_void_p]
X.XMoveWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int]
X.XDisplayWidth.argtypes = [ctypes.c_void_p, ctypes.c_int]
X.XDisplayHeight.argtypes = [ctypes.c_void_p, ctypes.c_int]

XA_ATOM, XA_CARDINAL = 4, 6
PROP_MODE_REPLACE = 0
CLIENT_MESSAGE = 33
SUBSTRUCTURE_MASKS = (1 << 19) | (1 << 20)


class SizeHints(ctypes.Structure):
    _fields_ = [("flags", ctypes.c_long), ("x", ctypes.c_int), ("y", ctypes.c_int),
                ("width", ctypes.c_int), ("height", ctypes.c_int), ("rest", ctypes.c_int * 13)]


US_POSITION_AND_SIZE = 1 | 2


class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                ("message_type", ctypes.c_ulong), ("format", ctypes.c_int),
                ("data", ctypes.c_long * 5), ("pad", ctypes.c_char * 96)]


def _open(display):
    dpy = X.XOpenDisplay(display.encode())
    if not dpy:
        raise RuntimeError(f"cannot open display {display}")
    return dpy


def _longs(values):
    return (ctypes.c_long * len(values))(*values)


def dock(height):
    """Maps a panel along the bottom of the screen that reserves `height` pixels; never
    returns."""
    dpy = _open(os.environ["DISPLAY"])
    root = X.XDefaultRootWindow(dpy)
    width, screen_height = X.XDisplayWidth(dpy, 0), X.XDisplayHeight(dpy, 0)
    window = X.XCreateSimpleWindow(dpy, root, 0, screen_height - height, width, height, 0, 0,
                                   0x303840)
    atom = lambda name: X.XInternAtom(dpy, name.encode(), 0)  # noqa: E731
    kinds = _longs([atom("_NET_WM_WINDOW_TYPE_DOCK")])
    X.XChangeProperty(dpy, window, atom("_NET_WM_WINDOW_TYPE"), XA_ATOM, 32, PROP_MODE_REPLACE,
                      kinds, 1)
    strut = _longs([0, 0, 0, height, 0, 0, 0, 0, 0, 0, 0, width - 1])
    X.XChangeProperty(dpy, window, atom("_NET_WM_STRUT_PARTIAL"), XA_CARDINAL, 32,
                      PROP_MODE_REPLACE, strut, 12)
    X.XChangeProperty(dpy, window, atom("_NET_WM_STRUT"), XA_CARDINAL, 32, PROP_MODE_REPLACE,
                      strut, 4)
    # Placed by the program, at the bottom, not where the window manager would put it.
    hints = SizeHints(US_POSITION_AND_SIZE, 0, screen_height - height, width, height)
    X.XSetWMNormalHints(dpy, window, ctypes.byref(hints))
    X.XMapWindow(dpy, window)
    X.XMoveWindow(dpy, window, 0, screen_height - height)
    X.XFlush(dpy)
    while True:
        time.sleep(3600)


def unmaximize(display, window):
    """Asks the window manager to take the window out of the maximised state."""
    dpy = _open(display)
    atom = lambda name: X.XInternAtom(dpy, name.encode(), 0)  # noqa: E731
    event = ClientMessage()
    event.type = CLIENT_MESSAGE
    event.send_event = 1
    event.window = int(window)
    event.message_type = atom("_NET_WM_STATE")
    event.format = 32
    remove = 0
    event.data[:] = [remove, atom("_NET_WM_STATE_MAXIMIZED_VERT"),
                     atom("_NET_WM_STATE_MAXIMIZED_HORZ"), 1, 0]
    X.XSendEvent(dpy, X.XDefaultRootWindow(dpy), 0, SUBSTRUCTURE_MASKS, ctypes.byref(event))
    X.XFlush(dpy)
    X.XCloseDisplay(dpy)


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "dock":
        dock(int(sys.argv[2]))
    sys.exit(__doc__)
