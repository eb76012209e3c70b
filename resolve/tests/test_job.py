"""The job folder, the results file, the people folder and finding qlcore."""

import os
import tempfile
import unittest
from unittest import mock

from fakes import load_script

qm = load_script()


def _touch(path, text="", mode=None):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as f:
        f.write(text)
    if mode is not None:
        os.chmod(path, mode)
    return path


def _read(path):
    with open(path, newline="") as f:
        return f.read()


class TempDirTest(unittest.TestCase):
    def setUp(self):
        self._tmp = tempfile.TemporaryDirectory()
        self.tmp = self._tmp.name

    def tearDown(self):
        self._tmp.cleanup()


class PeopleFolder(TempDirTest):
    def test_home_follows_quillet_home_else_the_user_folder(self):
        self.assertEqual(qm.people_dir({"QUILLET_HOME": "/data/q"}),
                         os.path.join("/data/q", "people"))
        # Set but empty: the current folder, as the program reads it.
        self.assertEqual(qm.people_dir({"QUILLET_HOME": ""}), "people")
        self.assertEqual(qm.home_dir({}), os.path.join(os.path.expanduser("~"), "Quillet"))

    def test_lists_person_folders_in_code_point_order(self):
        for name in ("adam", "Zoe", ".hidden", "Ben"):
            os.makedirs(os.path.join(self.tmp, name))
        _touch(os.path.join(self.tmp, "notes.txt"))
        os.makedirs(os.path.join(self.tmp, "Anna "))
        people, refused = qm.list_people(self.tmp)
        self.assertEqual(people, ["Ben", "Zoe", "adam"])
        # "Anna " would reach the program trimmed to a folder that does not exist.
        self.assertEqual(refused, ["Anna "])

    def test_a_missing_people_folder_lists_nobody(self):
        self.assertEqual(qm.list_people(os.path.join(self.tmp, "nope")), ([], []))


class WritingTheJob(TempDirTest):
    def test_writes_the_three_files_as_the_program_reads_them(self):
        qm.write_job(self.tmp, ["/media/A001.mov", "/media/B 002.mov"], ["Anna", "Ben"], "h264",
                     fast=True, threshold=0.45)
        nl = os.linesep
        self.assertEqual(_read(os.path.join(self.tmp, "clips.txt")),
                         "/media/A001.mov" + nl + "/media/B 002.mov" + nl)
        self.assertEqual(_read(os.path.join(self.tmp, "keep.txt")), "Anna" + nl + "Ben" + nl)
        self.assertEqual(_read(os.path.join(self.tmp, "options.txt")),
                         "codec=h264" + nl + "speed=fast" + nl + "threshold=0.45" + nl)

    def test_thorough_mode_is_a_speed_line_of_its_own(self):
        qm.write_job(self.tmp, ["/media/A001.mov"], [], thorough=True)
        nl = os.linesep
        self.assertEqual(_read(os.path.join(self.tmp, "options.txt")),
                         "codec=prores" + nl + "speed=thorough" + nl)

    def test_defaults_keep_nobody_and_leave_speed_and_threshold_out(self):
        qm.write_job(self.tmp, ["/media/A001.mov"], [])
        # keep.txt exists but is empty: nobody kept, whatever the program defaults to.
        self.assertEqual(_read(os.path.join(self.tmp, "keep.txt")), "")
        self.assertEqual(_read(os.path.join(self.tmp, "options.txt")).split(), ["codec=prores"])

    def test_a_style_other_than_the_mosaic_is_written(self):
        qm.write_job(self.tmp, ["/media/A001.mov"], [], style="blur")
        self.assertEqual(_read(os.path.join(self.tmp, "options.txt")).split(),
                         ["codec=prores", "style=blur"])
        qm.write_job(self.tmp, ["/media/A001.mov"], [], style="mosaic")
        self.assertEqual(_read(os.path.join(self.tmp, "options.txt")).split(), ["codec=prores"])

    def test_refuses_clips_the_job_file_would_misread(self):
        ok, notes = qm.usable_clips(["/m/good.mov", "/m/tab\there.mov", "/m/line\nbreak.mov",
                                     "/m/trailing.mov ", " /m/leading.mov", ""])
        self.assertEqual(ok, ["/m/good.mov"])
        self.assertEqual(len(notes), 5)
        self.assertIn("tab or a line break", notes[0])
        self.assertIn("blank", notes[2])
        self.assertIsNone(qm.job_line_problem("/m/caf\u00e9.mov", "utf-8"))
        self.assertIn("encoding", qm.job_line_problem("/m/caf\u00e9.mov", "ascii"))

    def test_threshold_field(self):
        self.assertEqual(qm.parse_threshold("0.5"), (0.5, None))
        self.assertEqual(qm.parse_threshold(" 0,45 "), (0.45, None))
        self.assertEqual(qm.parse_threshold(""), (None, None))
        for bad in ("half", "1.5", "-0.1", "nan"):
            value, problem = qm.parse_threshold(bad)
            self.assertIsNone(value, bad)
            self.assertTrue(problem, bad)

    def test_each_job_gets_a_fresh_folder_and_old_ones_are_pruned(self):
        keep_before = qm.KEEP_JOB_FOLDERS
        qm.KEEP_JOB_FOLDERS = 2
        try:
            made = []
            for _ in range(4):
                folder = qm.new_job_folder(self.tmp)
                self.assertEqual(os.listdir(folder), [])
                qm.write_job(folder, ["/m/a.mov"], [])
                made.append(folder)
        finally:
            qm.KEEP_JOB_FOLDERS = keep_before
        self.assertEqual(len(set(made)), 4)
        left = sorted(os.listdir(os.path.join(self.tmp, "jobs")))
        # The newest survives, and never more than the limit plus the new one.
        self.assertIn(os.path.basename(made[-1]), left)
        self.assertLessEqual(len(left), 3)


