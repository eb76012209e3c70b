"""Quillet Mosaic: hide the faces in clips with qlcore, from inside Resolve.

Takes the clips selected in the Media Pool (or, with nothing selected, the
clips on the current timeline's video tracks), asks whom to keep visible,
runs `qlcore process --job` on a fresh job folder and brings the mosaicked
clips into a "Quillet" bin of the Media Pool with a marker on every spot the
program wants a person to look at.

Install: copy this one file into Resolve's Fusion/Scripts/Utility folder (see
README.md beside it) and run it from Workspace > Scripts.

Written for the Python that Resolve embeds (3.6 or later), standard library
only.
"""

import collections
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

BIN_NAME = "Quillet"
# (label in the dialog, value of "codec=" in options.txt)
CODECS = (("ProRes", "prores"), ("HEVC", "hevc"), ("H.264", "h264"))
# (label in the dialog, value of "style=" in options.txt)
STYLES = (("Mosaic", "mosaic"), ("Coarse mosaic over the head", "coarse"), ("Blur", "blur"),
          ("Solid fill", "solid"))
# Stored as each marker's customData, so a re-run knows which markers it owns.
MARKER_TAG = "quillet"
MARKER_NAME_PREFIX = "Quillet:"
SETTINGS_FILE = "resolve.json"
KEEP_JOB_FOLDERS = 20
POLL_MS = 500
# Written into the job folder to ask the program to stop as at a Ctrl-C; if
# it has not ended this long after, it is ended outright.
STOP_FILE = "stop"
STOP_WAIT_SECONDS = 30
# A clip this script would hand over is refused rather than misread: the
# program splits clip lines at the first tab and trims blanks from both ends.
_LINE_BREAKS = ("\t", "\r", "\n")

Marker = collections.namedtuple("Marker", "frame duration color name note")


# ---------------------------------------------------------------- folders


def home_dir(environ=None):
    """The folder the program keeps people in: QUILLET_HOME, else ~/Quillet."""
    env = os.environ if environ is None else environ
    if "QUILLET_HOME" in env:
        # Taken unchanged, as the program does; empty means the current folder.
        return env["QUILLET_HOME"]
    return os.path.join(os.path.expanduser("~"), "Quillet")


def people_dir(environ=None):
    return os.path.join(home_dir(environ), "people")


def list_people(folder):
    """Person folder names in code-point order, and those a job cannot carry.

    A person is a folder not starting with "."; a name with blanks at either
    end, a line break or characters UTF-8 cannot hold (undecodable bytes the
    file system handed over) would not survive the trimmed lines of
    "keep.txt".
    """
    try:
        entries = sorted(os.listdir(folder))
    except OSError:
        return [], []
    people, refused = [], []
    for name in entries:
        if name.startswith(".") or not os.path.isdir(os.path.join(folder, name)):
            continue
        if job_line_problem(name):
            refused.append(name)
        else:
            people.append(name)
    return people, refused


# Job files and "results.tsv" are UTF-8 both ways: the system's code page
# (cp1252 on a Western Windows) cannot hold every name a user types, and the
# program reads UTF-8 first.
JOB_ENCODING = "utf-8"


# ---------------------------------------------------------------- settings


def load_settings(home):
    """The dialog's remembered choices; a missing or broken file counts as none."""
    try:
        with open(os.path.join(home, SETTINGS_FILE), "r", encoding="utf-8") as f:
            data = json.load(f)
        return data if isinstance(data, dict) else {}
    except (OSError, ValueError):
        return {}


def save_settings(home, settings):
    path = os.path.join(home, SETTINGS_FILE)
    try:
        os.makedirs(home, exist_ok=True)
        tmp = path + ".tmp"
        with open(tmp, "w", encoding="utf-8") as f:
            json.dump(settings, f, indent=1, sort_keys=True)
        os.replace(tmp, path)
    except OSError:
        pass  # remembering is a convenience; the run does not depend on it


# ---------------------------------------------------------------- program


def _program_names():
    return ("qlcore.exe", "qlcore") if os.name == "nt" else ("qlcore",)


def is_program(path):
    return bool(path) and os.path.isfile(path) and os.access(path, os.X_OK)


