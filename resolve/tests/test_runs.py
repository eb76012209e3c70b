"""Whole runs from the Scripts menu, with a stand-in qlcore and the fake UI."""

import builtins
import contextlib
import io
import os
import runpy
import tempfile
import unittest
from unittest import mock

import fakes
from fakes import load_script

qm = load_script()


class RunTest(unittest.TestCase):
    def setUp(self):
        self._tmp = tempfile.TemporaryDirectory()
        self.tmp = self._tmp.name
        self.home = os.path.join(self.tmp, "home")
        self.env = dict(os.environ, QUILLET_HOME=self.home)
        for person in ("Anna", "Ben"):
            os.makedirs(os.path.join(self.home, "people", person))
        self.media = os.path.join(self.tmp, "media")
        os.makedirs(self.media)
        self.clip_a = self._file("A001.mov")
        self.clip_b = self._file("B002.mov")
        self.out_a = os.path.join(self.media, "Quillet", "A001_mosaic.mov")
        self.out_b = os.path.join(self.media, "Quillet", "B002_mosaic.mov")
        self.pool = fakes.MediaPool()
        self.pool.selected = [fakes.MediaPoolItem(self.clip_a), fakes.MediaPoolItem(self.clip_b)]
        self.project = fakes.Project(self.pool)

    def tearDown(self):
        self._tmp.cleanup()

    def _file(self, name):
        path = os.path.join(self.media, name)
        with open(path, "wb") as f:
            f.write(b"source")
        return path

    def program(self, plan):
        folder = os.path.join(self.tmp, "bin")
        os.makedirs(folder, exist_ok=True)
        return fakes.make_fake_program(folder, plan)

    def both_done(self, **plan):
        plan.setdefault("clips", {
            self.clip_a: {"output": self.out_a,
                          "markers": [[40, 12, "Red", "Quillet: check visible face",
                                       "Left visible as Anna (similarity 0.41)."]]},
            self.clip_b: {"output": self.out_b}})
        return plan

    def run_main(self, dialog, progress=None):
        ui = fakes.UIManager()
        disp = fakes.Dispatcher(ui, fakes.click_through({
            "QuilletDialog": dialog, "QuilletProgress": progress,
            "QuilletMessage": fakes.press_ok}))
        with contextlib.redirect_stdout(io.StringIO()):
            text = qm.main(fakes.Resolve(self.project), ui, disp, self.env)
        return text, disp

    def run_process(self, plan, keep=()):
        choice = qm.Choice(list(keep), "prores", False, None, self.program(plan))
        return qm.process(self.project, [self.clip_a, self.clip_b], choice, env=self.env,
                          home=self.home)

    def bin_items(self):
        for folder in self.pool.GetRootFolder().GetSubFolderList():
            if folder.GetName() == "Quillet":
                return {i.GetClipProperty("File Path"): i for i in folder.GetClipList()}
        return {}


def choose(keep=(), codec=None, fast=None, threshold=None, program=None, thorough=None):
    """A dialog answer: tick `keep`, set the other fields, press Start."""

    def answer(window):
        items = window.GetItems()
        for element in items.values():
            if element.kind == "CheckBox" and element.ID.startswith("Person"):
                element.Checked = element.Text in keep
        if codec is not None:
            items["Codec"].CurrentIndex = codec
        if fast is not None:
            items["Fast"].Checked = fast
        if thorough is not None:
            items["Thorough"].Checked = thorough
        if threshold is not None:
            items["Threshold"].Text = threshold
        if program is not None:
            items["Program"].Text = program
        window.fire("Start", "Clicked")

    return answer


