"""SQExtractFile of the real UNSQUISH.DLL under Wine: sqcall.exe makes one call per case under
the message-box driver; each case checks the result, the boxes in order and the files left.

Environment: SQCALL_EXE, UNSQUISH_DLL (MFC30.DLL beside it), SQ_NATIVE_TOOLS_DIR (native
tools/ with lsz/lsz, for imploded members; without it those cases are skipped), SQATTACH_EXE
and MFC30_RECORDING_DLL (for the registration at load), and the winharness variables.
"""

import calendar
import dataclasses
import os
import re
import shutil
import stat
import time
import unittest

import winharness
from lszfixtures import (EXPLODED, NOON_1995, archive, find_lsz, imploded_stream, member,
                         SIGNATURE)

CAPTION = "File Decompression Error"
OPEN_FAILED = "Cannot open compressed file (%s)."
CREATE_FAILED = "Cannot create output file (%s)."
INTERNAL = "Decompression internal error. Cannot decompress %s successfully."
OWNER = ("owner", "SqCallOwner")
LOAD_FAILURES = {100: "UNSQUISH.DLL (or MFC30.DLL beside it) could not be loaded",
                 101: "UNSQUISH.DLL has no SQExtractFile export"}
SUMMER_2001 = (2001, 7, 15, 8, 30, 42)

TEXT = b"The quick brown fox jumps over the lazy dog. " * 40


@dataclasses.dataclass
class Case:
    name: str
    files: dict  # path in the case directory -> bytes (sources, files already there)
    call: tuple  # sourceDir, destDir, fileName[, altName]; {src} {out} {case} are replaced
    result: int
    boxes: list = ()  # (text, argument) of each box, in order
    expect: dict = dataclasses.field(default_factory=dict)  # path -> bytes or (bytes, when)
    cwd: str = None
    owner: bool = True
    readonly: tuple = ()
    readonly_dirs: tuple = ()  # made as read-only directories; must stay so
    unix_env: dict = None
    timeout: int = 30


SETUP = "src/SETUP.LSZ"
ARCHIVE = r"{src}\SETUP.LSZ"
DEFAULT_CALL = (r"{src}", r"{out}", "SETUP")
GOOD = member("GOOD.TXT", b"good")


def one_member(text):
    return archive(member("A.TXT", text))


def extension_cases():
    return [
        Case("name_without_extension_gets_lsz",
             {SETUP: one_member(b"from SETUP.LSZ"), "src/SETUP": one_member(b"from SETUP")},
             DEFAULT_CALL, 1, expect={"out/A.TXT": (b"from SETUP.LSZ", NOON_1995)}),
        Case("long_extension_gets_lsz",
             {"src/SETUP.DATA.LSZ": one_member(b"from .DATA.LSZ"),
              "src/SETUP.DATA": one_member(b"from .DATA")},
             (r"{src}", r"{out}", "SETUP.DATA"), 1, expect={"out/A.TXT": b"from .DATA.LSZ"}),
        Case("short_extension_kept",
             {"src/SETUP.EX": one_member(b"from .EX"), "src/SETUP.EX.LSZ": one_member(b"no")},
             (r"{src}", r"{out}", "SETUP.EX"), 1, expect={"out/A.TXT": b"from .EX"}),
        Case("dot_in_directory_counts",
             {"src/X.Y/Z": one_member(b"from Z"), "src/X.Y/Z.LSZ": one_member(b"from Z.LSZ")},
             (r"{src}\X.Y", r"{out}", "Z"), 1, expect={"out/A.TXT": b"from Z"}),
    ]


def directory_cases():
    return [
        Case("source_dir_with_trailing_backslash", {SETUP: one_member(b"a")},
             ("{src}\\", "{out}\\", "SETUP"), 1, expect={"out/A.TXT": b"a"}),
        Case("empty_source_dir_is_current_dir", {SETUP: one_member(b"a")},
             ("", r"{out}", "SETUP"), 1, cwd="src", expect={"out/A.TXT": b"a"}),
        Case("empty_dirs_both_current_dir", {SETUP: one_member(b"a")},
             ("", "", "SETUP"), 1, cwd="src",
             expect={"src/A.TXT": b"a", SETUP: one_member(b"a")}),
        Case("missing_source", {}, (r"{src}", r"{out}", "NOPE"), 0,
             boxes=[(OPEN_FAILED, r"{src}\NOPE.LSZ")]),
        Case("missing_source_without_owner", {}, (r"{src}", r"{out}", "NOPE"), 0,
             boxes=[(OPEN_FAILED, r"{src}\NOPE.LSZ")], owner=False),
        Case("missing_output_dir", {SETUP: one_member(b"a")},
             (r"{src}", r"{case}\nodir", "SETUP"), 0,
             boxes=[(CREATE_FAILED, r"{case}\nodir\A.TXT")]),
    ]