def _utility_folders(environ):
    """Where Resolve looks for Utility scripts, for when __file__ is not set."""
    if os.name == "nt":
        return [
            os.path.join(environ.get("PROGRAMDATA", r"C:\ProgramData"), "Blackmagic Design",
                         "DaVinci Resolve", "Fusion", "Scripts", "Utility"),
            os.path.join(environ.get("APPDATA", ""), "Blackmagic Design", "DaVinci Resolve",
                         "Support", "Fusion", "Scripts", "Utility"),
        ]
    if sys.platform == "darwin":
        base = ("Library/Application Support/Blackmagic Design/DaVinci Resolve/Fusion/Scripts/"
                "Utility")
        return ["/" + base, os.path.join(os.path.expanduser("~"), base)]
    return ["/opt/resolve/Fusion/Scripts/Utility", "/home/resolve/Fusion/Scripts/Utility",
            os.path.join(os.path.expanduser("~"),
                         ".local/share/DaVinciResolve/Fusion/Scripts/Utility")]


def script_dir():
    here = globals().get("__file__")
    return os.path.dirname(os.path.abspath(here)) if here else None


def _setup_program():
    """qlcore.exe where the Windows setup put it (it notes the folder in the
    registry), or None."""
    try:
        import winreg
        with winreg.OpenKey(winreg.HKEY_CURRENT_USER, r"Software\qlcore") as key:
            return os.path.join(winreg.QueryValueEx(key, "InstallDir")[0], "qlcore.exe")
    except (ImportError, OSError):
        return None


def find_program(remembered=None, beside=None, environ=None):
    """The qlcore to run: the remembered path, one beside this script, one on
    the search path, or one in the usual macOS tool folders (Resolve started
    from the Dock sees only a bare search path) or, on Windows, where the
    setup installed it (before the search path) or the zip is unpacked
    (%LOCALAPPDATA%\\Programs\\qlcore). None when there is none."""
    env = os.environ if environ is None else environ
    candidates = [remembered] if remembered else []
    folders = [beside] if beside else _utility_folders(env)
    for folder in folders:
        candidates += [os.path.join(folder, n) for n in _program_names()]
    if os.name == "nt":
        candidates.append(_setup_program())
    for name in _program_names():
        found = shutil.which(name, path=env.get("PATH", os.defpath))
        if found:
            candidates.append(found)
    if os.name == "nt":
        # Where the Windows zip's instructions unpack it.
        candidates.append(os.path.join(env.get("LOCALAPPDATA", ""), "Programs", "qlcore",
                                       "qlcore.exe"))
    else:
        candidates += ["/opt/homebrew/bin/qlcore", "/usr/local/bin/qlcore"]
    for path in candidates:
        if is_program(path):
            return os.path.abspath(path)
    return None


# ---------------------------------------------------------------- clips


def clip_path(item):
    try:
        return item.GetClipProperty("File Path") or ""
    except Exception:
        return ""


def _norm(path):
    return os.path.normcase(os.path.abspath(path))


def collect_sources(project):
    """The file paths to process, and notes on what was left out.

    The Media Pool selection wins; with nothing selected, every clip on the
    current timeline's video tracks. Each file is taken once.
    """
    media_pool = project.GetMediaPool()
    try:
        items = list(media_pool.GetSelectedClips() or [])
    except Exception:  # older Resolve versions have no GetSelectedClips
        items = []
    notes = []
    if not items:
        timeline = project.GetCurrentTimeline()
        if timeline:
            for index in range(1, (timeline.GetTrackCount("video") or 0) + 1):
                for t_item in timeline.GetItemListInTrack("video", index) or []:
                    item = t_item.GetMediaPoolItem()
                    if item:
                        items.append(item)
    paths, seen, no_file = [], set(), 0
    for item in items:
        path = clip_path(item)
        if not path:
            no_file += 1
            continue
        if _norm(path) in seen:
            continue
        seen.add(_norm(path))
        stem = os.path.splitext(os.path.basename(path))[0]
        if stem.endswith("_mosaic"):
            notes.append("left out %s: it is already a mosaicked output" % os.path.basename(path))
            continue
        paths.append(path)
    if no_file:
        notes.append("left out %d item(s) without a media file (titles, generators, compound clips)"
                     % no_file)
    return paths, notes