class FromTheScriptsMenu(RunTest):
    def test_a_whole_run_writes_the_job_runs_qlcore_and_places_markers(self):
        program = self.program(self.both_done())
        text, disp = self.run_main(choose(keep=["Anna"], codec=2, fast=True, threshold="0.4",
                                          program=program))
        calls = fakes.fake_calls(self.home)
        self.assertEqual(len(calls), 1)
        argv = calls[0]["argv"]
        self.assertEqual(argv[:2], ["process", "--job"])
        self.assertTrue(argv[2].startswith(os.path.join(self.home, "jobs")))
        files = calls[0]["files"]
        self.assertEqual(files["clips.txt"].split("\n"), [self.clip_a, self.clip_b, ""])
        self.assertEqual(files["keep.txt"], "Anna\n")
        self.assertEqual(files["options.txt"], "codec=h264\nspeed=fast\nthreshold=0.4\n")
        items = self.bin_items()
        self.assertEqual(sorted(items), [self.out_a, self.out_b])
        self.assertEqual(list(items[self.out_a].GetMarkers()), [40.0])
        self.assertIn("2 of 2 clip(s) mosaicked", text)
        self.assertIn("1 marker(s) placed", text)
        self.assertNotIn("Problems", text)
        # Dialog, progress, then the summary.
        self.assertEqual([w.props["ID"] for w in disp.shown_log],
                         ["QuilletDialog", "QuilletProgress", "QuilletMessage"])
        self.assertIn("2 of 2 clip(s) done", disp.shown_log[1].Find("Status").Text)

    def test_a_second_run_remembers_the_choices_and_duplicates_nothing(self):
        program = self.program(self.both_done())
        self.run_main(choose(keep=["Anna"], codec=1, program=program))
        seen = {}

        def look_then_start(window):
            items = window.GetItems()
            ticked = [e.Text for e in items.values()
                      if e.kind == "CheckBox" and e.ID.startswith("Person") and e.Checked]
            seen.update(codec=items["Codec"].CurrentIndex, program=items["Program"].Text,
                        ticked=ticked)
            window.fire("Start", "Clicked")

        text, _ = self.run_main(look_then_start)
        self.assertEqual(seen, {"codec": 1, "program": program, "ticked": ["Anna"]})
        self.assertEqual(len(self.bin_items()), 2)
        self.assertEqual(len(self.bin_items()[self.out_a].GetMarkers()), 1)
        self.assertIn("0 imported into the Quillet bin, 2 already there", text)
        self.assertIn("0 marker(s) placed, 1 already there", text)
        jobs = [c["argv"][2] for c in fakes.fake_calls(self.home)]
        self.assertEqual(len(set(jobs)), 2)  # a fresh job folder each time

    def test_the_dialog_holds_on_a_bad_threshold_or_program(self):
        program = self.program(self.both_done())
        problems = []

        def answer(window):
            items = window.GetItems()
            items["Threshold"].Text = "most"
            items["Program"].Text = program
            window.fire("Start", "Clicked")
            problems.append(items["Problem"].Text)
            items["Threshold"].Text = ""
            items["Program"].Text = os.path.join(self.tmp, "nowhere", "qlcore")
            window.fire("Start", "Clicked")
            problems.append(items["Problem"].Text)
            items["Program"].Text = program
            window.fire("Start", "Clicked")

        self.run_main(answer)
        self.assertIn("must be a number", problems[0])
        self.assertIn("Cannot run qlcore", problems[1])
        # Only the corrected answer ran the program.
        self.assertEqual(len(fakes.fake_calls(self.home)), 1)

    def test_thorough_mode_goes_into_the_job_but_not_together_with_fast_mode(self):
        program = self.program(self.both_done())
        problems = []

        def answer(window):
            items = window.GetItems()
            items["Program"].Text = program
            items["Fast"].Checked = True
            items["Thorough"].Checked = True
            window.fire("Start", "Clicked")
            problems.append(items["Problem"].Text)
            items["Fast"].Checked = False
            window.fire("Start", "Clicked")

        self.run_main(answer)
        self.assertIn("not both", problems[0])
        calls = fakes.fake_calls(self.home)
        self.assertEqual(len(calls), 1)
        self.assertEqual(calls[0]["files"]["options.txt"], "codec=prores\nspeed=thorough\n")
        self.assertTrue(qm.load_settings(self.home).get("thorough"))

    def test_cancel_writes_nothing(self):
        text, _ = self.run_main(lambda window: window.fire("Cancel", "Clicked"))
        self.assertEqual(text, "")
        self.assertFalse(os.path.exists(os.path.join(self.home, "jobs")))

    def test_stop_ends_the_program_and_keeps_what_was_finished(self):
        program = self.program(self.both_done(sleep=30))
        text, _ = self.run_main(choose(program=program),
                                progress=lambda window: window.fire("Stop", "Clicked"))
        self.assertIn("qlcore was stopped", text)
        self.assertIn("not done: " + self.clip_a, text)
        self.assertEqual(self.bin_items(), {})
        # Elsewhere than on Windows the signal is the request: no stop file.
        jobs = os.path.join(self.home, "jobs")
        folders = [d for d in os.listdir(jobs) if os.path.isdir(os.path.join(jobs, d))]
        self.assertEqual(len(folders), 1)
        self.assertFalse(os.path.exists(os.path.join(jobs, folders[0], "stop")))

    def test_on_windows_stop_asks_through_the_job_folder_and_waits(self):
        program = self.program(self.both_done(sleep=30, honour_stop=True))
        with mock.patch.object(qm.Run, "STOP_BY_FILE", True):
            text, _ = self.run_main(choose(program=program),
                                    progress=lambda window: window.fire("Stop", "Clicked"))
        job = fakes.fake_calls(self.home)[0]["argv"][2]
        self.assertTrue(os.path.isfile(os.path.join(job, "stop")))
        # Ended by the program itself (130), not outright.
        self.assertIn("qlcore was stopped", text)
        self.assertNotIn("status", text)
        self.assertIn("not done: " + self.clip_a, text)

    def test_a_program_that_ignores_the_request_is_ended_after_the_wait(self):
        job = qm.new_job_folder(self.home)
        qm.write_job(job, [self.clip_a], [])
        program = self.program(self.both_done(sleep=30))
        with mock.patch.object(qm.Run, "STOP_BY_FILE", True), \
                mock.patch.object(qm, "STOP_WAIT_SECONDS", 0.3):
            run = qm.start_run(program, job, 1, self.env)
            run.stop()
            self.assertIsNone(run.proc.poll())  # asked, not ended
            started = qm.time.time()
            outcome = run.wait(poll_seconds=0.05)
        self.assertLess(qm.time.time() - started, 10)
        self.assertTrue(outcome.stopped)
        self.assertEqual(qm.judge(outcome, [self.clip_a])[0],
                         "qlcore was stopped; clips it had not finished were left out.")
        # TerminateProcess leaves status 1: still a stop, not a failure.
        outcome.status = 1
        self.assertEqual(qm.judge(outcome, [self.clip_a])[0],
                         "qlcore was stopped; clips it had not finished were left out.")

    def test_the_menu_entry_finds_resolve_and_runs(self):
        program = self.program(self.both_done())
        ui = fakes.UIManager()
        disp = fakes.Dispatcher(ui, fakes.click_through({
            "QuilletDialog": choose(program=program), "QuilletMessage": fakes.press_ok}))
        resolve = fakes.Resolve(self.project, fakes.Fusion(ui))
        # Resolve hands menu scripts `resolve` and `bmd`, as globals or as
        # built-in names depending on the version.
        for hand_over in ("globals", "builtins"):
            names = {"resolve": resolve, "bmd": fakes.Bmd(resolve, disp)}
            with mock.patch.dict(os.environ, {"QUILLET_HOME": self.home}), \
                    contextlib.redirect_stdout(io.StringIO()):
                if hand_over == "globals":
                    runpy.run_path(fakes.SCRIPT, init_globals=names, run_name="__main__")
                else:
                    with mock.patch.multiple(builtins, create=True, **names):
                        runpy.run_path(fakes.SCRIPT, run_name="__main__")
        self.assertEqual(len(fakes.fake_calls(self.home)), 2)
        self.assertEqual(sorted(self.bin_items()), [self.out_a, self.out_b])

    def test_nothing_to_do_says_so(self):
        self.pool.selected = []
        text, _ = self.run_main(choose())
        self.assertIn("Select clips in the Media Pool", text)
        self.project = None
        text, _ = self.run_main(choose())
        self.assertEqual(text, "Open a project first.")


