#!/usr/bin/env python3
"""SETUP.EXE under Wine: MFC30 installation and the loading of UNSQUISH.DLL, archive and LZ
entries with their failures, the [MFCDLL] pass and its version rules."""
import os
import shutil
import stat
import subprocess
import unittest
import zlib

from medium import (BootstrapCase, DELIVERABLES, LSZ, fixture, lz_pack, main, read_file,
                    stored_archive)

PROGRESS = ("Test Setup", "#32770")  # owner of the boxes shown while the window is up


def lz_box(text):
    return ("Decompression Error", text, "exclamation", PROGRESS)


def library_box(text):
    return ("Decompression Error", text, "stop", PROGRESS)


BAD_SOURCE = "The source file handle is not valid."
NO_LIBRARY = "Failed to load UNSQUISH.DLL."
NO_ENTRY = "Failed to locate decompression module in UNSQUISH.DLL."
ERROR_BIG = ("Error", "Error, big", "none", None)  # no caption given: the platform's "Error"
MFC_FAILED = ("Error", "Failed to copy MFC DLLs", "none", None)
MFC30 = os.path.join(DELIVERABLES, "MFC30.DLL")


class ExpansionLibrary(BootstrapCase):
    def test_mfc30_missing_everywhere_stops_after_the_load_fails(self):
        # Windows first shows its own Retry/Cancel prompt for the missing file; Wine does not.
        self.make_medium(self.basic_list(), mfc30=False, second_stage=None)
        self.add_second_stage_archive()
        result = self.run_setup()
        self.assertEqual(result.box_summary(), [lz_box(BAD_SOURCE), library_box(NO_LIBRARY)])
        self.assertEqual(self.stage2_reports(), [])
        # Wine keeps the file of a library whose load failed locked, so it and the staging
        # directory stay; Windows lets both be removed.
        self.assertEqual(os.listdir(os.path.join(self.temp, "~STAGE")), ["UNSQUISH.DLL"])
        self.assertFalse(os.path.exists(self.installed("mfc30.dll")))

    def test_mfc30_missing_on_the_media_but_installed_goes_on(self):
        shutil.copyfile(MFC30, self.installed("mfc30.dll"))
        self.make_medium(self.basic_list(), mfc30=False, second_stage=None)
        self.add_second_stage_archive()
        result = self.run_setup()
        self.assertEqual(result.box_summary(), [lz_box(BAD_SOURCE)])
        self.assertEqual(len(self.stage2_reports()), 1)

    def test_unsquish_missing_or_without_its_entry(self):
        cases = [  # file put on the media as UNSQUISH.DLL, the box
            ("missing", None, NO_LIBRARY),
            ("noexport", fixture("unsquish_noexport.DLL"), NO_ENTRY),
        ]
        for name, library, text in cases:
            with self.subTest(name):
                self.fresh(name)
                self.make_medium(self.basic_list(), unsquish=False, second_stage=None)
                self.add_second_stage_archive()
                if library:
                    shutil.copyfile(library, os.path.join(self.medium, "UNSQUISH.DLL"))
                result = self.run_setup()
                self.assertEqual(result.box_summary(), [library_box(text)])
                self.assertEqual(self.stage2_reports(), [])
                # Unloaded and removed with the staging directory.
                self.assertEqual(self.temp_entries(), [])
                self.assertEqual(read_file(self.installed("mfc30.dll")), read_file(MFC30))

    def test_installed_mfc30_is_kept_when_not_older(self):
        newer = fixture("mfc30_v3_1_0_0.DLL")
        shutil.copyfile(newer, self.installed("mfc30.dll"))
        self.make_medium(self.basic_list(), second_stage=None)
        self.add_second_stage_archive()
        result = self.run_setup()
        self.assertEqual(result.box_summary(), [])
        self.assertEqual(read_file(self.installed("mfc30.dll")), read_file(newer))
        # The staged copy was deleted before anything else was expanded.
        [report] = self.stage2_reports()
        self.assertNotIn("mfc30.dll", [f["name"].lower() for f in report["cwdfiles"]])


