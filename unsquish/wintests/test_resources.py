"""The resources inside the built UNSQUISH.DLL: the message texts and the version record,
read back from the finished file with windres.

Environment: UNSQUISH_DLL, SQ_WINDRES (the target's windres).
"""

import os
import re
import subprocess
import unittest

STRINGS = {
    13500: "Cannot open compressed file (%s).",
    13501: "Cannot create output file (%s).",
    13502: "File Decompression Error",
    13504: "Decompression internal error. Cannot decompress %s successfully.",
    13505: "There is not enough memory to perform decompression successfully (%s).",
}

VERSION_STRINGS = {
    "FileDescription": "UNSQUISH DLL",
    "FileVersion": "1.0.0.1",
    "InternalName": "UNSQUISH",
    "OriginalFilename": "UNSQUISH.DLL",
    "ProductName": "UNSQUISH Dynamic Link Library",
    "ProductVersion": "1.0.0.1",
}


class Resources(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.script = subprocess.run(
            [os.environ["SQ_WINDRES"], "-i", os.environ["UNSQUISH_DLL"], "-O", "rc"],
            check=True, capture_output=True, text=True).stdout

    def test_every_resource_is_us_english(self):
        languages = re.findall(r"^LANGUAGE (\d+), (\d+)$", self.script, re.MULTILINE)
        self.assertEqual(set(languages), {("9", "1")})  # LANG_ENGLISH, SUBLANG_ENGLISH_US

    def test_string_table_holds_exactly_the_message_texts(self):
        found = {int(ident): text for ident, text in
                 re.findall(r'^\s+(\d+), "(.*)"$', self.script, re.MULTILINE)}
        self.assertEqual(found, STRINGS)

    def test_version_record(self):
        for key in ("FILEVERSION", "PRODUCTVERSION"):
            self.assertRegex(self.script, r"(?m)^\s*%s 1, 0, 0, 1$" % key)
        self.assertIn('BLOCK "040904B0"', self.script)
        self.assertEqual(dict(re.findall(r'VALUE "(\w+)", "(.*)"', self.script)), VERSION_STRINGS)
        self.assertRegex(self.script, r'VALUE "Translation", 0x409, 1200')


if __name__ == "__main__":
    unittest.main(verbosity=2)
