#!/usr/bin/env python3
"""SETUP.EXE under Wine: the second stage's command line, current directory and environment,
programs that cannot start, the wait for the second stage, and the clean-up after it."""
import os
import shutil

from medium import main, BootstrapCase, fixture, lz_pack


class CommandLine(BootstrapCase):
    def launch(self, cmd_line_line, env=None):
        self.make_medium(self.basic_list(params="TmpDirName = ~STAGE\n" + cmd_line_line),
                         second_stage=None)
        self.add_second_stage_archive()
        result = self.run_setup(env=env)
        self.assertEqual(result.box_summary(), [])
        self.assertEqual(self.temp_entries(), [])
        return self.stage2_reports()

    def test_arguments_stand_before_the_source_switch(self):
        [report] = self.launch("CmdLine = RUNINST.EXE /Q\n", env={"STAGECHECK": "inherited"})
        staging = self.win(self.temp) + "\\~STAGE"
        self.assertEqual(report["commandline"],
                         staging + "\\RUNINST.EXE /Q /S " + self.medium_dir_windows())
        self.assertEqual(report["module"], staging + "\\RUNINST.EXE")
        self.assertEqual(report["cwd"], staging)
        self.assertEqual(report["startup"], [1, 1])  # STARTF_USESHOWWINDOW, SW_SHOWNORMAL
        self.assertEqual(report["env"]["STAGECHECK"], "inherited")
        self.assertEqual(report["env"]["TEMP"], self.win(self.temp))
        self.assertEqual(sorted(f["name"] for f in report["cwdfiles"]),
                         ["RUNINST.EXE", "UNSQUISH.DLL"])

    def test_program_names_that_start_nothing(self):
        cases = [  # CmdLine line; nothing is reported and the staging directory goes away
            ("no CmdLine line", ""),
            # UNSQUISH.DLL lies in the staging directory but is no program.
            ("a library in the staging directory", "CmdLine = UNSQUISH.DLL\n"),
            ("a program not in the staging directory", "CmdLine = MISSING.EXE\n"),
        ]
        for name, line in cases:
            with self.subTest(name):
                self.fresh(name.split()[1])
                self.assertEqual(self.launch(line), [])

    def test_empty_cmdline_value_starts_the_default_program(self):
        [report] = self.launch("CmdLine =\n")
        self.assertTrue(report["module"].endswith("\\~STAGE\\RUNINST.EXE"), report["module"])


class BlanksInPaths(BootstrapCase):
    def test_blanks_in_staging_and_source_paths_are_passed_unquoted(self):
        # A program named by the part of the staging path before its blank must not start.
        temp = os.path.join(self.case, "My Temp")
        os.makedirs(temp)
        shutil.copyfile(self.wine.helper("stage2probe.exe"), os.path.join(self.case, "My.exe"))
        self.medium = os.path.join(self.case, "Disk 1")
        os.makedirs(self.medium)
        self.make_medium(self.basic_list(), second_stage=None)
        self.add_second_stage_archive()
        result = self.run_setup(env={"TEMP": self.win(temp)})
        self.assertEqual(result.box_summary(), [])
        [report] = self.stage2_reports()
        staging = self.win(temp) + "\\~STAGE"
        self.assertEqual(report["module"], staging + "\\RUNINST.EXE")
        self.assertEqual(report["commandline"],
                         staging + "\\RUNINST.EXE /S " + self.win(self.medium) + "\\")

    def test_command_line_over_255_characters_is_not_started(self):
        self.medium = os.path.join(self.case, "m" * (200 - len(self.win(self.case))))
        os.makedirs(self.medium)
        self.make_medium(self.basic_list(), second_stage=None)
        self.add_second_stage_archive()
        # MFC30.DL_ cannot be opened on these media (the LZ service takes at most 127
        # characters), so an installed MFC30.DLL serves.
        shutil.copyfile(fixture("mfc30_v3_0_0_1.DLL"), self.installed("mfc30.dll"))
        result = self.run_setup()
        self.assertEqual([(b.caption, b.text) for b in result.boxes],
                         [("Decompression Error", "The source file handle is not valid.")])
        self.assertEqual(self.stage2_reports(), [])
        self.assertEqual(self.temp_entries(), [])


class DriveRoot(BootstrapCase):
    def test_setup_at_a_drive_root_passes_the_bare_root(self):
        link = os.path.join(self.wine.prefix, "dosdevices", "m:")
        if os.path.lexists(link):
            os.remove(link)
        os.symlink(self.medium, link)
        self.addCleanup(os.remove, link)
        self.make_medium(self.basic_list(), second_stage=None)
        self.add_second_stage_archive()
        result = self.wine.run_windows_program(
            "M:\\SETUP.EXE", cwd=self.case,
            env={"TEMP": self.win(self.temp), "STAGE2PROBE_REPORT": self.win(self.report)})
        self.assertEqual((result.exit_code, result.box_summary()), (0, []))
        [report] = self.stage2_reports()
        self.assertEqual(report["argv"][1:], ["/S", "M:\\"])


class Wait(BootstrapCase):
    def test_waits_for_the_second_stage_then_unloads_and_removes(self):
        self.make_medium(self.basic_list().replace("STAGE2.LSZ\n", "RUNINST.EX_ = RUNINST.EXE\n"),
                         second_stage=None)
        lz_pack(fixture("stage2files.EXE"), os.path.join(self.medium, "RUNINST.EX_"))
        done = os.path.join(self.case, "stage2.done")
        result = self.run_setup(env={"STAGE2_SLEEP": "3000", "STAGE2_DONE": self.win(done)})
        self.assertEqual(result.box_summary(), [])
        # The second stage had ended before SETUP.EXE did, and only then was the staging
        # directory, UNSQUISH.DLL included, removed.
        self.assertTrue(os.path.exists(done))
        self.assertEqual(self.temp_entries(), [])


if __name__ == "__main__":
    main()
