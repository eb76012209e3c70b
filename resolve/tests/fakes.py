"""Stand-ins for the Resolve scripting objects and the UI manager the script
uses, plus a generated stand-in for the qlcore program.

Method names and parameter names follow Resolve's scripting README
(Developer/Scripting/README.txt, "Last Updated: 7 May 2025") and the UI
manager notes (ResolveDevDoc: UI dispatcher functions, element attributes,
events and functions). DOCUMENTED holds the README's signatures of every
method faked here; test_fakes keeps the fakes to it, so a call the real API
does not have fails here as it would in Resolve.
"""

import importlib.util
import json
import os
import stat
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SCRIPT = os.path.join(os.path.dirname(HERE), "Quillet Mosaic.py")

# class -> {method: parameter names}, as printed in the README.
DOCUMENTED = {
    "Resolve": {"Fusion": (), "GetProjectManager": ()},
    "ProjectManager": {"GetCurrentProject": ()},
    "Project": {"GetMediaPool": (), "GetCurrentTimeline": ()},
    "MediaPool": {
        "GetRootFolder": (),
        "AddSubFolder": ("folder", "name"),
        "GetCurrentFolder": (),
        "SetCurrentFolder": ("Folder",),
        "ImportMedia": ("items",),
        "GetSelectedClips": (),
    },
    "Folder": {"GetClipList": (), "GetName": (), "GetSubFolderList": ()},
    "MediaPoolItem": {
        "GetName": (),
        "GetClipProperty": ("propertyName",),
        "AddMarker": ("frameId", "color", "name", "note", "duration", "customData"),
        "GetMarkers": (),
        "DeleteMarkerAtFrame": ("frameNum",),
    },
    "Timeline": {"GetTrackCount": ("trackType",), "GetItemListInTrack": ("trackType", "index")},
    "TimelineItem": {"GetName": (), "GetMediaPoolItem": ()},
}

# The marker colours Resolve offers.
MARKER_COLORS = ("Blue", "Cyan", "Green", "Yellow", "Red", "Pink", "Purple", "Fuchsia", "Rose",
                 "Lavender", "Sky", "Mint", "Lemon", "Sand", "Cocoa", "Cream")


def load_script():
    """The script as the module quillet_mosaic (the name that keeps its menu
    entry from running)."""
    if "quillet_mosaic" not in sys.modules:
        spec = importlib.util.spec_from_file_location("quillet_mosaic", SCRIPT)
        module = importlib.util.module_from_spec(spec)
        sys.modules["quillet_mosaic"] = module
        spec.loader.exec_module(module)
    return sys.modules["quillet_mosaic"]


# ---------------------------------------------------------------- Resolve


class MediaPoolItem(object):
    def __init__(self, path, frames=1000):
        self._path, self._frames, self._markers = path, frames, {}
        self.add_marker_calls = []

    def GetName(self):
        return os.path.basename(self._path)

    def GetClipProperty(self, propertyName=None):
        props = {"File Path": self._path, "Clip Name": self.GetName(), "Frames": str(self._frames)}
        if not propertyName:
            return props
        return props.get(propertyName, "")

    def AddMarker(self, frameId, color, name, note, duration, customData=""):
        self.add_marker_calls.append((frameId, color, name, note, duration, customData))
        frame = float(frameId)
        # Resolve refuses a second marker on a frame, an unknown colour and a
        # marker outside the clip.
        if frame in self._markers or color not in MARKER_COLORS:
            return False
        if not 0 <= frame < self._frames or duration < 1:
            return False
        self._markers[frame] = {"color": color, "duration": float(duration), "note": note,
                                "name": name, "customData": customData}
        return True

    def GetMarkers(self):
        return {frame: dict(info) for frame, info in self._markers.items()}

    def DeleteMarkerAtFrame(self, frameNum):
        return self._markers.pop(float(frameNum), None) is not None


class Folder(object):
    def __init__(self, name):
        self._name, self._clips, self._subfolders = name, [], []

    def GetClipList(self):
        return list(self._clips)

    def GetName(self):
        return self._name

    def GetSubFolderList(self):
        return list(self._subfolders)