# ---------------------------------------------------------------- job folder


def job_line_problem(text, encoding=None):
    """Why `text` cannot be one line of a job file, or None."""
    if not text:
        return "it is empty"
    if any(c in text for c in _LINE_BREAKS):
        return "it holds a tab or a line break"
    if text != text.strip():
        return "it begins or ends with a blank"
    try:
        text.encode(encoding or JOB_ENCODING)
    except UnicodeEncodeError:
        return "it cannot be written in a job file's text encoding"
    return None


def usable_clips(paths):
    """The paths a job can carry, and a note for each one it cannot."""
    usable, notes = [], []
    for path in paths:
        problem = job_line_problem(path)
        if problem:
            notes.append("left out %s: %s" % (path, problem))
        else:
            usable.append(path)
    return usable, notes


def parse_threshold(text):
    """(value or None, problem or None) for the dialog's threshold field."""
    text = (text or "").strip().replace(",", ".")
    if not text:
        return None, None
    try:
        value = float(text)
    except ValueError:
        return None, "The threshold must be a number between 0 and 1, for example 0.45."
    if not 0.0 <= value <= 1.0:
        return None, "The threshold must be between 0 and 1."
    return value, None


def new_job_folder(home):
    """A fresh, empty folder under home/jobs; the oldest ones beyond the last
    few are removed so the folder does not grow for ever."""
    jobs = os.path.join(os.path.abspath(home or "."), "jobs")
    os.makedirs(jobs, exist_ok=True)
    folder = tempfile.mkdtemp(prefix=time.strftime("%Y%m%d-%H%M%S-"), dir=jobs)
    old = sorted(d for d in os.listdir(jobs)
                 if os.path.isfile(os.path.join(jobs, d, "clips.txt")))
    for name in old[:max(0, len(old) - KEEP_JOB_FOLDERS)]:
        shutil.rmtree(os.path.join(jobs, name), ignore_errors=True)
    return folder


def _write_lines(path, lines, encoding):
    with open(path, "w", encoding=encoding) as f:
        for line in lines:
            f.write(line + "\n")


def write_job(folder, clips, keep, codec="prores", fast=False, threshold=None, encoding=None,
              style="mosaic", thorough=False):
    """Writes "clips.txt", "keep.txt" and "options.txt". The caller has
    checked every clip and name with job_line_problem."""
    enc = encoding or JOB_ENCODING
    _write_lines(os.path.join(folder, "clips.txt"), clips, enc)
    # Written even when empty: nobody is kept, said out loud.
    _write_lines(os.path.join(folder, "keep.txt"), keep, enc)
    options = ["codec=" + codec]
    if thorough:
        options.append("speed=thorough")
    elif fast:
        options.append("speed=fast")
    if threshold is not None:
        options.append("threshold=" + repr(float(threshold)))
    # The default style is left unsaid, so such jobs read as they always did.
    if style and style != "mosaic":
        options.append("style=" + style)
    _write_lines(os.path.join(folder, "options.txt"), options, enc)


class Results(object):
    """What "results.tsv" says: the finished clips in order, each output's
    markers, and the lines that could not be read."""

    def __init__(self):
        self.clips = []  # (source, output)
        self.markers = collections.OrderedDict()  # output -> [Marker]
        self.problems = []


def parse_results(text):
    results = Results()
    for line in text.replace("\r\n", "\n").replace("\r", "\n").split("\n"):
        if not line:
            continue
        fields = line.split("\t")
        if fields[0] == "CLIP" and len(fields) == 3:
            results.clips.append((fields[1], fields[2]))
            results.markers.setdefault(fields[2], [])
        elif fields[0] == "MARK" and len(fields) >= 7:
            try:
                frame, duration = int(fields[2]), int(fields[3])
            except ValueError:
                results.problems.append("unreadable marker line: " + line)
                continue
            # A note with a stray tab still belongs to this one marker.
            note = " ".join(fields[6:])
            marker = Marker(frame, max(1, duration), fields[4], fields[5], note)
            results.markers.setdefault(fields[1], []).append(marker)
        else:
            results.problems.append("unreadable line: " + line)
    return results


