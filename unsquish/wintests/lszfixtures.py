"""Builds small .LSZ archives byte by byte, including damaged ones, for the UNSQUISH.DLL tests.

Stored members are written here directly. Imploded data come from the native `lsz` tool
(lsz create -m implode), whose stream is cut out of its archive and put behind a header of
our own, so that the name, CRC, time and method can be set freely.
"""

import os
import struct
import subprocess
import tempfile
import zlib

SIGNATURE = bytes([0x37, 0xF0, 0xFF, 0xFF, 0x00, 0x03])
HEADER_SIZE = 51
STORED, EXPLODED = 1, 2
NOON_1995 = (1995, 1, 1, 12, 0, 0)


def dos_date(year, month, day):
    return ((year - 1980) << 9) | (month << 5) | day


def dos_time(hour, minute, second):
    return (hour << 11) | (minute << 5) | (second // 2)


def member(name, data, method=STORED, when=NOON_1995, crc=None, size=None, raw_name=None):
    """One member header and its data. raw_name gives the 19-byte name field exactly;
    crc and size override the true CRC-32 and length of data."""
    name_field = raw_name if raw_name is not None else name.encode("latin-1") + b"\0"
    name_field = name_field.ljust(19, b"\0")
    assert len(name_field) == 19
    header = (b"\0" * 4 + name_field +
              struct.pack("<IIHHHH", len(data) if size is None else size,
                          zlib.crc32(data) if crc is None else crc,
                          dos_date(*when[:3]), dos_time(*when[3:]), 0, method) +
              b"\0" * 12)
    assert len(header) == HEADER_SIZE
    return header + data


def archive(*members, tail=b""):
    return SIGNATURE + b"".join(members) + tail


def find_lsz(tools_dir):
    """The native lsz program under tools_dir, or None."""
    for candidate in ("lsz/lsz", "lsz"):
        path = os.path.join(tools_dir or "", candidate)
        if tools_dir and os.path.isfile(path) and os.access(path, os.X_OK):
            return path
    return None


def imploded_stream(lsz, data):
    """The explode stream that lsz makes for data."""
    with tempfile.TemporaryDirectory() as scratch:
        source = os.path.join(scratch, "DATA.BIN")
        target = os.path.join(scratch, "OUT.LSZ")
        with open(source, "wb") as file:
            file.write(data)
        subprocess.run([lsz, "create", "-q", "-m", "implode", target, source], check=True)
        with open(target, "rb") as file:
            made = file.read()
    assert made[:6] == SIGNATURE
    size, = struct.unpack_from("<I", made, 6 + 23)
    method, = struct.unpack_from("<H", made, 6 + 37)
    assert method == EXPLODED, "lsz stored the member instead of imploding it"
    return made[6 + HEADER_SIZE:6 + HEADER_SIZE + size]