class WhenQlcoreFails(RunTest):
    def test_a_failed_clip_is_named_and_the_others_still_arrive(self):
        plan = self.both_done(status=2)
        del plan["clips"][self.clip_b]
        text, problems = self.run_process(plan)
        self.assertTrue(problems)
        self.assertIn("not done: " + self.clip_b, text)
        self.assertNotIn("not done: " + self.clip_a, text)
        self.assertEqual(list(self.bin_items()), [self.out_a])

    def test_a_fatal_stop_shows_the_programs_message(self):
        plan = {"clips": {}, "status": 1, "done_flag": False,
                "message": "No folder for 'Anna' in /home/people"}
        text, problems = self.run_process(plan, keep=["Anna"])
        self.assertTrue(problems)
        self.assertIn("qlcore stopped before finishing: No folder for 'Anna'", text)
        self.assertEqual(self.bin_items(), {})

    def test_an_exit_without_done_flag_is_not_taken_for_success(self):
        text, problems = self.run_process(self.both_done(done_flag=False))
        self.assertTrue(problems)
        self.assertIn("ended without finishing the job", text)
        # What it did finish is still brought in.
        self.assertEqual(len(self.bin_items()), 2)

    def test_a_missing_output_is_reported(self):
        plan = self.both_done()
        plan["clips"][self.clip_b]["write_output"] = False
        text, problems = self.run_process(plan)
        self.assertTrue(problems)
        self.assertIn("output missing: " + self.out_b, text)
        self.assertEqual(list(self.bin_items()), [self.out_a])

    def test_a_note_with_a_tab_becomes_one_marker(self):
        plan = self.both_done()
        plan["clips"][self.clip_a]["markers"] = [
            [7, 10, "Yellow", "Quillet: possibly over-mosaicked", "looked like\tBen"]]
        text, problems = self.run_process(plan)
        self.assertFalse(problems, text)
        markers = self.bin_items()[self.out_a].GetMarkers()
        self.assertEqual(markers[7.0]["note"], "looked like Ben")
        self.assertEqual(markers[7.0]["duration"], 10.0)

    def test_a_program_that_cannot_start_is_reported(self):
        choice = qm.Choice([], "prores", False, None, os.path.join(self.tmp, "no", "qlcore"))
        text, problems = qm.process(self.project, [self.clip_a], choice, env=self.env,
                                    home=self.home)
        self.assertTrue(problems)
        self.assertIn("Could not start", text)

    def test_an_unwritable_home_is_reported(self):
        blocker = os.path.join(self.tmp, "file")
        open(blocker, "w").close()
        choice = qm.Choice([], "prores", False, None, self.program(self.both_done()))
        text, problems = qm.process(self.project, [self.clip_a], choice, env=self.env,
                                    home=blocker)
        self.assertTrue(problems)
        self.assertIn("Could not write a job folder", text)


if __name__ == "__main__":
    unittest.main()