def read_results(job_dir):
    try:
        with open(os.path.join(job_dir, "results.tsv"), "rb") as f:
            data = f.read()
    except OSError:
        return Results()
    return parse_results(data.decode(JOB_ENCODING, errors="replace"))


# ---------------------------------------------------------------- running


class Progress(object):
    """done: clips with results so far (None where it cannot be read while the
    program runs); lines: the newest lines of the program's console output."""

    def __init__(self, done, total, lines, finished):
        self.done, self.total, self.lines, self.finished = done, total, lines, finished

    def text(self):
        parts = []
        if self.done is not None:
            parts.append("%d of %d clip(s) done" % (self.done, self.total))
        header = next((i for i in range(len(self.lines) - 1, -1, -1)
                       if self.lines[i].startswith("[")), None)
        if header is not None and not self.finished:
            # "[2/5]", then "▶ A002.mov", then the live progress line
            parts.append("  ".join(self.lines[header:][:2] + self.lines[header + 2:][-1:]))
        return "\n".join(parts) or "Starting qlcore\u2026"


class Outcome(object):
    def __init__(self, status, finished, results, log_tail, job_dir, error=None, stopped=False):
        self.status = status  # exit status; None when the program never started
        self.finished = finished  # "done.flag" was written
        self.results = results
        self.log_tail = log_tail
        self.job_dir = job_dir
        self.error = error
        self.stopped = stopped  # the user pressed Stop


def _tail(path, size=4096):
    try:
        with open(path, "rb") as f:
            f.seek(0, os.SEEK_END)
            f.seek(max(0, f.tell() - size))
            data = f.read()
    except OSError:
        return []
    text = data.decode("utf-8", errors="replace").replace("\r", "\n")
    return [line.strip() for line in text.split("\n") if line.strip()]


class Run(object):
    """One `qlcore process --job` child. Its console output goes to
    "qlcore.log" in the job folder, so a full pipe can never stall it."""

    def __init__(self, program, job_dir, clip_count, env=None):
        self.job_dir, self.clip_count = job_dir, clip_count
        self.log_path = os.path.join(job_dir, "qlcore.log")
        kwargs = {"stdin": subprocess.DEVNULL, "stderr": subprocess.STDOUT, "env": env}
        if os.name == "nt":
            kwargs["creationflags"] = 0x08000000  # CREATE_NO_WINDOW
        with open(self.log_path, "wb") as log:
            self.proc = subprocess.Popen([program, "process", "--job", job_dir], stdout=log,
                                         **kwargs)
        self.stopped = False
        self._stop_asked = None

    # On Windows, terminate() is TerminateProcess: the program gets no word
    # of it, and its work in progress stays beside the outputs. There it is
    # asked through the job folder; elsewhere terminate() is SIGTERM, which
    # the program handles as a Ctrl-C.
    STOP_BY_FILE = os.name == "nt"

    def poll(self):
        if (self._stop_asked is not None and self.proc.poll() is None
                and time.time() - self._stop_asked > STOP_WAIT_SECONDS):
            self._stop_asked = None
            self.proc.terminate()
        finished = self.proc.poll() is not None
        # On Windows the program could not replace "results.tsv" while it is
        # open here, so there progress comes from the console log only.
        done = None if os.name == "nt" and not finished else len(read_results(self.job_dir).clips)
        return Progress(done, self.clip_count, _tail(self.log_path), finished)

    def stop(self):
        """Asks the program to stop; it removes its unfinished outputs. A
        second Stop, or a program that has not ended STOP_WAIT_SECONDS after
        a request through the job folder, is ended outright."""
        if self.proc.poll() is not None:
            return
        if not self.stopped and self.STOP_BY_FILE:
            self.stopped = True
            try:
                open(os.path.join(self.job_dir, STOP_FILE), "w").close()
                self._stop_asked = time.time()
                return
            except OSError:
                pass
        self.stopped = True
        self._stop_asked = None
        self.proc.terminate()

    def wait(self, poll_seconds=POLL_MS / 1000.0, on_progress=None):
        while True:
            progress = self.poll()
            if on_progress:
                on_progress(progress)
            if progress.finished:
                return self.outcome()
            time.sleep(poll_seconds)

    def outcome(self):
        status = self.proc.wait()
        finished = os.path.isfile(os.path.join(self.job_dir, "done.flag"))
        return Outcome(status, finished, read_results(self.job_dir), _tail(self.log_path),
                       self.job_dir, stopped=self.stopped)