class MediaPool(object):
    def __init__(self):
        self._root = Folder("Master")
        self._current = self._root
        self.selected = []
        self.refuse_import = set()
        self.import_calls = []

    def GetRootFolder(self):
        return self._root

    def AddSubFolder(self, folder, name):
        sub = Folder(name)
        folder._subfolders.append(sub)
        return sub

    def GetCurrentFolder(self):
        return self._current

    def SetCurrentFolder(self, Folder):
        self._current = Folder
        return True

    def ImportMedia(self, items):
        self.import_calls.append((list(items), self._current))
        created = []
        for path in items:
            if os.path.isfile(path) and path not in self.refuse_import:
                item = MediaPoolItem(path)
                self._current._clips.append(item)
                created.append(item)
        return created

    def GetSelectedClips(self):
        return list(self.selected)


class OldMediaPool(MediaPool):
    """A Resolve older than 19.0.2, which has no GetSelectedClips."""

    def __getattribute__(self, name):
        if name == "GetSelectedClips":
            raise AttributeError(name)
        return object.__getattribute__(self, name)


class TimelineItem(object):
    def __init__(self, media_pool_item, name="item"):
        self._item, self._name = media_pool_item, name

    def GetName(self):
        return self._name

    def GetMediaPoolItem(self):
        return self._item


class Timeline(object):
    def __init__(self, video_tracks=(), audio_tracks=()):
        self._tracks = {"video": [list(t) for t in video_tracks],
                        "audio": [list(t) for t in audio_tracks], "subtitle": []}

    def GetTrackCount(self, trackType):
        return len(self._tracks[trackType])

    def GetItemListInTrack(self, trackType, index):
        tracks = self._tracks[trackType]
        return list(tracks[index - 1]) if 1 <= index <= len(tracks) else None


class Project(object):
    def __init__(self, media_pool=None, timeline=None):
        self._pool, self._timeline = media_pool or MediaPool(), timeline

    def GetMediaPool(self):
        return self._pool

    def GetCurrentTimeline(self):
        return self._timeline


class ProjectManager(object):
    def __init__(self, project):
        self._project = project

    def GetCurrentProject(self):
        return self._project


class Resolve(object):
    def __init__(self, project, fusion=None):
        self._pm, self._fusion = ProjectManager(project), fusion

    def GetProjectManager(self):
        return self._pm

    def Fusion(self):
        return self._fusion


class Fusion(object):
    """fusion.UIManager, as Resolve's UI manager notes use it."""

    def __init__(self, ui):
        self.UIManager = ui


class Bmd(object):
    """The `bmd` module Resolve hands to menu scripts."""

    def __init__(self, resolve, dispatcher):
        self._resolve, self._dispatcher = resolve, dispatcher

    def scriptapp(self, name):
        return self._resolve if name == "Resolve" else None

    def UIDispatcher(self, ui):
        return self._dispatcher


# ---------------------------------------------------------------- UI manager


# The attributes each element may be given or have set, from the UI manager
# notes; anything else is a mistake the real UI would not show.
_COMMON = {"ID", "Weight", "Enabled", "Hidden", "Visible", "ToolTip", "StyleSheet", "Events"}
ELEMENT_PROPS = {
    "Label": {"Text", "WordWrap", "Alignment"},
    "CheckBox": {"Text", "Checked"},
    "ComboBox": {"CurrentIndex", "Editable"},
    "LineEdit": {"Text", "PlaceholderText", "ReadOnly"},
    "TextEdit": {"Text", "PlaceholderText", "ReadOnly"},
    "Button": {"Text"},
    "HGap": set(), "VGap": set(), "HGroup": {"Spacing"}, "VGroup": {"Spacing"},
    "Timer": {"Interval", "SingleShot"},
}
WINDOW_PROPS = {"ID", "WindowTitle", "Geometry", "FixedSize", "MinimumSize"}