class JobFilesInUtf8(TempDirTest):
    """The program reads job files as UTF-8 first and writes results in UTF-8,
    whatever code page the system prefers (cp1252 on a Western Windows)."""

    def test_names_outside_the_code_page_go_out_and_come_back_whole(self):
        clip = "/m/\u00c9t\u00e9/A001 \u65e5.mov"
        output = "/m/\u00c9t\u00e9/Quillet/A001 \u65e5_mosaic.mov"
        with mock.patch("locale.getpreferredencoding", return_value="cp1252"):
            self.assertIsNone(qm.job_line_problem(clip))
            qm.write_job(self.tmp, [clip], ["Zo\u00eb", "\u674e"])
            with open(os.path.join(self.tmp, "results.tsv"), "wb") as f:
                f.write(("CLIP\t%s\t%s\r\n" % (clip, output)).encode("utf-8"))
            results = qm.read_results(self.tmp)
        for name, text in (("clips.txt", clip + "\n"), ("keep.txt", "Zo\u00eb\n\u674e\n")):
            with open(os.path.join(self.tmp, name), "rb") as f:
                self.assertEqual(f.read().replace(b"\r\n", b"\n"), text.encode("utf-8"))
        self.assertEqual(results.clips, [(clip, output)])
        self.assertEqual(results.problems, [])


