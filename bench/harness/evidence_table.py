#!/usr/bin/python3
"""Sets two thorough harness runs side by side: exposures, false mosaics,
markers and weak-evidence mosaics per scene, as a Markdown table.

    evidence_table.py BEFORE.json BEFORE_WORK AFTER.json AFTER_WORK

BEFORE.json and AFTER.json are `qlharness --mode thorough` results; the WORK
folders are their --work folders, whose reports give the mosaics' spans.
"""

import glob
import json
import sys


def spans(work, scene, frames):
    """Weak-evidence mosaics (purple and cyan) a frame, and the share of
    frames with at least one, from the scene's report."""
    found = glob.glob(f"{work}/{scene}/out/*_mosaic.json")
    if not found or not frames:
        return None, None
    report = json.load(open(found[0]))
    total, touched = 0, set()
    for t in report["tracks"]:
        if t.get("review") not in ("weak-evidence", "failed-checks") or t["keep"]:
            continue
        total += t["end"] - t["start"] + 1
        touched.update(range(max(0, t["start"]), min(frames, t["end"] + 1)))
    return total / frames, len(touched) / frames


def row(s, work):
    q = s.get("quality") or {}
    foot = s.get("footage") or {}
    flagged = q.get("flagged") or foot.get("flagged") or {}
    cyan_false = q.get("failed_check_mosaics", 0) - q.get("failed_check_mosaics_on_faces", 0)
    per_frame, share = spans(work, s["scene"], s["frames"])
    return {
        "scored": q.get("scored_face_frames"),
        "exposed": q.get("exposed_face_frames"),
        "false": q.get("false_mosaic_tracks"),
        "false_weak": None if not q else q.get("weak_mosaics_false", 0) + cyan_false,
        "no_face": q.get("mosaics_over_no_face"),
        "no_face_weak": q.get("weak_mosaics_over_no_face"),
        "markers": flagged.get("markers"),
        "per_frame": per_frame,
        "share": share,
    }


def pct(v):
    return None if v is None else f"{100 * v:.0f} %"


def cell(v, bold=False, fmt="{}"):
    text = "—" if v is None else fmt.format(v)
    return f"**{text}**" if bold and v is not None else text


def main():
    before_json, before_work, after_json, after_work = sys.argv[1:5]
    before = {s["scene"]: s for s in json.load(open(before_json))["scenes"]}
    after = json.load(open(after_json))["scenes"]
    print("| clip | what | size | frames | scored face-frames | exposed, before | **exposed, after** "
          "| false mosaics, before (weak-evidence) | **false mosaics, after** (weak-evidence) "
          "| over no face, before (weak-evidence) | **over no face, after** (weak-evidence) "
          "| markers, before | **markers, after** | weak-evidence mosaics a frame, before | **after** "
          "| frames touched, before | **after** |")
    print("|" + "---|" * 17)
    totals = {}
    for s in after:
        b, a = row(before[s["scene"]], before_work), row(s, after_work)
        for side, r in (("before", b), ("after", a)):
            for k, v in r.items():
                if isinstance(v, int):
                    totals[(side, k)] = totals.get((side, k), 0) + v
        pair = lambda r, k, w: f"{cell(r[k])} ({cell(r[w])})" if r[k] is not None else "—"
        print(f"| {s['scene']} | {s['what']} | {s['size']} | {s['frames']} | {cell(a['scored'])} "
              f"| {cell(b['exposed'])} | {cell(a['exposed'], True)} "
              f"| {pair(b, 'false', 'false_weak')} | **{pair(a, 'false', 'false_weak')}** "
              f"| {pair(b, 'no_face', 'no_face_weak')} | **{pair(a, 'no_face', 'no_face_weak')}** "
              f"| {cell(b['markers'])} | {cell(a['markers'], True)} "
              f"| {cell(b['per_frame'], fmt='{:.2f}')} | {cell(a['per_frame'], True, '{:.2f}')} "
              f"| {cell(pct(b['share']))} | {cell(pct(a['share']), True)} |")
    print()
    for k in ("scored", "exposed", "false", "false_weak", "no_face", "no_face_weak", "markers"):
        print(f"total {k}: before {totals.get(('before', k))}, after {totals.get(('after', k))}")


if __name__ == "__main__":
    main()