def plain_copy_cases():
    near_signature = SIGNATURE[:5] + b"\x02" + bytes(range(256)) * 20  # > one 2048-byte block
    big_endian = bytes([0xFF, 0xFF, 0xF0, 0x37, 0x03, 0x00]) + b"rest"
    return [
        Case("plain_copy_keeps_first_six_bytes", {"src/README.TXT": near_signature},
             (r"{src}", r"{out}", "README.TXT", "COPY.TXT"), 1,
             expect={"out/COPY.TXT": near_signature}),
        Case("plain_copy_of_big_endian_signature", {"src/BE.BIN": big_endian},
             (r"{src}", r"{out}", "BE.BIN", "COPY.BIN"), 1, expect={"out/COPY.BIN": big_endian}),
        Case("plain_copy_of_file_shorter_than_signature", {"src/AB.TXT": b"ab"},
             (r"{src}", r"{out}", "AB.TXT", "COPY.TXT"), 1, expect={"out/COPY.TXT": b"ab"}),
        Case("plain_file_without_alt_name", {"src/AB.TXT": b"ab"},
             (r"{src}", r"{out}", "AB.TXT"), 0, boxes=[(INTERNAL, r"{src}\AB.TXT")]),
    ]


def walk_cases():
    return [
        Case("signature_only", {SETUP: archive()}, DEFAULT_CALL, 1),
        Case("short_tail_ignored", {SETUP: archive(member("A.TXT", b"a"), tail=b"x" * 50)},
             DEFAULT_CALL, 1, expect={"out/A.TXT": b"a"}),
        Case("empty_stored_member_then_next",
             {SETUP: archive(member("EMPTY.TXT", b"", when=SUMMER_2001), GOOD)},
             DEFAULT_CALL, 1,
             expect={"out/EMPTY.TXT": (b"", SUMMER_2001), "out/GOOD.TXT": b"good"}),
        Case("method_7_stops_after_creating_its_file",
             {SETUP: archive(member("A.TXT", b"first"), member("B.TXT", b"xx", method=7), GOOD)},
             DEFAULT_CALL, 0, boxes=[(INTERNAL, ARCHIVE)],
             expect={"out/A.TXT": b"first", "out/B.TXT": b""}),
        Case("method_0x0201_is_unknown",
             {SETUP: archive(member("B.TXT", b"xx", method=0x0201), GOOD)},
             DEFAULT_CALL, 0, boxes=[(INTERNAL, ARCHIVE)], expect={"out/B.TXT": b""}),
        Case("four_byte_imploded_member_fails_and_walk_goes_on",
             {SETUP: archive(member("A.TXT", b"\x00\x06\x00\x00", method=EXPLODED,
                                    when=SUMMER_2001), GOOD)},
             DEFAULT_CALL, 1, boxes=[(INTERNAL, ARCHIVE)],
             expect={"out/A.TXT": (b"", SUMMER_2001), "out/GOOD.TXT": b"good"}),
        # Wine running as root writes into a read-only file anyway; the attribute check tells.
        Case("readonly_output_overwritten", {SETUP: one_member(b"new"), "out/A.TXT": b"old"},
             DEFAULT_CALL, 1, readonly=("out/A.TXT",), expect={"out/A.TXT": b"new"}),
        # Wine keeps a directory's read-only attribute as the owner's write permission.
        Case("member_named_as_a_directory_leaves_its_attributes_alone",
             {SETUP: archive(member("SUB", b"x"), GOOD)}, DEFAULT_CALL, 0,
             boxes=[(CREATE_FAILED, r"{out}\SUB")], readonly_dirs=("out/SUB",)),
        Case("longer_output_cut_to_new_length",
             {SETUP: one_member(b"short"), "out/A.TXT": b"L" * 5000}, DEFAULT_CALL, 1,
             expect={"out/A.TXT": b"short"}),
        Case("stored_member_cut_short_reported_walk_ends",
             {SETUP: archive(GOOD, member("A.TXT", b"part", size=5000))},
             DEFAULT_CALL, 1, boxes=[(INTERNAL, ARCHIVE)],
             expect={"out/GOOD.TXT": b"good", "out/A.TXT": (b"part", NOON_1995)}),
        # A size that wraps the next header position back to 6 would loop for ever. Such a
        # member's data are cut short by the end of the file, so it is reported.
        Case("size_wrapping_to_first_header_ends_walk",
             {SETUP: archive(member("A.TXT", b"tail", size=0x100000000 - 51))},
             DEFAULT_CALL, 1, boxes=[(INTERNAL, ARCHIVE)], expect={"out/A.TXT": b"tail"},
             timeout=20),
        Case("size_past_2gib_ends_walk",
             {SETUP: archive(member("A.TXT", b"tail", size=0x7FFFFFFF - 56), GOOD)},
             DEFAULT_CALL, 1, boxes=[(INTERNAL, ARCHIVE)], expect={"out/A.TXT": b"tail" + GOOD}),
    ]