def start_run(program, job_dir, clip_count, env=None):
    """A Run, or an Outcome saying why the program could not be started."""
    try:
        return Run(program, job_dir, clip_count, env)
    except OSError as e:
        return Outcome(None, False, Results(), [], job_dir,
                       error="Could not start %s: %s" % (program, e.strerror or e))


def judge(outcome, clips):
    """What went wrong, in words, from the exit status and the results."""
    problems = []
    if outcome.error:
        return [outcome.error]
    status = outcome.status
    last = outcome.log_tail[-1] if outcome.log_tail else ""
    if status in (130, 143, -2, -15) or (outcome.stopped and status not in (0, 2)):
        # Also ended outright after a request (TerminateProcess gives status 1).
        problems.append("qlcore was stopped; clips it had not finished were left out.")
    elif status == 1:
        problems.append("qlcore stopped before finishing: " + (last or "no message"))
    elif status == 2 and outcome.finished:
        pass  # the clips without results are listed below
    elif status not in (0, 2):
        problems.append("qlcore ended with status %s: %s" % (status, last or "no message"))
    elif not outcome.finished:
        problems.append("qlcore ended without finishing the job: " + (last or "no message"))
    done = set(_norm(src) for src, _ in outcome.results.clips)
    for clip in clips:
        if _norm(clip) not in done:
            problems.append("not done: " + clip)
    problems += outcome.results.problems
    return problems


# ---------------------------------------------------------------- media pool


def find_bin(media_pool):
    root = media_pool.GetRootFolder()
    for folder in root.GetSubFolderList() or []:
        if folder.GetName() == BIN_NAME:
            return folder
    return media_pool.AddSubFolder(root, BIN_NAME)


def merge_same_frame(markers):
    """One marker per frame (Resolve holds no more): a red one wins the
    colour and name, notes are joined, the longest duration is kept."""
    merged = collections.OrderedDict()
    for m in markers:
        old = merged.get(m.frame)
        if old is None:
            merged[m.frame] = m
            continue
        first, second = (m, old) if m.color == "Red" and old.color != "Red" else (old, m)
        note = first.note if second.note in first.note else first.note + " / " + second.note
        merged[m.frame] = Marker(m.frame, max(m.duration, old.duration), first.color,
                                 first.name, note)
    return list(merged.values())


def _ours(info):
    return (info.get("customData") == MARKER_TAG
            or str(info.get("name", "")).startswith(MARKER_NAME_PREFIX))


class PlaceReport(object):
    def __init__(self):
        self.imported = []  # outputs newly imported
        self.reused = []  # outputs already in the bin
        self.added = 0  # markers placed
        self.kept = 0  # markers already there
        self.removed = 0  # markers of ours no longer flagged
        self.problems = []


def sync_markers(item, markers, report, label):
    """Makes this script's markers on `item` equal `markers`: missing ones are
    added, present ones left as they are (the editor may have touched them),
    ones no longer flagged removed. Markers the editor made are never touched."""
    present = {}
    for frame, info in (item.GetMarkers() or {}).items():
        present[int(round(float(frame)))] = info or {}
    wanted = merge_same_frame(markers)
    for m in wanted:
        info = present.get(m.frame)
        if info is not None:
            if _ours(info):
                report.kept += 1
            else:
                report.problems.append("%s: frame %d already holds a marker you made, so "
                                       "this one was not placed: %s" % (label, m.frame, m.note))
            continue
        if item.AddMarker(m.frame, m.color, m.name, m.note, m.duration, MARKER_TAG):
            report.added += 1
        else:
            report.problems.append("%s: could not add the marker at frame %d" % (label, m.frame))
    wanted_frames = set(m.frame for m in wanted)
    for frame, info in sorted(present.items()):
        if _ours(info) and frame not in wanted_frames and item.DeleteMarkerAtFrame(frame):
            report.removed += 1


