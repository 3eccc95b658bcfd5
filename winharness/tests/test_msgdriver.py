"""Self-test of the Wine harness: msgdriver records boxes, answers them, passes the command
line, directory and environment, and the helper programs report what they saw."""

import json
import os
import struct
import subprocess
import time
import unittest

import winharness

OWNER = ("boxdemo owner", "BoxDemoOwner")
MB_YESNO, IDYES, IDNO = 0x4, 6, 7
SW_SHOWMINIMIZED = 2

wine = None


def setUpModule():
    global wine
    wine = winharness.WineSession()
    wine.open()


def tearDownModule():
    wine.close()


def boxdemo(*steps):
    return wine.helper("boxdemo.exe"), list(steps)


def read_json_lines(path):
    with open(path, encoding="latin-1") as file:
        return [json.loads(line) for line in file if line.strip()]


def read_bytes(path):
    with open(path, "rb") as file:
        return file.read()


def png_size(path):
    header = read_bytes(path)[:24]
    assert header[:8] == b"\x89PNG\r\n\x1a\n", path
    return struct.unpack(">II", header[16:24])


def rgb_pixels(path):
    return subprocess.run(["convert", path, "rgb:-"], check=True, stdout=subprocess.PIPE).stdout


def wait_for(predicate, seconds=10.0):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.05)
    return predicate()


class MessageBoxRecording(unittest.TestCase):
    def test_owned_and_unowned_boxes_in_order_with_exit_code(self):
        exe, args = boxdemo("3", "box", "owned", "0x30", "First caption", "First text",
                            "box", "free", "0x40", "Second caption", "Second\\ntext")
        result = wine.run_windows_program(exe, args)
        self.assertEqual(result.box_summary(), [
            ("First caption", "First text", "exclamation", OWNER),
            ("Second caption", "Second\ntext", "information", None),
        ])
        self.assertEqual(result.exit_code, 3)
        self.assertFalse(result.timed_out)

    def test_every_icon_kind_is_told_apart(self):
        # Wine loads the system icons anew in each process, so the driver compares pictures.
        cases = [("0x10", "stop"), ("0x20", "question"), ("0x30", "exclamation"),
                 ("0x40", "information"), ("0x0", "none"), ("0x12", "stop")]
        steps = []
        for style, _ in cases:
            steps += ["box", "free", style, "icon " + style, "text"]
        result = wine.run_windows_program(*boxdemo("0", *steps))
        self.assertEqual([(b.caption, b.icon) for b in result.boxes],
                         [("icon " + style, icon) for style, icon in cases])

    def test_answers_choose_the_button(self):
        table = [  # answers given, expected exit code (the last box's result)
            ((IDNO,), IDNO),
            ((), IDYES),  # a box without OK gets its first button
        ]
        for answers, expected in table:
            with self.subTest(answers=answers):
                exe, args = boxdemo("last", "box", "free", str(MB_YESNO), "Ask", "Sure?")
                result = wine.run_windows_program(exe, args, answers=answers)
                self.assertEqual([b.buttons for b in result.boxes], [["&Yes", "&No"]])
                self.assertEqual(result.exit_code, expected)

    def test_time_limit_ends_the_program(self):
        report = os.path.join(wine.work_dir("timeout"), "held.json")
        result = wine.run_windows_program(wine.helper("holdwin.exe"),
                                          ["Never ends", winharness.to_windows_path(report), "60"],
                                          timeout=2)
        self.assertTrue(result.timed_out)
        self.assertEqual(result.exit_code, 259)
        self.assertEqual([w["title"] for w in result.windows], ["Never ends"])

    def test_screenshot_while_a_box_is_shown(self):
        shots = wine.work_dir("shots")
        wine.run_windows_program(*boxdemo("0", "box", "free", "0x10", "Shot", "Picture"),
                                 shots_dir=shots)
        after = wine.screenshot(os.path.join(shots, "after.png"))
        self.assertEqual(sorted(os.listdir(shots)), ["after.png", "box-1.png"])
        self.assertEqual(png_size(os.path.join(shots, "box-1.png")), (1024, 768))
        # The box is on the first picture only: their pixels must differ.
        self.assertNotEqual(rgb_pixels(os.path.join(shots, "box-1.png")), rgb_pixels(after))


class ChildSurroundings(unittest.TestCase):
    def test_command_line_directory_and_environment_reach_the_child(self):
        work = wine.work_dir("probe")
        report = os.path.join(work, "report.json")
        cwd = wine.work_dir("probe cwd")
        open(os.path.join(cwd, "seen.txt"), "wb").write(b"abc")
        result = wine.run_windows_program(
            wine.helper("stage2probe.exe"), ["plain", "with space", "", "/S", "A:\\"], cwd=cwd,
            env={"STAGE2PROBE_REPORT": winharness.to_windows_path(report),
                 "STAGE2PROBE_VARS": "TEMP,TMP,EXTRA", "STAGE2PROBE_EXIT": "5",
                 "TEMP": r"C:\probe temp", "TMP": None, "EXTRA": "x=y"},
            show=SW_SHOWMINIMIZED)
        self.assertEqual(result.exit_code, 5)
        [probe] = read_json_lines(report)
        self.assertEqual(probe["argv"][1:], ["plain", "with space", "", "/S", "A:\\"])
        self.assertEqual(probe["cwd"], winharness.to_windows_path(cwd))
        self.assertEqual(probe["env"], {"TEMP": r"C:\probe temp", "TMP": None, "EXTRA": "x=y"})
        [seen] = probe["cwdfiles"]
        self.assertEqual((seen["name"], seen["size"], seen["crc32"]), ("seen.txt", 3, 0x352441C2))
        self.assertIn("stage2probe.exe", [f["name"] for f in probe["modulefiles"]])


class HeldWindow(unittest.TestCase):
    def test_holdwin_reports_what_another_program_did_to_it(self):
        report = os.path.join(wine.work_dir("holdwin"), "held.json")
        wine.start_program(wine.helper("holdwin.exe"),
                           ["Orvello Test Window", winharness.to_windows_path(report), "30"])
        first = wait_for(lambda: os.path.exists(report) and read_json_lines(report))
        self.assertEqual(first[0]["maximized"], False)
        result = wine.run_windows_program(*boxdemo("0", "maximize", "Orvello Test Window"))
        self.assertEqual(result.exit_code, 0)
        state = wait_for(lambda: read_json_lines(report)[0]["maximized"] and read_json_lines(report))
        self.assertEqual(state[0]["maximized"], True)
        self.assertEqual(state[0]["foreground"], True)
        open(report + ".stop", "w").close()
        ended = wait_for(lambda: read_json_lines(report)[0]["ended"] and read_json_lines(report))
        self.assertEqual(ended[0]["ended"], True)


class WindowsVersion(unittest.TestCase):
    def probe_version(self):
        report = os.path.join(wine.work_dir("version"), "report.json")
        wine.run_windows_program(wine.helper("stage2probe.exe"),
                                 env={"STAGE2PROBE_REPORT": winharness.to_windows_path(report)})
        major, minor, _, platform = read_json_lines(report)[0]["winver"]
        return major, minor, platform

    def test_version_is_set_for_one_program_and_put_back(self):
        before = self.probe_version()
        table = [("win95", (4, 0, 1)), ("nt351", (3, 51, 2)), ("nt40", (4, 0, 2))]
        for version, expected in table:
            with self.subTest(version=version):
                with wine.windows_version(version, exe="stage2probe.exe"):
                    self.assertEqual(self.probe_version(), expected)
                self.assertEqual(self.probe_version(), before)


if __name__ == "__main__":
    unittest.main(verbosity=2)
