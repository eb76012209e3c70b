#!/usr/bin/python3
"""Writes BENCHMARKS.md from the harness's results and the machine's facts.

    write_report.py RESULTS.json MACHINE.json OUT.md [EXTRA.txt ...] [--compare OTHER.json]

MACHINE.json holds what scripts/bench gathered (cpu, cores, date, commit,
load averages); each EXTRA.txt is the printed output of one bench/*_bench
program, quoted as it is. OTHER.json is a harness run in another mode
(`qlharness --mode thorough`), set beside this one in the exposure table.
"""

import json
import os
import re
import sys


def pct(v, places=1):
    return "—" if v is None else f"{100 * v:.{places}f} %"


def mib(kib):
    return f"{kib / 1024:.0f} MiB"


def quality_section(scenes):
    out = [
        "## Privacy quality",
        "",
        "Each clip is composed from the face photos in `../shared/testdata/faces` over a calm background "
        "with a fixed fine grain, so every face box is known in every frame. `qlcore process` runs on it "
        "through the test installation (real detector, stand-in recogniser; a kept face is the enrolled "
        "picture itself, `threshold=0.9`), and the output is measured against the ground truth:",
        "",
        "- **leaked**: face-frames of a person not kept in which the real detector (the program's own "
        "`detect`, score ≥ 0.42, at the search size) still finds a face at the ground-truth box "
        "(detection centre inside the box, width 0.3–2 × the box's). Must be 0.",
        "- **hidden face-frames**: face-frames of people not kept that are at least partly on screen; "
        "*found* = how many of them the program's own search detected in the source (the rest were "
        "too far out of the frame or behind the pillar to be found at all).",
        "- **coverage**: share of the visible part of each hidden face box that is pixelated, over the "
        "face-frames in which at least half the box is on screen (mean, worst frame, and share of "
        "face-frames covered ≥ 99 %). Pixelated pixels are measured on the output: the 5×5 mean "
        "of |output − source| in luma is ≥ 1.6 (the grain gives about 3 inside a mosaic cell, the "
        "encoder alone stays near 0.9).",
        "- **flicker**: frames in which a face on screen is uncovered (coverage < 50 %) between two "
        "covered frames of the same stretch on screen.",
        "- **kept**: share of the frames in which the search found a kept face where the detector still "
        "finds it in the output.",
        "- **over-mosaic**: pixelated area outside every face box, as a share of the frame (mean over "
        "frames; by design the mosaic is 1.45 × 1.65 of the box, so some is expected). *planned* is "
        "the same figure from the program's own plan (its report and analysis cache, re-derived "
        "with `track_boxes` and `mosaic_rect`), as a check on the pixel measurement.",
        "- **gap**: longest run of frames between two detections of one face by the search "
        "(the tracker's gap limit is 20).",
        "",
        "| clip | what | size | frames | hidden face-frames (found) | **leaked** | coverage mean / worst / ≥ 99 % | flicker | kept | over-mosaic (planned) | gap | tracks mosaic / kept / ignored |",
        "|---|---|---|---|---|---|---|---|---|---|---|---|",
    ]
    leaks, lost = [], []
    for s in scenes:
        q = s.get("quality")
        if "error" in s:
            last = (s["error"].strip().splitlines() or ["?"])[-1]
            out.append(f"| {s['scene']} | {s['what']} | {s['size']} | {s['frames']} | "
                       f"the run failed: {last} | | | | | | | |")
            continue
        if q is None:
            continue
        t = q["tracks"]
        size = s["size"] + (" 10-bit" if s["bits"] == 10 else "")
        out.append(
            f"| {s['scene']} | {s['what']} | {size} | {q['frames_measured']} | "
            f"{q['hidden_face_frames']} ({q['hidden_found_by_search']}) | **{q['leaked_face_frames']}** | "
            f"{pct(q['coverage_mean'])} / {pct(q['coverage_min'])} / {pct(q['coverage_full_share'], 0)} | "
            f"{q['flicker_frames']} | {pct(q['kept_visible_share'], 0) if q['kept_face_frames'] else '—'} | "
            f"{pct(q['over_mosaic_mean'], 2)} ({pct(q['planned_over_mosaic_mean'], 2)}) | "
            f"{q['longest_detection_gap']} | {t['mosaic']} / {t['keep']} / {t['ignored']} |")
        for l in q["leaks"]:
            leaks.append((s["scene"], l))
        if q.get("kept_lost_frames"):
            lost.append((s["scene"], q["kept_lost_frames"]))
    out.append("")
    total = sum(s.get("quality", {}).get("leaked_face_frames", 0) for s in scenes)
    out.append(f"Leaked face-frames in all clips: **{total}**.")
    out.append("")
    for scene, frames in lost:
        out.append(f"In {scene} the kept face did not show as a face in frames "
                   f"{', '.join(str(f) for f in frames)} of the output.")
        out.append("")
    if leaks:
        out += [
            "### Leaked face-frames by face",
            "",
            "*cause* is read off the measurement: a leak inside a fully pixelated box means the detector "
            "still takes the mosaic for a face; an uncovered one, that the mosaic was missing there.",
            "",
            "| clip | face | leaked frames | detector score | coverage (planned) | program's verdict | cause |",
            "|---|---|---|---|---|---|---|",
        ]
        groups = {}
        for scene, l in leaks:
            groups.setdefault((scene, l["face"]), []).append(l)
        for (scene, face), ls in groups.items():
            frames = [l["frame"] for l in ls]
            scores = [l["score"] for l in ls]
            cov = min(l["coverage"] for l in ls)
            pcov = min(l["planned_coverage"] for l in ls)
            verdicts = sorted({f"track {l['program_track']}: {l['program_verdict']}"
                               if l["program_track"] is not None else l["program_verdict"] for l in ls})
            if cov >= 0.99:
                cause = "face fully pixelated; the detector still finds a face in the mosaic"
            elif pcov >= 0.99:
                cause = "planned but not pixelated in the output"
            else:
                cause = "no mosaic planned there"
            out.append(
                f"| {scene} | {face} | {len(frames)}: {', '.join(str(f) for f in frames)} | "
                f"{min(scores)}–{max(scores)} | ≥ {pct(cov, 0)} (≥ {pct(pcov, 0)}) | "
                f"{'; '.join(verdicts)} | {cause} |")
        out.append("")
    return out