def place_results(media_pool, results):
    """Imports each finished output into the Quillet bin (once) and places
    its markers."""
    report = PlaceReport()
    if not results.clips:
        return report
    folder = find_bin(media_pool)
    if not folder:
        report.problems.append("could not make the %s bin in the Media Pool" % BIN_NAME)
        return report
    in_bin = {}
    for item in folder.GetClipList() or []:
        in_bin.setdefault(_norm(clip_path(item)), item)
    previous = media_pool.GetCurrentFolder()
    try:
        for _source, output in results.clips:
            label = os.path.basename(output)
            if not os.path.isfile(output):
                report.problems.append("output missing: " + output)
                continue
            item = in_bin.get(_norm(output))
            if item is not None:
                report.reused.append(output)
            else:
                media_pool.SetCurrentFolder(folder)
                imported = media_pool.ImportMedia([output]) or []
                matching = [i for i in imported if _norm(clip_path(i)) == _norm(output)]
                item = (matching or imported or [None])[0]
                if item is None:
                    report.problems.append("could not import " + output)
                    continue
                in_bin[_norm(output)] = item
                report.imported.append(output)
            sync_markers(item, results.markers.get(output, []), report, label)
    finally:
        if previous:
            media_pool.SetCurrentFolder(previous)
    orphans = [o for o in results.markers if o not in set(out for _, out in results.clips)]
    for output in orphans:
        report.problems.append("markers for %s came without its clip line" % output)
    return report


def summary(clips, outcome, placed):
    lines = []
    total = len(outcome.results.clips)
    lines.append("%d of %d clip(s) mosaicked." % (total, len(clips)))
    if placed.imported or placed.reused:
        lines.append("%d imported into the %s bin, %d already there." %
                     (len(placed.imported), BIN_NAME, len(placed.reused)))
    if placed.added or placed.kept or placed.removed:
        text = "%d marker(s) placed, %d already there" % (placed.added, placed.kept)
        if placed.removed:
            text += ", %d no longer flagged removed" % placed.removed
        lines.append(text + ".")
    problems = judge(outcome, clips) + placed.problems
    if problems:
        lines.append("")
        lines.append("Problems:")
        lines += ["  " + p for p in problems]
    if outcome.job_dir:
        lines.append("")
        lines.append("Job folder: " + outcome.job_dir)
    return "\n".join(lines), bool(problems)


# ---------------------------------------------------------------- the dialogs


class Choice(object):
    def __init__(self, keep, codec, fast, threshold, program, style="mosaic", thorough=False):
        self.keep, self.codec, self.fast = keep, codec, fast
        self.threshold, self.program, self.style = threshold, program, style
        self.thorough = thorough


def _message(ui, disp, text, title="Quillet Mosaic"):
    height = min(560, 120 + 18 * text.count("\n"))
    win = disp.AddWindow({"ID": "QuilletMessage", "WindowTitle": title,
                          "Geometry": [200, 200, 560, height]},
                         ui.VGroup([ui.TextEdit({"ID": "Text", "Text": text, "ReadOnly": True}),
                                    ui.HGroup([ui.HGap(), ui.Button({"ID": "OK", "Text": "OK"})])]))

    def close(ev):
        disp.ExitLoop()

    win.On.OK.Clicked = close
    win.On.QuilletMessage.Close = close
    win.Show()
    disp.RunLoop()
    win.Hide()


