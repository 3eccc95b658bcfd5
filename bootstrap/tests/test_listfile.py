#!/usr/bin/env python3
"""SETUP.EXE under Wine: the setup list file from start to end, and the line and token rules
whose faults would show on real media."""
import os
import zlib

from medium import (BootstrapCase, DELIVERABLES, fixture, lz_pack, main, read_file,
                    stored_archive)

PRODUCT_LIST = ("[Params]\n"
                  "WndTitle = Product Setup\n"
                  "WndMess = Copying setup files...\n"
                  "TmpDirName = ~INSTTMP\n"
                  "TmpDirSize = 1500\n"
                  "CmdLine = RUNINST.EXE\n"
                  "\n"
                  "[Files]\n"
                  "SETUP.LSZ\n"
                  "readme.tx_ = README.TXT\n"
                  "[MFCDLL]\n"
                  "SYSLIB.DL_ = SYSLIB.DLL\n")


def names(files):
    return sorted(f["name"] for f in files)


class ProductMedium(BootstrapCase):
    def test_settings_files_and_libraries_from_start_to_end(self):
        self.make_medium(PRODUCT_LIST, second_stage=None)
        probe = read_file(self.wine.helper("stage2probe.exe"))
        data = b"member data\r\n" * 50
        self.put("SETUP.LSZ", stored_archive([("RUNINST.EXE", probe, 0x2821, 0x6000),
                                              ("DATA.BIN", data, 0x2821, 0x6000)]))
        readme = b"Read me first.\r\n" * 100
        self.put("README.SRC", readme)
        lz_pack(os.path.join(self.medium, "README.SRC"), os.path.join(self.medium, "readme.tx_"))
        os.remove(os.path.join(self.medium, "README.SRC"))
        lz_pack(fixture("mfc30_v3_1_0_0.DLL"), os.path.join(self.medium, "SYSLIB.DL_"))

        result = self.run_setup()
        self.assertEqual(result.box_summary(), [])
        report = self.only_stage2_report()
        staging = self.win(self.temp) + "\\~INSTTMP"
        self.assertEqual(report["commandline"],
                         staging + "\\RUNINST.EXE /S " + self.medium_dir_windows())
        self.assertEqual(report["cwd"], staging)
        files = {f["name"]: f for f in report["cwdfiles"]}
        # SYSLIB.DLL was staged, installed and deleted again before the launch.
        self.assertEqual(sorted(files), ["DATA.BIN", "README.TXT", "RUNINST.EXE", "UNSQUISH.DLL"])
        self.assertEqual(files["README.TXT"]["crc32"], zlib.crc32(readme))
        self.assertEqual(files["DATA.BIN"]["crc32"], zlib.crc32(data))

        self.assertEqual(self.temp_entries(), [])
        self.assertEqual(read_file(self.installed("SYSLIB.DLL")),
                         read_file(fixture("mfc30_v3_1_0_0.DLL")))
        self.assertEqual(read_file(self.installed("mfc30.dll")),
                         read_file(os.path.join(DELIVERABLES, "MFC30.DLL")))


class ListFileName(BootstrapCase):
    def test_list_file_is_named_after_the_program(self):
        # A dot in the directory name does not end the program's base name.
        self.medium = os.path.join(self.case, "Disk.1")
        os.makedirs(self.medium)
        self.make_medium("[Params]\nTmpDirName = ~BOOT\nCmdLine = RUNINST.EXE\n[Files]\n"
                         "STAGE2.LSZ\n[MFCDLL]\nVERLIB.DL_ = VERLIB.DLL\n",
                         setup_name="BOOT.EXE", second_stage=None)
        self.write_list("[Params]\nTmpDirName = ~WRONG\nCmdLine = WRONG.EXE\n[Files]\n"
                        "NOSUCH.LSZ\n[MFCDLL]\nNOSUCH.DL_ = X.DLL\n", "SETUP.LST")
        self.add_second_stage_archive()
        lz_pack(fixture("mfc30_v3_1_0_0.DLL"), os.path.join(self.medium, "VERLIB.DL_"))
        result = self.run_setup(setup_name="BOOT.EXE")
        self.assertEqual(result.box_summary(), [])
        self.assertEqual(self.only_stage2_report()["cwd"], self.win(self.temp) + "\\~BOOT")
        self.assertEqual(read_file(self.installed("VERLIB.DLL")),
                         read_file(fixture("mfc30_v3_1_0_0.DLL")))


