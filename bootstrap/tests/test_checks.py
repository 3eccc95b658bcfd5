#!/usr/bin/env python3
"""SETUP.EXE under Wine: the platform check by the Windows version that Wine reports, the
single-instance rule, and a start with arguments and a show state, which change nothing."""
import json
import os
import time

from medium import main, BootstrapCase, WINDOW_TITLE, stop_box

PLATFORM_TEXT = ('"Orvello 7.0 requires a platform of Windows 95 or Windows NT 3.5 or higher '
                 'version.\r\n\r\nExit Setup.')


class PlatformCheck(BootstrapCase):
    def test_qualifying_versions_run_to_the_second_stage(self):
        for version in ["win95", "win98", "nt351", "nt40"]:
            with self.subTest(version=version):
                self.fresh(version)
                self.make_medium(self.basic_list())
                self.add_second_stage_archive()
                with self.wine.windows_version(version, exe="SETUP.EXE"):
                    result = self.run_setup()
                self.assertEqual(result.box_summary(), [])
                self.assertEqual(len(self.stage2_reports()), 1)
                self.assertEqual(self.temp_entries(), [])

    def test_win32s_fails_before_anything_is_read_or_created(self):
        self.make_medium(self.basic_list())
        self.add_second_stage_archive()
        with self.wine.windows_version("win31", exe="SETUP.EXE"):
            result = self.run_setup()
        self.assertEqual(result.box_summary(), [stop_box(PLATFORM_TEXT)])
        self.assertEqual(self.stage2_reports(), [])
        self.assertEqual(self.temp_entries(), [])
        self.assertFalse(os.path.exists(self.installed("mfc30.dll")))


class SingleInstance(BootstrapCase):
    def test_open_setup_window_is_maximized_and_brought_forward(self):
        self.make_medium(self.basic_list())
        self.add_second_stage_archive()
        state_file = os.path.join(self.case, "holdwin.json")
        self.wine.start_program(self.wine.helper("holdwin.exe"),
                                [WINDOW_TITLE, self.win(state_file), "60"])
        deadline = time.monotonic() + 30
        while not os.path.exists(state_file) and time.monotonic() < deadline:
            time.sleep(0.1)
        with open(state_file) as file:
            before = json.load(file)
        self.assertFalse(before["maximized"])

        result = self.run_setup()
        self.assertEqual(result.box_summary(), [])
        self.assertEqual(self.stage2_reports(), [])
        self.assertEqual(self.temp_entries(), [])
        self.assertFalse(os.path.exists(self.installed("mfc30.dll")))
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            with open(state_file) as file:
                after = json.load(file)
            if after["maximized"] and after["foreground"]:
                break
            time.sleep(0.1)
        self.assertTrue(after["maximized"], after)
        self.assertTrue(after["foreground"], after)
        open(state_file + ".stop", "w").close()


class ProgressWindow(BootstrapCase):
    """A failing LZ entry keeps a box open while the progress window is up, so the driver
    sees the window every time."""

    def run_with_failing_entry(self, params, **kwargs):
        self.make_medium(self.basic_list(files="MISSING.TX_ = M.TXT\n", params=params),
                         second_stage=None)
        self.add_second_stage_archive()
        result = self.run_setup(**kwargs)
        windows = [w for w in result.windows if w["class"] == "#32770"]
        self.assertEqual(len(windows), 1, result.windows)
        return result, windows[0]

    def test_titles_from_the_list_file_replace_the_template_text(self):
        cases = [  # WndTitle and WndMess lines, title and message shown
            ("WndTitle = Product Setup\nWndMess = Copying files...\n", "Product Setup",
             "Copying files..."),
            ("", "", ""),  # the template's "Initializing Setup ... Please Wait" never shows
        ]
        for lines, title, message in cases:
            with self.subTest(title=title):
                self.fresh(str(len(title)))
                result, window = self.run_with_failing_entry(
                    lines + "TmpDirName = ~STAGE\nCmdLine = RUNINST.EXE\n")
                self.assertEqual(window["title"], title)
                self.assertEqual([(c["id"], c["class"], c["text"]) for c in window["controls"]],
                                 [(14348, "Static", message)])
                self.assertEqual(result.boxes[0].owner, (title, "#32770"))

    def test_arguments_and_show_state_change_nothing(self):
        params = "WndTitle = T\nTmpDirName = ~STAGE\nCmdLine = RUNINST.EXE\n"
        _, normal = self.run_with_failing_entry(params)
        self.fresh("again")
        _, minimized = self.run_with_failing_entry(params, args=["/Q", "C:\\ELSEWHERE"],
                                                   show=2)  # SW_SHOWMINIMIZED
        self.assertEqual(minimized["rect"], normal["rect"])
        report = self.only_stage2_report()
        staging = self.win(self.temp) + "\\~STAGE"
        self.assertEqual(report["commandline"],
                         staging + "\\RUNINST.EXE /S " + self.medium_dir_windows())
        # The second stage gets its own show state, not the one SETUP.EXE was given.
        self.assertEqual(report["startup"], [1, 1])


if __name__ == "__main__":
    main()
