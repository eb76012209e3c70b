"""Taking clips from Resolve and bringing results back, against the fakes."""

import inspect
import os
import tempfile
import unittest

import fakes
from fakes import load_script

qm = load_script()

RED = qm.Marker(40, 12, "Red", "Quillet: check visible face",
                "Left visible as Anna (similarity 0.41).")
YELLOW = qm.Marker(90, 6, "Yellow", "Quillet: possibly over-mosaicked", "Looked a bit like Ben.")


class FakesFollowTheDocumentation(unittest.TestCase):
    def test_every_faked_method_is_documented_with_its_parameters(self):
        classes = {"Resolve": fakes.Resolve, "ProjectManager": fakes.ProjectManager,
                   "Project": fakes.Project, "MediaPool": fakes.MediaPool, "Folder": fakes.Folder,
                   "MediaPoolItem": fakes.MediaPoolItem, "Timeline": fakes.Timeline,
                   "TimelineItem": fakes.TimelineItem}
        for cls_name, cls in classes.items():
            methods = {name: fn for name, fn in vars(cls).items()
                       if callable(fn) and name[:1].isupper()}
            self.assertEqual(set(methods), set(fakes.DOCUMENTED[cls_name]), cls_name)
            for name, fn in methods.items():
                params = tuple(inspect.signature(fn).parameters)[1:]
                self.assertEqual(params, fakes.DOCUMENTED[cls_name][name], cls_name + "." + name)


class TakingClips(unittest.TestCase):
    def test_the_media_pool_selection_wins_and_each_file_counts_once(self):
        pool = fakes.MediaPool()
        a, b = fakes.MediaPoolItem("/m/A001.mov"), fakes.MediaPoolItem("/m/B002.mov")
        pool.selected = [a, b, fakes.MediaPoolItem("/m/A001.mov")]
        timeline = fakes.Timeline([[fakes.TimelineItem(fakes.MediaPoolItem("/m/T.mov"))]])
        paths, notes = qm.collect_sources(fakes.Project(pool, timeline))
        self.assertEqual(paths, ["/m/A001.mov", "/m/B002.mov"])
        self.assertEqual(notes, [])

    def test_without_a_selection_the_timeline_video_tracks_are_used(self):
        t1 = fakes.MediaPoolItem("/m/T1.mov")
        timeline = fakes.Timeline(
            video_tracks=[[fakes.TimelineItem(t1), fakes.TimelineItem(None, "Title"),
                           fakes.TimelineItem(t1)],
                          [fakes.TimelineItem(fakes.MediaPoolItem("/m/T2.mov")),
                           fakes.TimelineItem(fakes.MediaPoolItem(""), "Compound")]],
            audio_tracks=[[fakes.TimelineItem(fakes.MediaPoolItem("/m/music.wav"))]])
        for pool in (fakes.MediaPool(), fakes.OldMediaPool()):
            paths, notes = qm.collect_sources(fakes.Project(pool, timeline))
            self.assertEqual(paths, ["/m/T1.mov", "/m/T2.mov"])
            self.assertEqual(len(notes), 1)
            self.assertIn("1 item(s) without a media file", notes[0])

    def test_mosaicked_outputs_are_not_mosaicked_again(self):
        pool = fakes.MediaPool()
        pool.selected = [fakes.MediaPoolItem("/m/Quillet/A001_mosaic.mov")]
        paths, notes = qm.collect_sources(fakes.Project(pool, None))
        self.assertEqual(paths, [])
        self.assertIn("already a mosaicked output", notes[0])

    def test_no_selection_and_no_timeline_gives_nothing(self):
        self.assertEqual(qm.collect_sources(fakes.Project(fakes.MediaPool(), None)), ([], []))


