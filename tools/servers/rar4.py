#!/usr/bin/python3
"""Writes RAR 4 archives in store mode (no compression), as the update server offers them.

    rar4.py OUT.rar FILE[=NAME]...

Each FILE is stored under NAME (default: its base name); NAME may hold folders, separated by
"/" or "\\", and any Unicode characters. As a module: write(out_path, [(name, data), ...]);
an entry (name, target, LINK) stores a symbolic link to target (written by a Unix host, as
RAR does for links).
"""
import os
import struct
import sys
import time
import zlib

MARKER = b"Rar!\x1a\x07\x00"
HOST_WIN32 = 2
HOST_UNIX = 3
LINK = "link"
UNIX_LINK_MODE = 0o120777
METHOD_STORE = 0x30
VERSION_NEEDED = 20
LONG_BLOCK = 0x8000
UNICODE_NAME = 0x0200
ARCHIVE_ATTRIBUTE = 0x20


def _block(kind, flags, body):
    """HEAD_CRC, HEAD_TYPE, HEAD_FLAGS, HEAD_SIZE, then the rest of the header."""
    header = struct.pack("<BHH", kind, flags, 7 + len(body)) + body
    return struct.pack("<H", zlib.crc32(header) & 0xFFFF) + header


def _dos_time(seconds):
    t = time.localtime(seconds)
    return ((t.tm_year - 1980) << 25 | t.tm_mon << 21 | t.tm_mday << 16
            | t.tm_hour << 11 | t.tm_min << 5 | t.tm_sec // 2)


def _file_block(name, data, mtime, link=False):
    if link:
        data = data.encode() if isinstance(data, str) else data
        host, attributes = HOST_UNIX, UNIX_LINK_MODE
    else:
        host, attributes = HOST_WIN32, ARCHIVE_ATTRIBUTE
    name = name.replace("/", "\\")
    encoded = name.encode("utf-8")
    flags = LONG_BLOCK
    if not name.isascii():
        flags |= UNICODE_NAME  # a UTF-8 name without the legacy name before it
    body = struct.pack("<IIBIIBBHI", len(data), len(data), host, zlib.crc32(data),
                       _dos_time(mtime), VERSION_NEEDED, METHOD_STORE, len(encoded),
                       attributes) + encoded
    return _block(0x74, flags, body) + data


def write(out_path, entries, mtime=None):
    """Writes the archive; entries are (name, bytes) pairs."""
    mtime = time.time() if mtime is None else mtime
    with open(out_path, "wb") as out:
        out.write(MARKER)
        out.write(_block(0x73, 0, b"\x00" * 6))
        for name, data, *kind in entries:
            if len(data) >= 1 << 32:
                raise ValueError("%s: files of 4 GiB or more are not supported" % name)
            out.write(_file_block(name, data, mtime, kind == [LINK]))
        out.write(_block(0x7B, 0x4000, b""))


def main(argv):
    if len(argv) < 3:
        sys.exit(__doc__)
    entries = []
    for spec in argv[2:]:
        path, _, name = spec.partition("=")
        with open(path, "rb") as f:
            entries.append((name or os.path.basename(path), f.read()))
    write(argv[1], entries)


if __name__ == "__main__":
    main(sys.argv)
