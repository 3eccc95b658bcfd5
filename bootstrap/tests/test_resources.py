#!/usr/bin/env python3
"""Checks the resources inside SETUP.EXE byte for byte: the string table, the progress
window's dialog template and the icon group. Standard library only.

    test_resources.py SETUP.EXE
"""
import struct
import sys
import unittest

RT_ICON, RT_STRING, RT_DIALOG, RT_GROUP_ICON = 3, 6, 5, 14

STRINGS = {
    14338: "Velkora Setup",
    14339: "Setup Error",
    14340: 'Setup has detected that your system uses a 286 processor. "Orvello 4.0 requires a '
           "computer with a 386 or higher processor.\r\n\r\nExit Setup.",
    14341: "Setup cannot proceed.\n\nThere is not enough free disk space in %c: drive \nto copy "
           "temporary files.\n\nSetup requires about %ld K of free disk space.\n",
    14342: "Setup cannot find a valid with enough disk space to proceed with the installatoin."
           "\r\n\r\nExit Setup.",
    14343: "Setup cannot create a temporary subdirectory ('%s').\r\n\r\nExit Setup.",
    14344: "Setup cannot create a temporary subdirectory ('%s') under your Windows directory."
           "\r\n\r\nExit Setup.",
    14345: "VELKORA.~!~",
    14346: "!0!9!8!7.!6!",
    14347: '"Orvello 7.0 requires a platform of Windows 95 or Windows NT 3.5 or higher version.'
           "\r\n\r\nExit Setup.",
    14348: "mfc30.dll",
    14349: "Orvello 7.0 for Windows 95 Setup",
    14350: "Decompression Error",
    14351: "The source file handle is not valid.",
    14352: "The maximum number of open files has been exceeded or local memory cannot be "
           "allocated.",
    14353: "The source file format is not valid.",
    14354: "The destination file handle is not valid.",
    14355: "Failed to lock output file.",
    14356: "Failed to locate decompression module in UNSQUISH.DLL.",
    14357: "Failed to load UNSQUISH.DLL.",
    14358: "MFC30.DL_",
    14359: "UNSQUISH.DLL",
    14360: "Failed to write output file.",
    14361: "The compressed file could not be expanded.",
}


def read_resources(path):
    """{type: {name: data}} of the first language of each resource."""
    data = open(path, "rb").read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections = struct.unpack_from("<H", data, pe + 6)[0]
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    rva = struct.unpack_from("<I", data, optional + 96 + 2 * 8)[0]  # resource directory
    table = optional + optional_size
    mapping = []
    for i in range(sections):
        _, vsize, vaddr, rsize, raw = struct.unpack_from("<8sIIII", data, table + 40 * i)
        mapping.append((vaddr, max(vsize, rsize), raw))

    def offset(address):
        for vaddr, size, raw in mapping:
            if vaddr <= address < vaddr + size:
                return raw + address - vaddr
        raise ValueError(hex(address))

    base = offset(rva)

    def entries(directory):
        named, ids = struct.unpack_from("<HH", data, base + directory + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", data, base + directory + 16 + 8 * i)
            yield name, target

    resources = {}
    for kind, types in entries(0):
        for name, names in entries(types & 0x7FFFFFFF):
            _, leaf = next(entries(names & 0x7FFFFFFF))
            address, size = struct.unpack_from("<II", data, base + leaf)
            resources.setdefault(kind, {})[name] = data[offset(address):offset(address) + size]
    return resources


def string_table(resources):
    texts = {}
    for block, data in resources[RT_STRING].items():
        position = 0
        for i in range(16):
            length = struct.unpack_from("<H", data, position)[0]
            text = data[position + 2:position + 2 + 2 * length].decode("utf-16-le")
            position += 2 + 2 * length
            if length:
                texts[(block - 1) * 16 + i] = text
    return texts


class SetupResources(unittest.TestCase):
    resources = None

    def test_string_table_holds_exactly_the_texts(self):
        self.assertEqual(string_table(self.resources), STRINGS)

    def test_progress_dialog_template(self):
        data = self.resources[RT_DIALOG][14336]
        style, exstyle, count, x, y, cx, cy = struct.unpack_from("<IIHhhhh", data, 0)
        self.assertEqual((style, exstyle, count, (x, y, cx, cy)),
                         (0x00C000C0, 0, 1, (60, 42, 151, 70)))
        words = struct.unpack_from("<3H", data, 18)  # menu, class, caption: all empty
        self.assertEqual(words, (0, 0, 0))
        point = struct.unpack_from("<H", data, 24)[0]
        end = data.index(b"\0\0", 26)
        end += (end - 26) % 2
        self.assertEqual((point, data[26:end].decode("utf-16-le")), (8, "System"))
        item = (end + 2 + 3) & ~3
        style, exstyle, x, y, cx, cy, ident = struct.unpack_from("<IIhhhhH", data, item)
        self.assertEqual((style, exstyle, (x, y, cx, cy), ident),
                         (0x50020001, 0, (0, 26, 151, 11), 14348))
        class_marker, class_atom = struct.unpack_from("<HH", data, item + 18)
        self.assertEqual((class_marker, class_atom), (0xFFFF, 0x0082))  # STATIC
        text_end = data.index(b"\0\0", item + 22)
        text_end += (text_end - item - 22) % 2
        self.assertEqual(data[item + 22:text_end].decode("utf-16-le"),
                         "Initializing Setup ... Please Wait")

    def test_icon_group_has_one_32_by_32_image_in_16_colours(self):
        group = self.resources[RT_GROUP_ICON][14337]
        reserved, kind, count = struct.unpack_from("<HHH", group, 0)
        self.assertEqual((reserved, kind, count), (0, 1, 1))
        width, height, colours, _, planes, bits, size, ident = struct.unpack_from(
            "<BBBBHHIH", group, 6)
        self.assertEqual((width, height, colours, bits), (32, 32, 16, 4))
        image = self.resources[RT_ICON][ident]
        self.assertEqual(len(image), size)
        self.assertEqual(struct.unpack_from("<Iii", image, 0), (40, 32, 64))


if __name__ == "__main__":
    SetupResources.resources = read_resources(sys.argv.pop(1))
    unittest.main()