def ask_choice(ui, disp, clips, notes, people, refused, settings, program, folder=""):
    """The settings dialog. Returns a Choice, or None when cancelled."""
    keep_before = set(settings.get("keep") or [])
    header = "%d clip(s) to mosaic." % len(clips)
    if notes:
        shown = notes[:4] + (["and %d more left out" % (len(notes) - 4)] if len(notes) > 4 else [])
        header += "\n" + "\n".join(shown)
    rows = [ui.Label({"ID": "Clips", "Text": header, "WordWrap": True})]
    if people:
        rows.append(ui.Label({"Text": "Leave these people visible:"}))
        for i, name in enumerate(people):
            rows.append(ui.CheckBox({"ID": "Person%d" % i, "Text": name,
                                     "Checked": name in keep_before}))
    else:
        rows.append(ui.Label({"Text": "Nobody is enrolled in %s yet: every face will be "
                                      "mosaicked." % folder, "WordWrap": True}))
    if refused:
        rows.append(ui.Label({"Text": "Not offered, rename the folder to use it: " +
                              ", ".join(refused), "WordWrap": True}))
    rows += [
        ui.HGroup([ui.Label({"Text": "Codec", "Weight": 0}), ui.ComboBox({"ID": "Codec"})]),
        ui.HGroup([ui.Label({"Text": "Hide faces with", "Weight": 0}),
                   ui.ComboBox({"ID": "Style"})]),
        ui.CheckBox({"ID": "Fast", "Text": "Fast mode (small faces in the background are more "
                                            "likely to be missed)",
                     "Checked": bool(settings.get("fast"))}),
        ui.CheckBox({"ID": "Thorough", "Text": "Thorough mode (slower, but finds more small, dim "
                                                "and turned faces)",
                     "Checked": bool(settings.get("thorough"))}),
        ui.HGroup([ui.Label({"Text": "Keep threshold", "Weight": 0}),
                   ui.LineEdit({"ID": "Threshold", "Text": settings.get("threshold") or "",
                                "PlaceholderText": "program default"})]),
        ui.HGroup([ui.Label({"Text": "qlcore program", "Weight": 0}),
                   ui.LineEdit({"ID": "Program", "Text": program or "",
                                "PlaceholderText": "full path of qlcore"})]),
        ui.Label({"ID": "Problem", "Text": "", "WordWrap": True}),
        ui.HGroup([ui.HGap(), ui.Button({"ID": "Cancel", "Text": "Cancel"}),
                   ui.Button({"ID": "Start", "Text": "Start"})]),
    ]
    win = disp.AddWindow({"ID": "QuilletDialog", "WindowTitle": "Quillet Mosaic",
                          "Geometry": [200, 200, 460, min(800, 300 + 24 * len(people))]},
                         ui.VGroup(rows))
    items = win.GetItems()
    items["Codec"].AddItems([label for label, _ in CODECS])
    values = [value for _, value in CODECS]
    codec = settings.get("codec")
    items["Codec"].CurrentIndex = values.index(codec) if codec in values else 0
    items["Style"].AddItems([label for label, _ in STYLES])
    styles = [value for _, value in STYLES]
    style = settings.get("style")
    items["Style"].CurrentIndex = styles.index(style) if style in styles else 0
    result = []

    def start(ev):
        threshold, problem = parse_threshold(items["Threshold"].Text)
        path = (items["Program"].Text or "").strip()
        if not problem and items["Fast"].Checked and items["Thorough"].Checked:
            problem = "Choose fast mode or thorough mode, not both."
        if not problem and not is_program(path):
            problem = ("Cannot run qlcore at '%s'. Give the full path of the program." % path
                       if path else "Where is qlcore? Give the full path of the program.")
        if problem:
            items["Problem"].Text = problem
            return
        keep = [name for i, name in enumerate(people) if items["Person%d" % i].Checked]
        index = items["Codec"].CurrentIndex
        codec = values[index] if 0 <= index < len(values) else values[0]
        sindex = items["Style"].CurrentIndex
        style = styles[sindex] if 0 <= sindex < len(styles) else styles[0]
        result.append(Choice(keep, codec, bool(items["Fast"].Checked), threshold,
                             os.path.abspath(path), style, bool(items["Thorough"].Checked)))
        disp.ExitLoop()

    def cancel(ev):
        disp.ExitLoop()

    win.On.Start.Clicked = start
    win.On.Cancel.Clicked = cancel
    win.On.QuilletDialog.Close = cancel
    win.Show()
    disp.RunLoop()
    win.Hide()
    return result[0] if result else None