class LineAndTokenRules(BootstrapCase):
    def test_keys_without_blanks_split_lines_and_an_unterminated_last_line(self):
        long_line = "x" * 255 + "CmdLine = RUNINST.EXE /X=1".ljust(45)
        self.assertEqual(len(long_line), 300)
        text = ("[params]\n"
                "TmpDirName=Stage Dir\n"   # "Stage" is taken as the separator and lost
                + long_line + "\n"         # 255 characters, then a CmdLine line of 45
                "[FILES]\n"
                "STAGE2.LSZ\n"
                "LAST.LSZ")                # no line feed: never handled (and not on the media)
        self.make_medium(None)
        self.write_list(text)
        self.add_second_stage_archive()
        result = self.run_setup()
        self.assertEqual(result.box_summary(), [])
        report = self.only_stage2_report()
        staging = self.win(self.temp) + "\\Dir"
        self.assertEqual(report["cwd"], staging)
        self.assertEqual(report["argv"],
                         [staging + "\\RUNINST.EXE", "/X", "/S", self.medium_dir_windows()])
        self.assertEqual(self.temp_entries(), [])

    def test_files_header_with_a_trailing_blank_starts_no_files_section(self):
        self.make_medium("[Params]\nTmpDirName = ~T\nCmdLine = RUNINST.EXE\n[Files] \n"
                         "STAGE2.LSZ\n", second_stage=None)
        self.add_second_stage_archive()
        result = self.run_setup()
        # Nothing was expanded, so the second stage cannot start; nothing is reported.
        self.assertEqual(result.box_summary(), [])
        self.assertEqual(self.stage2_reports(), [])
        self.assertEqual(self.temp_entries(), [])

    def test_mfcdll_header_before_files_header_ends_both_passes(self):
        # Between [MFCDLL] and [Files], "TmpDirName = ~LATER" would be a setting to a pass
        # that read past [MFCDLL]; the [MFCDLL] pass takes it for an entry (TMPDIRNAME, not
        # on the media), which fails and stops that pass. The [Files] entry after it is on
        # no medium either: a files pass that read past [MFCDLL] would report it.
        self.make_medium("[Params]\nTmpDirName = ~FIRST\nCmdLine = RUNINST.EXE\n[MFCDLL]\n"
                         "STAGE2.LSZ\nTmpDirName = ~LATER\n[Files]\nNOFILE.TX_ = NOFILE.TXT\n",
                         second_stage=None)
        self.add_second_stage_archive()
        result = self.run_setup()
        self.assertEqual([(b.caption, b.text) for b in result.boxes],
                         [("Decompression Error", "The source file handle is not valid."),
                          ("Error", "Failed to copy MFC DLLs")])
        report = self.only_stage2_report()
        self.assertEqual(report["cwd"], self.win(self.temp) + "\\~FIRST")

    def test_without_a_list_file_every_setting_keeps_its_default(self):
        self.make_medium(None)
        result = self.run_setup()
        # No TmpDirName: the first name is TEMP itself, which exists, so the reserved name
        # is used; no CmdLine: nothing is started. The files pass cannot open the list file.
        self.assertEqual([(b.caption, b.text) for b in result.boxes],
                         [("Error", "Error, big"), ("Error", "Failed to copy MFC DLLs")])
        self.assertEqual(self.stage2_reports(), [])
        self.assertEqual(self.temp_entries(), [])


if __name__ == "__main__":
    main()
