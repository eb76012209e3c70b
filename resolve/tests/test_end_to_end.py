"""The script driving the real qlcore on a generated clip.

Runs only when QLCORE_PROGRAM names a working program with its models beside
it (a test installation); skipped otherwise.
"""

import json
import os
import shutil
import subprocess
import tempfile
import unittest

import fakes
from fakes import load_script

qm = load_script()

PROGRAM = os.environ.get("QLCORE_PROGRAM", "")


@unittest.skipUnless(PROGRAM and qm.is_program(PROGRAM),
                     "set QLCORE_PROGRAM to a qlcore test installation to run the script "
                     "against the real program")
@unittest.skipUnless(shutil.which("ffmpeg"), "ffmpeg is needed to generate the test clip")
class WithTheRealProgram(unittest.TestCase):
    def setUp(self):
        self._tmp = tempfile.TemporaryDirectory()
        self.home = os.path.join(self._tmp.name, "home")
        self.env = dict(os.environ, QUILLET_HOME=self.home)
        media = os.path.join(self._tmp.name, "media")
        os.makedirs(media)
        self.clip = os.path.join(media, "A001.mov")
        subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                        "testsrc=size=160x120:rate=10", "-frames:v", "10", "-c:v", "libx264",
                        "-pix_fmt", "yuv420p", self.clip], check=True)
        self.output = os.path.join(media, "Quillet", "A001_mosaic.mov")
        self.pool = fakes.MediaPool()
        self.pool.selected = [fakes.MediaPoolItem(self.clip)]
        self.project = fakes.Project(self.pool)

    def tearDown(self):
        self._tmp.cleanup()

    def run_job(self):
        clips, _ = qm.collect_sources(self.project)
        choice = qm.Choice([], "h264", True, 0.5, os.path.abspath(PROGRAM))
        return qm.process(self.project, clips, choice, env=self.env, home=self.home)

    def imported(self):
        folder = [f for f in self.pool.GetRootFolder().GetSubFolderList()
                  if f.GetName() == "Quillet"][0]
        return folder.GetClipList()

    def test_imports_the_output_and_brings_back_markers_on_a_rerun(self):
        text, problems = self.run_job()
        self.assertFalse(problems, text)
        self.assertTrue(os.path.getsize(self.output) > 0)
        self.assertEqual([i.GetClipProperty("File Path") for i in self.imported()], [self.output])

        # A finished clip is skipped on the next run and its stored report
        # still supplies the lines; give that report a flagged spot whose
        # note holds a tab and a line feed.
        report_path = os.path.splitext(self.output)[0] + ".json"
        with open(report_path) as f:
            report = json.load(f)
        report["markers"] = [{"frame": 3, "duration": 6, "color": "Red",
                              "name": "Quillet: check visible face",
                              "note": "Left visible as Anna\t(similarity 0.4).\nCheck."}]
        with open(report_path, "w") as f:
            json.dump(report, f, indent=1)
        for _ in range(2):
            text, problems = self.run_job()
            self.assertFalse(problems, text)
        items = self.imported()
        self.assertEqual(len(items), 1)
        self.assertEqual(items[0].GetMarkers(), {3.0: {
            "color": "Red", "duration": 6.0, "name": "Quillet: check visible face",
            "note": "Left visible as Anna (similarity 0.4). Check.", "customData": "quillet"}})


if __name__ == "__main__":
    unittest.main()