BAD_NAMES = [("backslash", b"..\\EVIL.TXT"), ("slash", b"SUB/EVIL.TXT"), ("colon", b"C:EVIL.TXT"),
             ("dot", b"."), ("dotdot", b".."), ("empty", b""), ("no_nul", b"ABCDEFGHIJKLMNOPQRS"),
             ("con", b"CON"), ("prn_txt", b"prn.txt"), ("com1", b"COM1"), ("lpt9", b"lpt9"),
             ("aux_ext", b"Aux.Dat"), ("nul", b"nul")]


def bad_name_cases():
    cases = []
    for label, name in BAD_NAMES:
        bad = member("", b"evil", raw_name=name if len(name) == 19 else name + b"\0")
        cases.append(Case("bad_member_name_" + label, {SETUP: archive(bad, GOOD)}, DEFAULT_CALL,
                          1, boxes=[(INTERNAL, ARCHIVE)], expect={"out/GOOD.TXT": b"good"}))
    return cases


def time_cases():
    new_york = {"TZ": "America/New_York"}
    return [
        Case("dos_time_is_utc_in_another_zone",
             {SETUP: archive(member("WINTER.TXT", b"w"), member("SUMMER.TXT", b"s",
                                                                when=SUMMER_2001))},
             DEFAULT_CALL, 1, unix_env=new_york,
             expect={"out/WINTER.TXT": (b"w", NOON_1995), "out/SUMMER.TXT": (b"s", SUMMER_2001)}),
    ]


def imploded_cases(stream):
    return [
        Case("imploded_member_unpacked",
             {SETUP: archive(member("TEXT.TXT", stream, method=EXPLODED, when=SUMMER_2001))},
             DEFAULT_CALL, 1, expect={"out/TEXT.TXT": (TEXT, SUMMER_2001)}),
        Case("crc_mismatch_reported_file_complete_walk_goes_on",
             {SETUP: archive(member("TEXT.TXT", stream, method=EXPLODED, when=SUMMER_2001,
                                    crc=0x12345678), GOOD)},
             DEFAULT_CALL, 1, boxes=[(INTERNAL, ARCHIVE)],
             expect={"out/TEXT.TXT": (TEXT, SUMMER_2001), "out/GOOD.TXT": b"good"}),
    ]


wine = None
lsz = None


def setUpModule():
    global wine, lsz
    tools = os.environ.get("SQ_NATIVE_TOOLS_DIR")
    lsz = find_lsz(tools)
    if tools and not lsz:
        raise RuntimeError("SQ_NATIVE_TOOLS_DIR is set but holds no lsz: " + tools)
    wine = winharness.WineSession()
    wine.open()


def tearDownModule():
    wine.close()


def windows_path(case_dir, text):
    return (text.replace("{src}", winharness.to_windows_path(os.path.join(case_dir, "src")))
            .replace("{out}", winharness.to_windows_path(os.path.join(case_dir, "out")))
            .replace("{case}", winharness.to_windows_path(case_dir)))


def listing(directory):
    """Every file below directory, as paths relative to it with '/' separators."""
    found = set()
    for root, _, files in os.walk(directory):
        for name in files:
            found.add(os.path.relpath(os.path.join(root, name), directory).replace(os.sep, "/"))
    return found