class Element(object):
    _DEFAULTS = {"Label": {"Text": ""}, "CheckBox": {"Text": "", "Checked": False},
                 "LineEdit": {"Text": ""}, "TextEdit": {"Text": ""}, "Button": {"Text": ""},
                 "ComboBox": {"CurrentIndex": -1}}

    def __init__(self, kind, props=None, children=None):
        object.__setattr__(self, "kind", kind)
        object.__setattr__(self, "children", list(children or []))
        object.__setattr__(self, "_items", [])
        object.__setattr__(self, "active", False)
        for key, value in self._DEFAULTS.get(kind, {}).items():
            setattr(self, key, value)
        for key, value in (props or {}).items():
            setattr(self, key, value)

    def __setattr__(self, name, value):
        if name not in _COMMON | ELEMENT_PROPS[self.kind]:
            raise AttributeError("a %s has no attribute %s" % (self.kind, name))
        object.__setattr__(self, name, value)

    # ComboBox
    def AddItem(self, text):
        self.AddItems([text])

    def AddItems(self, texts):
        self._items.extend(texts)
        if self.CurrentIndex < 0 and self._items:
            self.CurrentIndex = 0

    @property
    def CurrentText(self):
        return self._items[self.CurrentIndex] if 0 <= self.CurrentIndex < len(self._items) else ""

    # Timer
    def Start(self):
        object.__setattr__(self, "active", True)

    def Stop(self):
        object.__setattr__(self, "active", False)

    def walk(self):
        yield self
        for child in self.children:
            for e in child.walk():
                yield e


def _group_args(args):
    if len(args) == 2:
        return args[0], args[1]
    return {}, args[0] if args else []


class UIManager(object):
    def __init__(self):
        self.timers = []

    def _element(kind):
        def make(self, props=None):
            return Element(kind, props)
        return make

    Label = _element("Label")
    CheckBox = _element("CheckBox")
    ComboBox = _element("ComboBox")
    LineEdit = _element("LineEdit")
    TextEdit = _element("TextEdit")
    Button = _element("Button")
    HGap = _element("HGap")
    VGap = _element("VGap")

    def VGroup(self, *args):
        props, children = _group_args(args)
        return Element("VGroup", props, children)

    def HGroup(self, *args):
        props, children = _group_args(args)
        return Element("HGroup", props, children)

    def Timer(self, props=None):
        timer = Element("Timer", props)
        self.timers.append(timer)
        return timer


class _Handlers(object):
    """win.On.ID: event name -> handler."""

    def __init__(self):
        object.__setattr__(self, "events", {})

    def __setattr__(self, name, fn):
        self.events[name] = fn

    def __getattr__(self, name):
        try:
            return self.events[name]
        except KeyError:
            raise AttributeError(name)


class _On(object):
    def __init__(self):
        object.__setattr__(self, "ids", {})

    def __getattr__(self, element_id):
        return self.ids.setdefault(element_id, _Handlers())

    __getitem__ = __getattr__


class Window(object):
    def __init__(self, props, root):
        self.props, self.root, self.On = props, root, _On()
        self.shown = False

    def GetItems(self):
        return {e.ID: e for e in self.root.walk() if hasattr(e, "ID")}

    def Find(self, element_id):
        return self.GetItems().get(element_id)

    def Show(self):
        self.shown = True

    def Hide(self):
        self.shown = False

    # for the tests
    def fire(self, element_id, event):
        handlers = self.On.ids.get(element_id)
        fn = handlers.events.get(event) if handlers else None
        if fn is None:
            raise AssertionError("no %s handler on %s" % (event, element_id))
        fn({"who": element_id, "what": event})