def exposure_section(scenes, other):
    """Exposed face-frames and false mosaics per scene, in this run's mode and
    (when given) another's."""
    mode = other.get("mode", "other") if other else "thorough"
    theirs = {s["scene"]: s for s in (other or {}).get("scenes", [])}
    out = [
        "## Exposed face-frames",
        "",
        "On every quality clip and on the clips made hard for the search (dim, blurred, tiny, cut by "
        "the frame edges, tilted; hands for false alarms). A face-frame is **exposed** when less than "
        "90 % of the visible part of a ground-truth face box is pixelated (same pixel measure as "
        "above), over the face-frames in which at least a quarter of the box is on screen "
        "(*scored*). *False mosaics*: mosaicked tracks whose detections are mostly on no face, and "
        "frames in which at least a quarter of a hand is pixelated. *Flagged*: mosaics marked \"may not be "
        "a face\" (every re-check failed), with how many were mostly on a face. *Search* is the search pass's "
        "time from the program's own progress line; the ratio is the other mode's over the default's.",
        "",
        f"| clip | what | size | frames | scored face-frames | **exposed**, default | **exposed**, {mode} | "
        f"false mosaics (tracks / hand frames), default | false mosaics, {mode} | "
        f"flagged (on faces), {mode} | search, default | search ratio, {mode} |",
        "|---|---|---|---|---|---|---|---|---|---|---|---|",
    ]

    def cells(s):
        q = (s or {}).get("quality")
        if not q or "exposed_face_frames" not in q:
            return "", "", ""
        hands = f"{q['lure_mosaic_frames']} of {q['lure_frames']}" if q["lure_frames"] else "—"
        flagged = (f"{q['failed_check_mosaics']} ({q['failed_check_mosaics_on_faces']})"
                   if "failed_check_mosaics" in q else "—")
        return f"**{q['exposed_face_frames']}**", f"{q['false_mosaic_tracks']} / {hands}", flagged

    for s in scenes:
        q = s.get("quality")
        if not q or "exposed_face_frames" not in q:
            continue
        mine, other_s = cells(s), cells(theirs.get(s["scene"]))
        secs = s["process"].get("search_seconds")
        ratio = ""
        o = theirs.get(s["scene"])
        if secs and o and o["process"].get("search_seconds"):
            ratio = f"{o['process']['search_seconds'] / secs:.2f}"
        out.append(
            f"| {s['scene']} | {s['what']} | {s['size']} | {q['frames_measured']} | "
            f"{q['scored_face_frames']} | {mine[0]} | {other_s[0]} | {mine[1]} | {other_s[1]} | "
            f"{other_s[2]} | {'' if secs is None else f'{secs:.1f} s'} | {ratio} |")
    out.append("")
    return out


