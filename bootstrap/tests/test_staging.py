#!/usr/bin/env python3
"""SETUP.EXE under Wine: where the staging directory goes (TEMP, the Windows directory, the
drives), which name it gets, the fatal staging errors, and what the clean-up leaves."""
import os
import stat

from medium import BootstrapCase, RESERVED_1, RESERVED_2, fixture, lz_pack, main, stop_box

NO_PLACE = ("Setup cannot find a valid with enough disk space to proceed with the "
            "installatoin.\r\n\r\nExit Setup.")
CANNOT_CREATE = "Setup cannot create a temporary subdirectory ('%s').\r\n\r\nExit Setup."


class Location(BootstrapCase):
    def run_with_temp(self, temp_value):
        self.make_medium(self.basic_list(), second_stage=None)
        self.add_second_stage_archive()
        result = self.run_setup(env={"TEMP": temp_value})
        self.assertEqual(result.box_summary(), [])
        return self.only_stage2_report()["cwd"]

    def test_temp_candidates(self):
        long_temp = os.path.join(self.case, "l" * 120, "m" * 120)
        os.makedirs(long_temp)
        cases = [  # TEMP value, expected staging directory (None: in the Windows directory)
            ("unset", None, None),
            ("empty", "", None),
            ("trailing backslash", "TEMP\\", "TEMP\\~STAGE"),
            # No drive letter, so no free space; under Wine the probe already fails (no server).
            ("unc", "\\\\nosuchserver\\share\\temp", None),
            ("over 255 characters", self.win(long_temp), None),  # passed over, never cut
        ]
        for name, value, expected in cases:
            with self.subTest(temp=name):
                self.fresh(name.split()[0])
                if value == "TEMP\\":
                    value = self.win(self.temp) + "\\"
                    expected = self.win(self.temp) + "\\~STAGE"
                cwd = self.run_with_temp(value)
                self.assertEqual(cwd, expected or "C:\\windows\\~STAGE")
                self.assertFalse(os.path.exists(os.path.join(self.windows_dir, "~STAGE")))
                self.assertEqual(self.temp_entries(), [])

    def test_every_candidate_too_small(self):
        # 4194304 K is 2^32 bytes: held at the signed 32-bit limit, not wrapped to 0. Wine
        # reports at most 2 GB free to a Windows 95 program, as Windows 95 does.
        self.make_medium(self.basic_list(params="TmpDirSize = 4194304\nTmpDirName = ~S\n"
                                                "CmdLine = RUNINST.EXE\n"))
        self.add_second_stage_archive()
        with self.wine.windows_version("win95", exe="SETUP.EXE"):
            result = self.run_setup()
        self.assertEqual(result.box_summary(), [stop_box(NO_PLACE)])
        self.assertEqual(self.stage2_reports(), [])
        self.assertEqual(self.temp_entries(), [])
        self.assertFalse(os.path.exists(os.path.join(self.windows_dir, "~S")))


class Naming(BootstrapCase):
    def test_taken_names_move_on_to_the_reserved_ones(self):
        cases = [  # entries already in TEMP, expected staging directory
            (["~STAGE"], RESERVED_1),
            (["~STAGE", RESERVED_1], RESERVED_2),
        ]
        for taken, expected in cases:
            with self.subTest(taken=taken):
                self.fresh(str(len(taken)))
                self.make_medium(self.basic_list(), second_stage=None)
                self.add_second_stage_archive()
                self.put("~STAGE", b"a file, not a directory", self.temp)
                for name in taken[1:]:
                    os.makedirs(os.path.join(self.temp, name))
                result = self.run_setup()
                self.assertEqual(result.box_summary(), [])
                self.assertEqual(self.only_stage2_report()["cwd"],
                                 self.win(self.temp) + "\\" + expected)
                self.assertEqual(self.temp_entries(), sorted(taken))

    def test_both_reserved_names_taken_fails_the_writability_probe(self):
        self.make_medium(self.basic_list(), second_stage=None)
        self.add_second_stage_archive()
        for name in (RESERVED_1, RESERVED_2):
            os.makedirs(os.path.join(self.temp, name))
        result = self.run_setup()
        self.assertEqual(result.box_summary(), [])
        self.assertEqual(self.only_stage2_report()["cwd"], "C:\\windows\\~STAGE")
        self.assertEqual(self.temp_entries(), sorted([RESERVED_1, RESERVED_2]))

    def test_directory_that_cannot_be_created(self):
        self.make_medium(self.basic_list(params="TmpDirName = NOPARENT\\SUB\n"
                                                "CmdLine = RUNINST.EXE\n"))
        result = self.run_setup()
        path = self.win(self.temp) + "\\NOPARENT\\SUB"
        self.assertEqual(result.box_summary(), [stop_box(CANNOT_CREATE % path)])
        self.assertEqual(self.temp_entries(), [])
        self.assertFalse(os.path.exists(self.installed("mfc30.dll")))

    def test_staging_name_over_255_characters_is_refused_not_cut(self):
        # TEMP itself qualifies (the probe names fit); TEMP + the name does not fit in 255.
        deep = os.path.join(self.temp, "d" * (230 - len(self.win(self.temp)) - 1))
        os.makedirs(deep)
        name = "N" * 40
        self.make_medium(self.basic_list(params="TmpDirName = %s\nCmdLine = RUNINST.EXE\n"
                                                % name))
        temp_value = self.win(deep)
        self.assertLess(len(temp_value) + 13, 256)
        self.assertGreater(len(temp_value) + 1 + len(name), 255)
        result = self.run_setup(env={"TEMP": temp_value})
        self.assertEqual(len(result.boxes), 1)
        box = result.boxes[0]
        full = CANNOT_CREATE % (temp_value + "\\" + name)
        self.assertEqual((box.caption, box.icon, box.owner), ("Setup Error", "stop", None))
        self.assertEqual(box.text, full[:255])  # the message is cut to fit its buffer
        self.assertEqual(os.listdir(deep), [])


class CleanUp(BootstrapCase):
    def test_read_only_file_and_subdirectory_stay_behind(self):
        # The second stage is LZ-packed on the media; it leaves files behind in the staging
        # directory. UNSQUISH.DLL is gone too: it was unloaded before the removal.
        self.make_medium(self.basic_list().replace("STAGE2.LSZ\n", "RUNINST.EX_ = RUNINST.EXE\n"),
                         second_stage=None)
        lz_pack(fixture("stage2files.EXE"), os.path.join(self.medium, "RUNINST.EX_"))
        result = self.run_setup(env={"STAGE2_LEAVE": "1"})
        self.assertEqual(result.box_summary(), [])
        staging = os.path.join(self.temp, "~STAGE")
        self.assertEqual(sorted(os.listdir(staging)), ["READONLY.TXT", "SUBDIR"])
        os.chmod(os.path.join(staging, "READONLY.TXT"), stat.S_IWRITE | stat.S_IREAD)


if __name__ == "__main__":
    main()
