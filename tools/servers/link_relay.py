"""A link between a client and a server that a test can cut: a TCP relay on loopback.

LinkRelay(listen, target) accepts on listen ("127.0.0.1", port) and forwards each connection
to target. The link is in one of three states:
  up       every byte goes through, new connections are served;
  reset    every connection through it is reset (RST both ways) and new ones are refused, as
           when a router on the way restarts;
  frozen   every packet to or from the link's port is dropped, in both directions (no
           acknowledgement, no answer to a new connection): what was sent meanwhile goes on
           when the link is up again and TCP retransmits it. This uses a tc filter on the
           loopback device (needs root and iproute2's tc): run it in a private network
           namespace, such as /work/wt/isolated gives.
One thread serves every socket. Run as a program (link_relay.py LISTEN_PORT TARGET_PORT) it
reads "up", "reset" and "freeze" lines on standard input and prints each state it takes."""

import queue
import selectors
import socket
import struct
import subprocess
import sys
import threading
import time


class LinkRelay:
    def __init__(self, listen, target):
        self.listen, self.target = listen, target
        self.went_up = None  # time.monotonic() of the last up()
        self._selector = selectors.DefaultSelector()
        self._wake_read, self._wake = socket.socketpair()
        self._selector.register(self._wake_read, selectors.EVENT_READ, "wake")
        self._commands = queue.Queue()
        self._peers = {}  # socket -> the socket at the other end of its connection
        self._server = None
        self._frozen = False
        self._closed = False
        self._open()
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    # --------------------------------------------------------------- in the relay's thread

    def _open(self):
        server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        server.bind(self.listen)
        server.listen(16)
        self._server = server
        self._selector.register(server, selectors.EVENT_READ, "listen")

    def _run(self):
        while not self._closed:
            for key, _ in self._selector.select():
                if key.data == "wake":
                    self._wake_read.recv(64)
                    while not self._commands.empty():
                        command, done = self._commands.get()
                        command()
                        done.set()
                elif key.data == "listen":
                    self._accept()
                elif key.fileobj in self._peers:
                    self._forward(key.fileobj)

    def _accept(self):
        client, _ = self._server.accept()
        try:
            upstream = socket.create_connection(self.target, timeout=5)
        except OSError:
            _reset(client)
            return
        self._peers[client], self._peers[upstream] = upstream, client
        for s in (client, upstream):
            s.setblocking(True)
            self._selector.register(s, selectors.EVENT_READ, "pair")

    def _forward(self, source):
        sink = self._peers[source]
        try:
            data = source.recv(65536)
            if data:
                sink.sendall(data)
                return
        except OSError:
            pass
        for s in (source, sink):
            self._selector.unregister(s)
            del self._peers[s]
            s.close()

    def _reset(self):
        self._thaw()
        for s in list(self._peers):
            self._selector.unregister(s)
            _reset(s)
        self._peers.clear()
        if self._server:
            self._selector.unregister(self._server)
            self._server.close()
            self._server = None

    def _freeze(self):
        if self._frozen:
            return
        # The link's packets go to a class whose queue holds none: every one is dropped. (The
        # drop action and the simpler queueing disciplines are missing from some kernels.)
        port = str(self.listen[1])
        _tc("qdisc", "add", "dev", "lo", "root", "handle", "1:", "htb", "default", "10")
        self._frozen = True
        _tc("class", "add", "dev", "lo", "parent", "1:", "classid", "1:10", "htb", "rate",
            "10gbit")
        _tc("class", "add", "dev", "lo", "parent", "1:", "classid", "1:20", "htb", "rate", "8bit",
            "ceil", "8bit", "burst", "1", "cburst", "1")
        _tc("qdisc", "add", "dev", "lo", "parent", "1:20", "handle", "20:", "pfifo", "limit", "0")
        for direction in ("dport", "sport"):
            _tc("filter", "add", "dev", "lo", "parent", "1:", "protocol", "ip", "prio", "1",
                "u32", "match", "ip", direction, port, "0xffff", "flowid", "1:20")

    def _thaw(self):
        if self._frozen:
            _tc("qdisc", "del", "dev", "lo", "root")
            self._frozen = False

    def _up(self):
        self._thaw()
        if self._server is None:
            self._open()
        self.went_up = time.monotonic()

    def _close(self):
        self._reset()
        self._closed = True

    def _do(self, command):
        done = threading.Event()
        self._commands.put((command, done))
        self._wake.send(b"x")
        done.wait()

    # ---------------------------------------------------------------------- the test's side

    def reset(self):
        """Resets every connection and refuses new ones until up()."""
        self._do(self._reset)

    def freeze(self):
        """Lets nothing through, and answers nothing, until up()."""
        self._do(self._freeze)

    def up(self):
        self._do(self._up)

    def close(self):
        if not self._closed:
            self._do(self._close)
            self._thread.join()
            self._wake.close()
            self._wake_read.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def _tc(*args):
    subprocess.run(["tc", *args], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


def _reset(sock):
    try:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    except OSError:
        pass
    sock.close()


def main():
    relay = LinkRelay(("127.0.0.1", int(sys.argv[1])), ("127.0.0.1", int(sys.argv[2])))
    print("up", flush=True)
    for line in sys.stdin:
        command = line.strip()
        if command in ("up", "reset", "freeze"):
            getattr(relay, command)()
            print(command, flush=True)
    relay.close()


if __name__ == "__main__":
    main()