class ReadingResults(unittest.TestCase):
    def test_clip_and_marker_lines(self):
        note = "Left visible as Anna (similarity 0.41). Make sure this is really them."
        text = ("CLIP\t/m/A.mov\t/m/Quillet/A_mosaic.mov\r\n"
                "MARK\t/m/Quillet/A_mosaic.mov\t40\t12\tRed\tQuillet: check visible face\t"
                + note + "\r\n"
                "MARK\t/m/Quillet/A_mosaic.mov\t90\t0\tYellow\tQuillet: possibly over-mosaicked\t"
                "note\r\n"
                "CLIP\t/m/B.mov\t/m/Quillet/B_mosaic.mov\r\n")
        r = qm.parse_results(text)
        self.assertEqual(r.clips, [("/m/A.mov", "/m/Quillet/A_mosaic.mov"),
                                   ("/m/B.mov", "/m/Quillet/B_mosaic.mov")])
        marks = r.markers["/m/Quillet/A_mosaic.mov"]
        self.assertEqual(marks[0], qm.Marker(40, 12, "Red", "Quillet: check visible face", note))
        self.assertEqual(marks[1].duration, 1)  # a marker is at least one frame long
        self.assertEqual(r.markers["/m/Quillet/B_mosaic.mov"], [])
        self.assertEqual(r.problems, [])

    def test_a_stray_tab_in_a_note_stays_inside_one_marker(self):
        r = qm.parse_results("CLIP\ta\tb\nMARK\tb\t5\t9\tRed\tname\tone\ttwo\n")
        self.assertEqual(r.markers["b"], [qm.Marker(5, 9, "Red", "name", "one two")])

    def test_unreadable_lines_are_reported_not_guessed(self):
        r = qm.parse_results("CLIP\tonly-source\nMARK\tb\tforty\t9\tRed\tn\tx\nhello\n\n")
        self.assertEqual(r.clips, [])
        self.assertEqual(len(r.problems), 3)

    def test_markers_on_one_frame_become_one(self):
        merged = qm.merge_same_frame([
            qm.Marker(10, 5, "Yellow", "Quillet: possibly over-mosaicked", "looked like Ben"),
            qm.Marker(10, 8, "Red", "Quillet: check visible face", "left visible as Anna"),
            qm.Marker(20, 3, "Yellow", "y", "z")])
        self.assertEqual(merged, [
            qm.Marker(10, 8, "Red", "Quillet: check visible face",
                      "left visible as Anna / looked like Ben"),
            qm.Marker(20, 3, "Yellow", "y", "z")])


class ProgressText(unittest.TestCase):
    LOG = ["No one selected to keep", "[1/3]", "\u25b6 A.mov", "\u2713 saved /m/A_mosaic.mov",
           "[2/3]", "\u25b6 B.mov", "finding faces:  50.0%", "finding faces:  75.0%"]

    def test_shows_the_clip_at_work_and_its_latest_progress_line(self):
        self.assertEqual(qm.Progress(1, 3, self.LOG, False).text(),
                         "1 of 3 clip(s) done\n[2/3]  \u25b6 B.mov  finding faces:  75.0%")
        # Where results cannot be read during the run, the log alone speaks.
        self.assertEqual(qm.Progress(None, 3, self.LOG[:6], False).text(), "[2/3]  \u25b6 B.mov")
        self.assertEqual(qm.Progress(None, 3, [], False).text(), "Starting qlcore\u2026")


class FindingTheProgram(TempDirTest):
    def _program(self, folder, executable=True):
        return _touch(os.path.join(self.tmp, folder, "qlcore"), "#!/bin/sh\n",
                      0o755 if executable else 0o644)

    def test_order_remembered_then_beside_the_script_then_the_search_path(self):
        remembered = self._program("remembered")
        beside = self._program("scripts")
        on_path = self._program("bin")
        env = {"PATH": os.path.dirname(on_path)}
        scripts = os.path.dirname(beside)
        self.assertEqual(qm.find_program(remembered, scripts, env), remembered)
        self.assertEqual(qm.find_program(os.path.join(self.tmp, "gone", "qlcore"), scripts, env),
                         beside)
        self.assertEqual(qm.find_program(None, os.path.join(self.tmp, "empty"), env), on_path)

    def test_a_file_that_cannot_run_is_no_program(self):
        not_executable = self._program("scripts", executable=False)
        found = qm.find_program(not_executable, os.path.dirname(not_executable),
                                {"PATH": os.path.join(self.tmp, "empty")})
        self.assertNotEqual(found, not_executable)


class Settings(TempDirTest):
    def test_round_trip_and_a_broken_file_counts_as_none(self):
        qm.save_settings(self.tmp, {"codec": "hevc", "keep": ["Anna"]})
        self.assertEqual(qm.load_settings(self.tmp), {"codec": "hevc", "keep": ["Anna"]})
        _touch(os.path.join(self.tmp, qm.SETTINGS_FILE), "{broken")
        self.assertEqual(qm.load_settings(self.tmp), {})
        self.assertEqual(qm.load_settings(os.path.join(self.tmp, "missing")), {})


if __name__ == "__main__":
    unittest.main()