def strength_section(rows):
    if not rows:
        return []
    counts = list(rows[0]["found_after"].keys())
    out = [
        "## Mosaic strength against the detector",
        "",
        "Faces of each width (frame pixels) are composed as above, pixelated with the program's "
        "rectangle (`mosaic_rect`) and `pixelate` on the YUV planes, with the block size set for "
        f"{', '.join(counts[:-1])} or {counts[-1]} blocks across the face width (the program uses "
        "`BLOCKS_ACROSS` = 6, never below 4 pixels), and searched again with the program's "
        "detector. Each cell: faces still found / faces pixelated.",
        "",
        "| face width | found before pixelation | " + " | ".join(f"found after, {c} across" for c in counts) + " |",
        "|---" * (2 + len(counts)) + "|",
    ]
    for r in rows:
        n = r["faces"]
        out.append(f"| {r['width']} px | {r['found_unpixelated']} / {n} | " +
                   " | ".join(f"{r['found_after'][c]} / {n}" for c in counts) + " |")
    out.append("")
    return out + styles_section(rows)


def styles_section(rows):
    if "found_after_style" not in rows[0]:
        return []
    styles = list(rows[0]["found_after_style"].keys())
    figures = list(rows[0]["found_after_figures"].keys())

    def table(keys, head):
        lines = ["| face width | found before | " + " | ".join(head(k) for k in keys) + " |",
                 "|---" * (2 + len(keys)) + "|"]
        for r in rows:
            n = r["faces"]
            cells = {**r["found_after_style"], **r["found_after_figures"]}
            lines.append(f"| {r['width']} px | {r['found_unpixelated']} / {n} | " +
                         " | ".join(f"{cells[k]} / {n}" for k in keys) + " |")
        return lines + [""]

    return [
        "## Hiding styles against the detector",
        "",
        "The same faces hidden with `hide_yuv` in each style, with the program's figures: "
        "`mosaic` is the program's mosaic; `coarse`, `blur` and `solid` cover the head rectangle "
        "(`cover_rect`: 1.6 × the box width, 1.9 × its height, centre raised by 0.2 box heights); "
        "`coarse` has 3 blocks across the face width (rounded up to even pixels, never under 6), "
        "`blur` a Gaussian of sigma 0.5 × the face width feathered over 4 pixels, `solid` the "
        "region's mean on each plane. Each cell: faces still found / faces hidden.",
        "",
        "![One face in each style: mosaic, coarse, blur, solid](docs/styles.png)",
        "",
    ] + table(styles, lambda k: f"`{k}`") + [
        "The other figures the styles' defaults were chosen among (everything else as above):",
        "",
    ] + table(figures, lambda k: k)


STEPS = ["models", "gallery", "probe", "first-frame size", "cache read", "search", "cache write",
         "verdicts", "encode pass", "mux", "report", "review page"]


def step_cells(steps, total):
    cells = [f"{steps[k]:.2f}" if k in steps else "n/a" for k in STEPS]
    # Start-up, the skip test, the output folder, the exit: what no step covers.
    rest = total - sum(steps.values())
    return cells + [f"{rest:.2f}"]


