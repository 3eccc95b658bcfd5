"""Setup media for the end-to-end tests of SETUP.EXE under Wine, and the checks they share.

A medium is a directory that holds SETUP.EXE, SETUP.LST and whatever the case needs:
UNSQUISH.DLL, MFC30.DL_ (packed with mscompress), archives, and stage2probe.exe as the second
stage. Each case gets fresh media, a fresh TEMP directory and a system directory without the
libraries that the bootstrap installs, so the cases do not depend on each other.

Environment: BOOTSTRAP_DELIVERABLES (SETUP.EXE, UNSQUISH.DLL, MFC30.DLL), BOOTSTRAP_FIXTURES
(the fixture DLLs of this directory's CMakeLists.txt), WINEHARNESS_* (winharness.py),
SQ_NATIVE_TOOLS_DIR (optional: tools/ of a native build tree, with lsz/lsz).
"""
import glob
import json
import os
import shutil
import struct
import subprocess
import unittest
import zlib

import winharness

DELIVERABLES = os.environ.get("BOOTSTRAP_DELIVERABLES", "")
FIXTURES = os.environ.get("BOOTSTRAP_FIXTURES", "")
MSCOMPRESS = shutil.which("mscompress")
# The archive tool of a native build tree, for archives with exploded members (optional).
LSZ = os.path.join(os.environ.get("SQ_NATIVE_TOOLS_DIR", ""), "lsz", "lsz")

SETUP_ERROR = "Setup Error"
DECOMPRESSION_ERROR = "Decompression Error"
WINDOW_TITLE = "Orvello 7.0 for Windows 95 Setup"
RESERVED_1 = "VELKORA.~!~"
RESERVED_2 = "!0!9!8!7.!6!"
# Libraries that the bootstrap may put into the system directory; removed before each case.
INSTALLED_NAMES = ["mfc30.dll", "VERLIB.DLL", "X.DLL", "SYSLIB.DLL"]

ARCHIVE_SIGNATURE = bytes([0x37, 0xF0, 0xFF, 0xFF, 0x00, 0x03])


def stored_archive(members):
    """An archive of stored members: [(name, bytes, dos_date, dos_time)]."""
    out = bytearray(ARCHIVE_SIGNATURE)
    for name, data, dos_date, dos_time in members:
        header = struct.pack("<I19sIIHHHH12s", 0, name.encode("latin-1"), len(data),
                             zlib.crc32(data), dos_date, dos_time, 0, 1, b"")
        out += header + data
    return bytes(out)


def lz_pack(source, target):
    """Packs a file in the platform's LZ format (SZDD) with Debian's mscompress."""
    scratch = target + ".in"
    shutil.copyfile(source, scratch)
    subprocess.run([MSCOMPRESS, scratch], check=True, stdout=subprocess.DEVNULL)
    os.replace(scratch + "_", target)  # mscompress appends "_" to the name
    os.remove(scratch)


def read_file(path):
    with open(path, "rb") as file:
        return file.read()


def fixture(name):
    return os.path.join(FIXTURES, name)