class PlacingResults(unittest.TestCase):
    def setUp(self):
        self._tmp = tempfile.TemporaryDirectory()
        self.out_a = self._output("A001_mosaic.mov")
        self.out_b = self._output("B002_mosaic.mov")
        self.pool = fakes.MediaPool()
        self.elsewhere = self.pool.AddSubFolder(self.pool.GetRootFolder(), "Dailies")
        self.pool.SetCurrentFolder(self.elsewhere)

    def tearDown(self):
        self._tmp.cleanup()

    def _output(self, name):
        path = os.path.join(self._tmp.name, name)
        with open(path, "wb") as f:
            f.write(b"video")
        return path

    def _results(self, markers_a=(), markers_b=()):
        r = qm.Results()
        r.clips = [("/m/A001.mov", self.out_a), ("/m/B002.mov", self.out_b)]
        r.markers[self.out_a] = list(markers_a)
        r.markers[self.out_b] = list(markers_b)
        return r

    def _bin(self):
        bins = [f for f in self.pool.GetRootFolder().GetSubFolderList() if f.GetName() == "Quillet"]
        self.assertEqual(len(bins), 1)
        return bins[0]

    def _item(self, path):
        return [i for i in self._bin().GetClipList() if i.GetClipProperty("File Path") == path][0]

    def test_imports_into_the_quillet_bin_and_places_the_markers(self):
        report = qm.place_results(self.pool, self._results([RED, YELLOW]))
        self.assertEqual(report.imported, [self.out_a, self.out_b])
        self.assertEqual((report.added, report.problems), (2, []))
        item = self._item(self.out_a)
        self.assertEqual(item.add_marker_calls, [
            (40, "Red", RED.name, RED.note, 12, "quillet"),
            (90, "Yellow", YELLOW.name, YELLOW.note, 6, "quillet")])
        self.assertEqual(item.GetMarkers()[40.0]["duration"], 12.0)
        # Each import went to the bin; the editor's own folder is current again.
        self.assertTrue(all(folder is self._bin() for _, folder in self.pool.import_calls))
        self.assertIs(self.pool.GetCurrentFolder(), self.elsewhere)

    def test_running_again_neither_imports_nor_marks_twice(self):
        qm.place_results(self.pool, self._results([RED, YELLOW]))
        again = qm.place_results(self.pool, self._results([RED, YELLOW]))
        self.assertEqual(again.imported, [])
        self.assertEqual(again.reused, [self.out_a, self.out_b])
        self.assertEqual((again.added, again.kept, again.removed), (0, 2, 0))
        self.assertEqual(len(self.pool.import_calls), 2)
        self.assertEqual(len(self._bin().GetClipList()), 2)
        self.assertEqual(sorted(self._item(self.out_a).GetMarkers()), [40.0, 90.0])

    def test_a_spot_no_longer_flagged_loses_its_marker_but_the_editors_stay(self):
        qm.place_results(self.pool, self._results([RED, YELLOW]))
        item = self._item(self.out_a)
        item.AddMarker(500, "Blue", "Grade this", "", 1, "")
        again = qm.place_results(self.pool, self._results([YELLOW]))
        self.assertEqual((again.added, again.kept, again.removed), (0, 1, 1))
        self.assertEqual(sorted(item.GetMarkers()), [90.0, 500.0])

    def test_a_frame_holding_the_editors_marker_is_reported_not_overwritten(self):
        qm.place_results(self.pool, self._results())
        item = self._item(self.out_a)
        item.AddMarker(40, "Blue", "Mine", "keep me", 1, "")
        report = qm.place_results(self.pool, self._results([RED]))
        self.assertEqual(item.GetMarkers()[40.0]["name"], "Mine")
        self.assertEqual(report.added, 0)
        self.assertIn("frame 40 already holds a marker you made", report.problems[0])

    def test_missing_outputs_and_failed_imports_are_reported(self):
        os.remove(self.out_b)
        self.pool.refuse_import.add(self.out_a)
        report = qm.place_results(self.pool, self._results([RED]))
        self.assertEqual(report.imported, [])
        self.assertEqual(report.problems, ["could not import " + self.out_a,
                                           "output missing: " + self.out_b])
        # The missing file was never offered to Resolve.
        self.assertEqual([paths for paths, _ in self.pool.import_calls], [[self.out_a]])

    def test_a_marker_resolve_refuses_is_reported(self):
        beyond = qm.Marker(5000, 3, "Red", "Quillet: check visible face", "past the end")
        report = qm.place_results(self.pool, self._results([beyond]))
        self.assertEqual(report.added, 0)
        self.assertIn("could not add the marker at frame 5000", report.problems[0])

    def test_markers_without_their_clip_line_are_reported(self):
        r = self._results()
        r.markers["/elsewhere/X_mosaic.mov"] = [RED]
        report = qm.place_results(self.pool, r)
        self.assertIn("came without its clip line", report.problems[-1])

    def test_an_existing_quillet_bin_is_reused(self):
        self.pool.AddSubFolder(self.pool.GetRootFolder(), "Quillet")
        qm.place_results(self.pool, self._results())
        self.assertEqual(len(self._bin().GetClipList()), 2)


if __name__ == "__main__":
    unittest.main()