class Entries(BootstrapCase):
    def put_packed(self, name, data):
        source = self.put(name + ".src", data)
        lz_pack(source, os.path.join(self.medium, name))
        os.remove(source)

    def test_failing_files_pass_still_installs_and_launches(self):
        self.make_medium(self.basic_list(files="MISSING.TX_ = MISSING.TXT\nLATER.TX_ = LATER.TXT\n",
                                         mfcdll="VERLIB.DL_ = VERLIB.DLL\n"),
                         second_stage=None)
        self.add_second_stage_archive()
        self.put_packed("LATER.TX_", b"never reached\r\n" * 20)
        lz_pack(fixture("mfc30_v3_0_0_1.DLL"), os.path.join(self.medium, "VERLIB.DL_"))
        result = self.run_setup()
        self.assertEqual(result.box_summary(), [lz_box(BAD_SOURCE), ERROR_BIG])
        [report] = self.stage2_reports()
        self.assertEqual(sorted(f["name"] for f in report["cwdfiles"]),
                         ["RUNINST.EXE", "UNSQUISH.DLL"])
        self.assertEqual(read_file(self.installed("VERLIB.DLL")),
                         read_file(fixture("mfc30_v3_0_0_1.DLL")))

    def test_lz_target_that_cannot_be_created(self):
        # Windows reports this as -2 (text 14354); Wine as -4, which now has text 14360.
        cases = [  # target name, as written in the list file
            ("missing directory", "NODIR\\README.TXT"),
            # Beyond the 260-byte path buffer: reported like any target that cannot be made.
            ("path too long", "R" * 170 + ".TXT"),
        ]
        for name, target in cases:
            with self.subTest(name):
                self.fresh(name.split()[0])
                self.make_medium(self.basic_list(files="README.TX_ = %s\n" % target),
                                 second_stage=None)
                self.add_second_stage_archive()
                self.put_packed("README.TX_", b"text\r\n" * 40)
                result = self.run_setup()
                self.assertEqual(result.box_summary(),
                                 [lz_box("Failed to write output file."), ERROR_BIG])
                self.assertEqual(len(self.stage2_reports()), 1)
                self.assertEqual(self.temp_entries(), [])

    @unittest.skipUnless(os.access(LSZ, os.X_OK), "lsz of a native build tree not given")
    def test_archive_with_exploded_members_made_by_lsz(self):
        self.make_medium(self.basic_list(files="packed.lsz\n"), second_stage=None)
        self.add_second_stage_archive()
        text = b"".join(b"line %d of a text that compresses well\r\n" % i for i in range(3000))
        source = os.path.join(self.case, "BIG.TXT")
        with open(source, "wb") as file:
            file.write(text)
        subprocess.run([LSZ, "create", os.path.join(self.medium, "PACKED.LSZ"), source],
                       check=True, stdout=subprocess.DEVNULL)
        result = self.run_setup()
        self.assertEqual(result.box_summary(), [])
        [report] = self.stage2_reports()
        files = {f["name"]: f for f in report["cwdfiles"]}
        self.assertEqual((files["BIG.TXT"]["size"], files["BIG.TXT"]["crc32"]),
                         (len(text), zlib.crc32(text)))

    def test_archive_failure_is_reported_by_unsquish_alone(self):
        self.make_medium(self.basic_list(files="NOSUCH.LSZ\n"), second_stage=None)
        self.add_second_stage_archive()
        result = self.run_setup()
        self.assertEqual(len(result.boxes), 2)
        unsquish_box = result.boxes[0]
        self.assertEqual((unsquish_box.caption, unsquish_box.icon, unsquish_box.owner),
                         ("File Decompression Error", "stop", PROGRESS))
        self.assertEqual(result.box_summary()[1], ERROR_BIG)
        self.assertEqual(len(self.stage2_reports()), 1)

    def test_archive_in_mfcdll_section_installs_its_member(self):
        member = read_file(fixture("mfc30_v3_0_0_1.DLL"))
        self.make_medium(self.basic_list(mfcdll="sys.lsz = X.DLL\n"), second_stage=None)
        self.add_second_stage_archive()
        self.put("SYS.LSZ", stored_archive([("X.DLL", member, 0x2821, 0x6000)]))
        result = self.run_setup()
        self.assertEqual(result.box_summary(), [])
        self.assertEqual(read_file(self.installed("X.DLL")), member)
        [report] = self.stage2_reports()
        self.assertNotIn("X.DLL", [f["name"] for f in report["cwdfiles"]])

    def test_archive_in_mfcdll_section_without_target_touches_no_system_file(self):
        # With no target name, the staged and installed "files" would be the staging and
        # system directories themselves; the system directory keeps its read-only attribute.
        os.chmod(self.system_dir, 0o555)  # Wine: the read-only attribute of a directory
        self.addCleanup(os.chmod, self.system_dir, 0o755)
        self.make_medium(self.basic_list(mfcdll="SYS.LSZ\n"), second_stage=None)
        self.add_second_stage_archive()
        member = read_file(fixture("mfc30_v3_0_0_1.DLL"))
        self.put("SYS.LSZ", stored_archive([("X.DLL", member, 0x2821, 0x6000)]))
        result = self.run_setup()
        self.assertEqual(result.box_summary(), [])
        self.assertEqual(stat.S_IMODE(os.stat(self.system_dir).st_mode), 0o555)
        self.assertFalse(os.path.exists(self.installed("X.DLL")))
        [report] = self.stage2_reports()
        self.assertIn("X.DLL", [f["name"] for f in report["cwdfiles"]])

    def test_failing_mfcdll_entry_reports_and_still_launches(self):
        self.make_medium(self.basic_list(mfcdll="NOSUCH.DL_ = NOSUCH.DLL\n"), second_stage=None)
        self.add_second_stage_archive()
        result = self.run_setup()
        self.assertEqual(result.box_summary(), [lz_box(BAD_SOURCE), MFC_FAILED])
        self.assertEqual(len(self.stage2_reports()), 1)