class BootstrapCase(unittest.TestCase):
    """Base of the end-to-end cases: one Wine session per test module."""

    wine = None

    @classmethod
    def setUpClass(cls):
        if not (DELIVERABLES and FIXTURES and MSCOMPRESS):
            raise unittest.SkipTest("BOOTSTRAP_DELIVERABLES, BOOTSTRAP_FIXTURES or mscompress "
                                    "missing")
        if BootstrapCase.wine is None:
            BootstrapCase.wine = winharness.WineSession()
            BootstrapCase.wine.open()

    def setUp(self):
        self.fresh()
        self.addCleanup(self.remove_leftovers)

    def fresh(self, variant=""):
        """New, empty media and TEMP directories (again for each variant of a table)."""
        # Short names: the platform's LZ service takes paths of at most 127 characters.
        method = self.id().rsplit(".", 1)[1].replace("test_", "")
        self.case = self.wine.work_dir(method[:16] + variant)
        self.medium = os.path.join(self.case, "medium")
        self.temp = os.path.join(self.case, "temp")
        self.report = os.path.join(self.case, "stage2.jsonl")
        os.makedirs(self.medium)
        os.makedirs(self.temp)
        self.system_dir = os.path.join(self.wine.prefix, "drive_c", "windows", "system32")
        self.windows_dir = os.path.join(self.wine.prefix, "drive_c", "windows")
        self.remove_leftovers()

    # ---- building media ---------------------------------------------------------------

    def put(self, name, data, where=None):
        path = os.path.join(where or self.medium, name)
        with open(path, "wb") as file:
            file.write(data)
        return path

    def write_list(self, text, name="SETUP.LST"):
        """Writes the list file; "\n" becomes CR LF unless raw bytes are given."""
        data = text if isinstance(text, bytes) else text.replace("\n", "\r\n").encode("latin-1")
        return self.put(name, data)

    def make_medium(self, list_text=None, setup_name="SETUP.EXE", unsquish=True, mfc30=True,
                    second_stage="RUNINST.EXE"):
        shutil.copyfile(os.path.join(DELIVERABLES, "SETUP.EXE"),
                        os.path.join(self.medium, setup_name))
        if unsquish:
            shutil.copyfile(os.path.join(DELIVERABLES, "UNSQUISH.DLL"),
                            os.path.join(self.medium, "UNSQUISH.DLL"))
        if mfc30:
            lz_pack(os.path.join(DELIVERABLES, "MFC30.DLL"),
                    os.path.join(self.medium, "MFC30.DL_"))
        if second_stage:
            shutil.copyfile(self.wine.helper("stage2probe.exe"),
                            os.path.join(self.medium, second_stage))
        if list_text is not None:
            self.write_list(list_text, os.path.splitext(setup_name)[0] + ".LST")

    def basic_list(self, files="", mfcdll=None, params=None):
        text = params if params is not None else ("[Params]\nWndTitle = Test Setup\n"
                                                  "WndMess = Copying...\nTmpDirName = ~STAGE\n"
                                                  "CmdLine = RUNINST.EXE\n")
        text += "[Files]\nSTAGE2.LSZ\n" + files
        if mfcdll is not None:
            text += "[MFCDLL]\n" + mfcdll
        return text

    def add_second_stage_archive(self, name="STAGE2.LSZ", program="RUNINST.EXE"):
        """An archive that carries the second stage, as real media do."""
        probe = read_file(self.wine.helper("stage2probe.exe"))
        self.put(name, stored_archive([(program, probe, 0x2821, 0x6000)]))

    # ---- running ----------------------------------------------------------------------

    def run_setup(self, setup_name="SETUP.EXE", env=None, answers=(), timeout=60, args=(),
                  **kwargs):
        environment = {"TEMP": winharness.to_windows_path(self.temp),
                       "STAGE2PROBE_REPORT": winharness.to_windows_path(self.report),
                       "STAGE2PROBE_VARS": "TEMP,TMP,WINDIR,STAGECHECK"}
        environment.update(env or {})
        result = self.wine.run_windows_program(os.path.join(self.medium, setup_name), args,
                                               cwd=self.case, env=environment, answers=answers,
                                               timeout=timeout, **kwargs)
        self.assertFalse(result.timed_out, "SETUP.EXE did not end")
        self.assertEqual(result.exit_code, 0)
        return result

    def stage2_reports(self):
        if not os.path.exists(self.report):
            return []
        with open(self.report, encoding="latin-1") as file:
            return [json.loads(line) for line in file if line.strip()]

    def only_stage2_report(self):
        reports = self.stage2_reports()
        self.assertEqual(len(reports), 1, "the second stage should have run once")
        return reports[0]

    def win(self, path):
        return winharness.to_windows_path(path)

    def medium_dir_windows(self):
        return self.win(self.medium) + "\\"

    # ---- looking at the result ----------------------------------------------------------

    def installed(self, name):
        return os.path.join(self.system_dir, name)

    def remove_installed(self, name):
        path = self.installed(name)
        if os.path.exists(path):
            os.chmod(path, 0o644)
            os.remove(path)

    def temp_entries(self):
        return sorted(os.listdir(self.temp))

    def remove_leftovers(self):
        for name in INSTALLED_NAMES:
            self.remove_installed(name)
        for path in glob.glob(os.path.join(self.windows_dir, "*.~!~")) + \
                glob.glob(os.path.join(self.windows_dir, "!0!9!8!7.!6!")):
            shutil.rmtree(path, ignore_errors=True)


def stop_box(text, owner=None):
    return (SETUP_ERROR, text, "stop", owner)


def main():
    """Runs the module's cases; exit code 77 (skipped, for CTest) when nothing could run."""
    program = unittest.main(exit=False)
    result = program.result
    # A class skipped in setUpClass counts as one skip and no test run.
    if result.skipped and len(result.skipped) >= result.testsRun:
        raise SystemExit(77)
    raise SystemExit(0 if result.wasSuccessful() else 1)