def speed_section(scenes):
    rows = [s for s in scenes if "speed" in s]
    out = [
        "## Speed",
        "",
        "On the same clips, in the same run. The **search** pass (`analyse`: decoding at search size, "
        "detection, tracking, re-checks) is set beside its limit, decoding at search size with "
        "`FFReader` plus the bare detector on every frame. The **render** pass (`encode_pass`: "
        "decoding as planar YUV, pixelating, piping into the encoder) is set beside a plain `ffmpeg` "
        "transcode of the clip with the same encoder entry and colour tags. *ratio* = the pass's fps "
        "÷ its limit's fps (1.0 = as fast as the unavoidable work). *End to end* is one "
        "`qlcore process` run (probe, search, verdicts, render, mux, report) of the test "
        "installation, and in brackets its time over the limit's search plus the transcode; "
        "*per minute* scales it to one minute of footage. *Peak memory* is the program's own peak "
        "resident set (its `QLCORE_TIMINGS` line), and in brackets the largest peak of any process "
        "of the run (the program or one of its `ffmpeg` children). *Rerun* is the same job again "
        "after its overrides changed, so the search comes from the analysis cache; each rerun is "
        "paired with a plain transcode, the two run in alternating order, and *vs transcode* is the "
        "median of the pairs' ratios (each pair's ratio in brackets).",
        "",
        "| clip | frames | search fps (limit, ratio) | render fps (limit, ratio) | end to end (vs limit) | per minute of footage | peak memory | rerun (search cached), median | transcode, median | rerun vs transcode |",
        "|---|---|---|---|---|---|---|---|---|---|",
    ]
    for s in rows:
        p = s["speed"]
        size = p["size"] + f" {p['bits']}-bit"
        se, re_ = p["search"], p["render"]
        cached = "" if p["rerun_reused_search"] else " (cache not used!)"
        pairs = ", ".join(f"{r:.2f}" for r in p.get("rerun_vs_transcode_pairs", []))
        own = p.get("peak_kib_own") or p["peak_kib_program"]
        out.append(
            f"| {size}, search at {p['search_size']} | {p['frames']} | "
            f"{se['fps']} ({se['limit_fps']}, {se['ratio']:.2f}) | "
            f"{re_['fps']} ({re_['limit_fps']}, {re_['ratio']:.2f}) | {p['end_to_end_seconds']:.1f} s "
            f"(× {p.get('end_to_end_vs_limit', 0):.2f}) | "
            f"{p['seconds_per_minute']:.0f} s ({p['seconds_per_minute'] / 60:.1f} × real time) | "
            f"{mib(own)} ({mib(p['peak_kib_largest_process'])}) | "
            f"{p['rerun_seconds']:.1f} s{cached} | {p.get('transcode_seconds', re_['limit_seconds']):.1f} s | "
            f"× {p['rerun_vs_transcode']:.2f} ({pairs}) |")
    if rows:
        out.append("")
        out.append(f"Encoder entry: `{rows[0]['speed']['encoder']}` (the default codec, ProRes).")
        out.append("")
    if rows and "steps_cold" in rows[0]["speed"]:
        out += [
            "### Each step of one run",
            "",
            "Seconds per step as the program times them itself (`QLCORE_TIMINGS=1`: one line per step "
            "on standard error, outputs unchanged). *cold* is the end-to-end run above (the search "
            "runs and is cached), *cached* the median of the reruns (the search read from the "
            "cache). The probe and the first-frame size run side by side: *first-frame size* is what "
            "is left of its wait once the probe is done. *encode pass* is decoding, hiding and "
            "encoding; *mux* joins the video with the source's audio, metadata and timecode. "
            "*other* is the run's wall time that no step covers (starting the program, the skip "
            "test, the output folder). *n/a*: a step this kind of run does not take.",
            "",
            "| clip | run | " + " | ".join(STEPS) + " | other | total |",
            "|---|---|" + "---|" * (len(STEPS) + 2),
        ]
        for s in rows:
            p = s["speed"]
            size = p["size"] + f" {p['bits']}-bit"
            cold = p["steps_cold"]
            out.append(f"| {size} | cold | " + " | ".join(step_cells(cold, p["end_to_end_seconds"])) +
                       f" | {p['end_to_end_seconds']:.2f} |")
            cached = p["steps_cached"]
            out.append(f"| {size} | cached | " + " | ".join(step_cells(cached, p["rerun_seconds"])) +
                       f" | {p['rerun_seconds']:.2f} |")
        out.append("")
    return out