def watch(ui, disp, run):
    """Shows progress until the program ends; Stop (or closing the window)
    asks it to stop. Returns the Outcome."""
    win = disp.AddWindow({"ID": "QuilletProgress", "WindowTitle": "Quillet Mosaic",
                          "Geometry": [200, 200, 460, 130]},
                         ui.VGroup([ui.Label({"ID": "Status", "Text": "Starting qlcore\u2026",
                                              "WordWrap": True}),
                                    ui.HGroup([ui.HGap(),
                                               ui.Button({"ID": "Stop", "Text": "Stop"})])]))
    items = win.GetItems()
    timer = ui.Timer({"ID": "QuilletPoll", "Interval": POLL_MS, "Events": {"Timeout": True}})

    def tick(ev):
        progress = run.poll()
        items["Status"].Text = ("Stopping\u2026\n" if run.stopped else "") + progress.text()
        if progress.finished:
            timer.Stop()
            disp.ExitLoop()

    def stop(ev):
        if run.proc.poll() is None:
            run.stop()
        else:  # ended between two ticks, or no tick ever came: let go anyway
            timer.Stop()
            disp.ExitLoop()

    disp["On"]["Timeout"] = tick
    win.On.Stop.Clicked = stop
    win.On.QuilletProgress.Close = stop
    win.Show()
    timer.Start()
    disp.RunLoop()
    win.Hide()
    return run.outcome()


# ---------------------------------------------------------------- the whole run


def process(project, clips, choice, ui=None, disp=None, env=None, home=None):
    """Writes the job, runs the program (with a progress window when there is
    a UI) and places the results. Returns (summary text, had problems)."""
    home = home_dir(env) if home is None else home
    try:
        job_dir = new_job_folder(home)
        write_job(job_dir, clips, choice.keep, choice.codec, choice.fast, choice.threshold,
                  style=choice.style, thorough=choice.thorough)
    except OSError as e:
        return "Could not write a job folder under %s: %s" % (home, e), True
    run = start_run(choice.program, job_dir, len(clips), env)
    if isinstance(run, Outcome):
        outcome = run
    elif ui is not None:
        outcome = watch(ui, disp, run)
    else:
        outcome = run.wait()
    placed = place_results(project.GetMediaPool(), outcome.results)
    return summary(clips, outcome, placed)


def main(resolve, ui, disp, env=None):
    """The menu entry. Returns the text of the last message shown."""
    env = os.environ if env is None else env

    def say(text):
        print(text)
        _message(ui, disp, text)
        return text

    project = resolve.GetProjectManager().GetCurrentProject() if resolve else None
    if not project:
        return say("Open a project first.")
    clips, notes = collect_sources(project)
    clips, refused_clips = usable_clips(clips)
    notes += refused_clips
    if not clips:
        return say("Select clips in the Media Pool, or open a timeline with clips on it.\n"
                   + "\n".join(notes))
    home = home_dir(env)
    settings = load_settings(home)
    folder = people_dir(env)
    people, refused = list_people(folder)
    program = find_program(settings.get("program"), script_dir(), env)
    choice = ask_choice(ui, disp, clips, notes, people, refused, settings, program, folder)
    if choice is None:
        return ""
    settings.update({"program": choice.program, "codec": choice.codec, "fast": choice.fast,
                     "thorough": choice.thorough,
                     "style": choice.style, "keep": choice.keep,
                     "threshold": "" if choice.threshold is None else repr(choice.threshold)})
    save_settings(home, settings)
    text, _ = process(project, clips, choice, ui, disp, env, home)
    return say(text)


def _resolve_handles():
    """resolve, ui and dispatcher: from the names Resolve gives menu scripts,
    else through the scripting module for runs from outside."""
    import builtins

    def given(name):
        # Depending on the version, Resolve puts these in the script's globals
        # or among the built-in names.
        return globals().get(name) or getattr(builtins, name, None)

    resolve, bmd = given("resolve"), given("bmd")
    if resolve is None or bmd is None:
        try:
            import DaVinciResolveScript as dvr  # noqa: the module is Resolve's own
        except ImportError:
            dvr = None
        if dvr is not None:
            bmd = bmd or dvr
            resolve = resolve or dvr.scriptapp("Resolve")
    if resolve is None and bmd is not None:
        resolve = bmd.scriptapp("Resolve")
    if resolve is None or bmd is None:
        raise RuntimeError("Run this from Resolve's Workspace > Scripts menu.")
    fusion = given("fusion") or given("fu") or resolve.Fusion()
    ui = fusion.UIManager
    return resolve, ui, bmd.UIDispatcher(ui)


# Resolve does not promise __name__ == "__main__" for menu scripts; only an
# import under the module name (the tests) leaves the menu entry unrun.
if __name__ != "quillet_mosaic":
    main(*_resolve_handles())