class ExtractFile(unittest.TestCase):
    def prepare(self, case):
        case_dir = wine.work_dir(case.name)
        os.makedirs(os.path.join(case_dir, "src"))
        os.makedirs(os.path.join(case_dir, "out"))
        for path, data in case.files.items():
            full = os.path.join(case_dir, path)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "wb") as file:
                file.write(data)
        for path in case.readonly:
            os.chmod(os.path.join(case_dir, path), stat.S_IRUSR | stat.S_IRGRP)
        for path in case.readonly_dirs:
            os.makedirs(os.path.join(case_dir, path))
            os.chmod(os.path.join(case_dir, path), 0o555)
        return case_dir

    def run_case(self, case):
        case_dir = self.prepare(case)
        started = time.time()
        args = ["--owner"] if case.owner else []
        args += [winharness.to_windows_path(os.environ["UNSQUISH_DLL"])]
        args += [windows_path(case_dir, a) for a in case.call]
        result = wine.run_windows_program(
            os.environ["SQCALL_EXE"], args, unix_env=case.unix_env, timeout=case.timeout,
            cwd=os.path.join(case_dir, case.cwd) if case.cwd else None)
        self.assertFalse(result.timed_out, "the call did not end")
        self.assertNotIn(result.exit_code, LOAD_FAILURES, LOAD_FAILURES.get(result.exit_code))
        self.assertEqual(result.exit_code, case.result)
        owner = OWNER if case.owner else None
        expected_boxes = [(CAPTION, text % windows_path(case_dir, arg), "stop", owner)
                          for text, arg in case.boxes]
        self.assertEqual(result.box_summary(), expected_boxes)
        self.check_files(case, case_dir, started)
        for path in case.readonly:
            mode = os.stat(os.path.join(case_dir, path)).st_mode
            self.assertTrue(mode & stat.S_IWUSR, path + " still read-only")
        for path in case.readonly_dirs:
            mode = os.stat(os.path.join(case_dir, path)).st_mode
            self.assertFalse(mode & stat.S_IWUSR, path + " lost its read-only attribute")

    def check_files(self, case, case_dir, started):
        for path, expected in case.expect.items():
            data, when = expected if isinstance(expected, tuple) else (expected, None)
            full = os.path.join(case_dir, path)
            self.assertTrue(os.path.isfile(full), path + " missing")
            # Looked at before the file is read, which may move the access time on.
            times = os.stat(full)
            with open(full, "rb") as file:
                self.assertEqual(file.read(), data, path)
            if when:
                self.assertEqual(int(times.st_mtime), calendar.timegm(when), path)
                # Only the last-write time is set: the access time stays the one the file
                # got when it was made during this call.
                self.assertGreaterEqual(times.st_atime, started - 2, path + " access time")
        # Nothing else may appear anywhere in the case's directory.
        unexpected = listing(case_dir) - set(case.expect) - set(case.files)
        self.assertEqual(unexpected, set(), "files nobody asked for")

    def run_table(self, cases):
        for case in cases:
            with self.subTest(case.name):
                self.run_case(case)

    def test_extension_rule(self):
        self.run_table(extension_cases())

    def test_directories_and_missing_paths(self):
        self.run_table(directory_cases())

    def test_plain_copy(self):
        self.run_table(plain_copy_cases())

    def test_archive_walk(self):
        self.run_table(walk_cases())

    def test_member_names_that_are_not_plain_file_names(self):
        self.run_table(bad_name_cases())

    def test_times_are_utc_whatever_the_zone(self):
        # Guard: the zone must reach Wine's processes, or a local-time fault would not show.
        report = os.path.join(wine.work_dir("zone"), "probe.json")
        wine.run_windows_program(wine.helper("stage2probe.exe"), unix_env={"TZ": "America/New_York"},
                                 env={"STAGE2PROBE_REPORT": winharness.to_windows_path(report)})
        with open(report) as file:
            self.assertIn('"tzbias":300,', file.read())
        self.run_table(time_cases())

    def test_imploded_members(self):
        if not lsz:
            self.skipTest("no lsz: configure with -DSQ_NATIVE_TOOLS_DIR=<native tree>/tools")
        self.run_table(imploded_cases(imploded_stream(lsz, TEXT)))


class Registration(unittest.TestCase):
    """The library registers with MFC when a process loads it, and at no other time."""

    def test_registers_once_when_a_process_loads_it(self):
        work = wine.work_dir("registration")
        for built in (os.environ["UNSQUISH_DLL"], os.environ["MFC30_RECORDING_DLL"]):
            shutil.copy(built, work)
        library = winharness.to_windows_path(os.path.join(work, os.path.basename(
            os.environ["UNSQUISH_DLL"])))
        run = wine.wine([os.environ["SQATTACH_EXE"], library], check=False)
        self.assertEqual(run.returncode, 0, run.stdout)
        steps = {}
        for line in run.stdout.splitlines():
            key, _, value = line.strip().partition("=")
            if key in ("unsquish", "loaded", "thread", "unloaded"):
                steps[key] = value
        # Module initialisation (588) with the record and the module handle, then the
        # library object's constructor (298) on a fresh object for the same record.
        calls = re.fullmatch(r"588 record=(\w+) module=(\w+);298 object=(\w+) record=(\w+);",
                             steps.get("loaded", ""))
        self.assertTrue(calls, run.stdout)
        record, module, library_object, constructed_for = calls.groups()
        self.assertEqual(module, steps["unsquish"])
        self.assertEqual(constructed_for, record)
        self.assertNotEqual(int(library_object, 16), 0)
        self.assertNotEqual(library_object, record)
        # Thread notifications and the unload add nothing.
        self.assertEqual(steps["thread"], steps["loaded"])
        self.assertEqual(steps["unloaded"], steps["loaded"])


if __name__ == "__main__":
    unittest.main(verbosity=2)