def reruns_section(scenes):
    rows = [s for s in scenes if "reruns" in s]
    if not rows:
        return []
    out = [
        "### Reruns of a longer clip",
        "",
        "The same rerun against the same transcode on a 20-second clip, where what a run costs "
        "besides its frames (starting the program, the probe, the first-frame size) weighs as on a "
        "short interview clip rather than on three seconds of footage. Alternating pairs, medians.",
        "",
        "| clip | frames | rerun (search cached), median | transcode, median | rerun vs transcode | "
        "encode pass | mux | probe + first-frame size | other |",
        "|---|---|---|---|---|---|---|---|---|",
    ]
    for s in rows:
        p = s["reruns"]
        st = p["steps_cached"]
        pairs = ", ".join(f"{r:.2f}" for r in p["rerun_vs_transcode_pairs"])
        cached = "" if p["rerun_reused_search"] else " (cache not used!)"
        fixed = st.get("probe", 0) + st.get("first-frame size", 0)
        other = p["rerun_seconds"] - sum(st.values())
        out.append(f"| {s['size']} {s['bits']}-bit | {s['frames']} | {p['rerun_seconds']:.1f} s{cached} | "
                   f"{p['transcode_seconds']:.1f} s | × {p['rerun_vs_transcode']:.2f} ({pairs}) | "
                   f"{st.get('encode pass', 0):.2f} s | {st.get('mux', 0):.2f} s | {fixed:.2f} s | "
                   f"{other:.2f} s |")
    out.append("")
    return out


def review_section(scenes):
    rows = [s for s in scenes if s.get("review_page")]
    if not rows:
        return []
    out = [
        "## Review page",
        "",
        "The page `qlcore process` wrote beside each clip's output: one card per track of the "
        "search, live or ignored, each with two embedded JPEGs at most 160 px high.",
        "",
        "| clip | size | frames | cards | page |",
        "|---|---|---|---|---|",
    ]
    for s in rows:
        p = s["review_page"]
        out.append(f"| {s['scene']} | {s['size']} | {s['frames']} | {p['cards']} | "
                   f"{p['bytes'] / 1024:.0f} KiB |")
    out.append("")
    return out


def clean_bench_output(text):
    """The bench's figures without the progress lines the pipeline prints."""
    lines = []
    for line in text.replace("\r", "\n").split("\n"):
        if re.match(r"^\s*(finding faces|writing):", line):
            continue
        if not line.strip() and (not lines or not lines[-1].strip()):
            continue
        lines.append(line.rstrip())
    return "\n".join(lines).strip()


def main():
    args = sys.argv[1:]
    other = None
    if "--compare" in args:
        i = args.index("--compare")
        other = json.load(open(args[i + 1]))
        del args[i:i + 2]
    results = json.load(open(args[0]))
    machine = json.load(open(args[1]))
    extras = args[3:]
    scenes = results["scenes"]
    out = [
        "# Benchmarks",
        "",
        "Written by `scripts/bench`, which builds the program, generates every clip, runs the harness "
        "(`bench/harness/`) and rewrites this file. Figures from a shared machine move with its load; "
        "compare runs made under similar load.",
        "",
        f"- Date: {machine['date']}",
        f"- Commit: `{machine['commit']}`",
        f"- Machine: {machine['cpu']}, {machine['cores']} cores, {machine['memory']}",
        f"- Load average (1, 5, 15 min): {machine['load_start']} at the start, "
        f"{machine['load_end']} at the end (other work shared the machine)",
        f"- Harness run time: {machine['seconds']:.0f} s",
        "",
    ]
    out += quality_section(scenes)
    out += exposure_section(scenes, other)
    out += strength_section(results.get("mosaic_strength", []))
    out += speed_section(scenes)
    out += reruns_section(scenes)
    out += review_section(scenes)
    if extras:
        out += ["## Pipeline benchmarks", "", "The printed figures of the `bench/*_bench` programs, from the same run.", ""]
        for path in extras:
            name = os.path.basename(path).rsplit(".", 1)[0]
            text = clean_bench_output(open(path, encoding="utf-8", errors="replace").read())
            out += [f"### {name}", "", "```", text, "```", ""]
    with open(args[2], "w", encoding="utf-8") as f:
        f.write("\n".join(out).rstrip() + "\n")


if __name__ == "__main__":
    main()