class Dispatcher(object):
    """RunLoop hands the window just shown to `driver` (the simulated
    editor), then delivers timer ticks until ExitLoop."""

    def __init__(self, ui, driver=None, tick_seconds=0.02, limit_seconds=30):
        self.ui, self.driver = ui, driver or (lambda window: None)
        self.tick_seconds, self.limit_seconds = tick_seconds, limit_seconds
        self.windows, self.shown_log = [], []
        self._on = {}
        self._running = False

    def __getitem__(self, key):
        if key != "On":
            raise KeyError(key)
        return self._on

    def AddWindow(self, props, child):
        unknown = set(props) - WINDOW_PROPS
        if unknown:
            raise AttributeError("a window has no attribute %s" % sorted(unknown))
        window = Window(props, child)
        self.windows.append(window)
        return window

    def ExitLoop(self, code=0):
        self._running = False

    def RunLoop(self):
        window = [w for w in self.windows if w.shown][-1]
        self.shown_log.append(window)
        self._running = True
        self.driver(window)
        deadline = time.time() + self.limit_seconds
        while self._running:
            if time.time() > deadline:
                raise AssertionError("the dialog %s never ended its loop" % window.props["ID"])
            if any(t.active for t in self.ui.timers) and "Timeout" in self._on:
                self._on["Timeout"]({"what": "Timeout"})
            elif not any(t.active for t in self.ui.timers):
                raise AssertionError("%s waits for input nobody gives" % window.props["ID"])
            time.sleep(self.tick_seconds)
        return 0


def click_through(choices):
    """A driver that answers each window by its ID: choices[ID](window)."""

    def driver(window):
        answer = choices.get(window.props["ID"])
        if answer:
            answer(window)

    return driver


def press_ok(window):
    window.fire("OK", "Clicked")


# ---------------------------------------------------------------- qlcore


FAKE_PROGRAM = r'''#!/usr/bin/python3
# A stand-in for qlcore: follows the plan below for `process --job DIR`.
import json, os, signal, sys, time
plan = json.loads(%(plan)r)
job = sys.argv[3]
with open(os.path.join(job, "..", "fake-calls.jsonl"), "a") as f:
    f.write(json.dumps({"argv": sys.argv[1:], "files": {
        n: open(os.path.join(job, n)).read() for n in ("clips.txt", "keep.txt", "options.txt")
        if os.path.exists(os.path.join(job, n))}}) + "\n")
clips = [l.strip() for l in open(os.path.join(job, "clips.txt")) if l.strip()]
def pause(seconds):
    # With "honour_stop", a stop file in the job folder ends it as qlcore does.
    end = time.time() + seconds
    while time.time() < end:
        if plan.get("honour_stop") and os.path.exists(os.path.join(job, "stop")):
            print("Interrupted: stopped before finishing", file=sys.stderr, flush=True)
            sys.exit(130)
        time.sleep(0.02)
lines = []
for number, clip in enumerate(clips, 1):
    print("\n[%%d/%%d]" %% (number, len(clips)), flush=True)
    step = plan["clips"].get(clip)
    if step is None:
        print("  failed", flush=True)
        continue
    pause(plan.get("sleep", 0))
    if step.get("write_output", True):
        os.makedirs(os.path.dirname(step["output"]), exist_ok=True)
        open(step["output"], "wb").write(b"video")
    lines.append("CLIP\t%%s\t%%s" %% (clip, step["output"]))
    for m in step.get("markers", []):
        lines.append("MARK\t%%s\t%%d\t%%d\t%%s\t%%s\t%%s" %% ((step["output"],) + tuple(m)))
    with open(os.path.join(job, "results.tsv"), "w") as f:
        f.write("".join(l + "\n" for l in lines))
if plan.get("message"):
    print(plan["message"], file=sys.stderr, flush=True)
if plan.get("done_flag", True):
    open(os.path.join(job, "done.flag"), "w").write("2026-03-01 14:05:09")
sys.exit(plan.get("status", 0))
'''


def make_fake_program(folder, plan):
    """Writes an executable stand-in for qlcore into `folder`. plan: "clips"
    (clip path -> {"output", "markers": [(frame, duration, color, name,
    note)], "write_output"}), "status", "done_flag", "message", "sleep",
    "honour_stop"."""
    path = os.path.join(folder, "qlcore")
    with open(path, "w") as f:
        f.write(FAKE_PROGRAM % {"plan": json.dumps(plan)})
    os.chmod(path, os.stat(path).st_mode | stat.S_IXUSR | stat.S_IXGRP | stat.S_IXOTH)
    return path


def fake_calls(home):
    """What each run of the stand-in saw: argv and the job files."""
    path = os.path.join(home, "jobs", "fake-calls.jsonl")
    if not os.path.exists(path):
        return []
    with open(path) as f:
        return [json.loads(line) for line in f]