class VersionRules(BootstrapCase):
    def test_installed_library_is_replaced_only_by_a_newer_one(self):
        cases = [  # installed fixture (None: nothing installed), media fixture, replaced?
            ("mfc30_v3_0_0_1.DLL", "mfc30_v3_0_7_7.DLL", False),   # 3.0 vs 3.0: builds ignored
            ("mfc30_v3_0_0_1.DLL", "mfc30_v3_1_0_0.DLL", True),
            ("mfc30_v2_9_0_0.DLL", "mfc30_v3_0_0_1.DLL", True),    # although 9 is above 0
            ("mfc30_v3_0_0_1.DLL", "mfc30_v2_10_0_0.DLL", False),
            (None, "mfc30_v2_9_0_0.DLL", True),
            ("mfc30_noversion.DLL", "mfc30_v2_9_0_0.DLL", True),
            ("mfc30_v3_0_0_1.DLL", "mfc30_noversion.DLL", False),
            # A root block shorter than the fixed record is no version information.
            ("mfc30_shortversion.DLL", "mfc30_v2_9_0_0.DLL", True),
        ]
        for installed, media, replaced in cases:
            with self.subTest(installed=installed, media=media):
                self.fresh((installed or "none")[6:12] + media[6:12])
                self.make_medium(self.basic_list(mfcdll="VERLIB.DL_ = VERLIB.DLL\n"),
                                 second_stage=None)
                self.add_second_stage_archive()
                lz_pack(fixture(media), os.path.join(self.medium, "VERLIB.DL_"))
                if installed:
                    shutil.copyfile(fixture(installed), self.installed("VERLIB.DLL"))
                result = self.run_setup()
                self.assertEqual(result.box_summary(), [])
                expected = media if replaced else installed
                self.assertEqual(read_file(self.installed("VERLIB.DLL")),
                                 read_file(fixture(expected)))
                [report] = self.stage2_reports()
                self.assertNotIn("VERLIB.DLL", [f["name"] for f in report["cwdfiles"]])

    def test_read_only_installed_library_is_replaced(self):
        shutil.copyfile(fixture("mfc30_v2_9_0_0.DLL"), self.installed("VERLIB.DLL"))
        os.chmod(self.installed("VERLIB.DLL"), stat.S_IREAD)  # Wine: read-only attribute
        self.make_medium(self.basic_list(mfcdll="VERLIB.DL_ = VERLIB.DLL\n"), second_stage=None)
        self.add_second_stage_archive()
        lz_pack(fixture("mfc30_v3_1_0_0.DLL"), os.path.join(self.medium, "VERLIB.DL_"))
        result = self.run_setup()
        self.assertEqual(result.box_summary(), [])
        self.assertEqual(read_file(self.installed("VERLIB.DLL")),
                         read_file(fixture("mfc30_v3_1_0_0.DLL")))


if __name__ == "__main__":
    main()
