#!/usr/bin/env python3
"""Reruns from the analysis cache against a plain ffmpeg transcode, in
rotating order, for one or more builds of the program, on a scene folder the
harness made (`qlharness --work DIR`: DIR/<scene>/ holds the clip, job, home
and out).

    bench/rerun_pairs.py --scene /tmp/clips/uhd10_long --rounds 5 \\
        --program new=build/test-install/qlcore --program old=/tmp/old/qlcore

Each rerun gets a keep mark past the clip's end, which changes nothing but
the overrides, so the clip is redone from the cache. Prints every round and
the median of the rounds' ratios (rerun / transcode); the outputs of the
builds are compared byte for byte.
"""
import argparse
import hashlib
import json
import os
import statistics
import subprocess
import time
from pathlib import Path

PRORES = ["-c:v", "prores", "-profile:v", "2", "-pix_fmt", "yuv422p10le", "-vendor", "apl0"]


def colour_args(clip):
    out = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                          "stream=color_primaries,color_transfer,color_space,color_range",
                          "-of", "json", str(clip)], capture_output=True, text=True, check=True)
    s = json.loads(out.stdout)["streams"][0]
    args = []
    for key, opt in (("color_primaries", "-color_primaries"), ("color_transfer", "-color_trc"),
                     ("color_space", "-colorspace"), ("color_range", "-color_range")):
        if s.get(key) and s[key] != "unknown":
            args += [opt, s[key]]
    return args


def md5(path):
    h = hashlib.md5()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--scene", required=True, type=Path)
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("--program", action="append", required=True, help="NAME=PATH")
    a = ap.parse_args()
    scene = a.scene.resolve()
    clip = next(p for p in scene.glob("*.mov") if p.name != "transcode.mov")
    out = scene / "out" / (clip.stem + "_mosaic.mov")
    overrides = out.with_suffix(".overrides.json")
    env = dict(os.environ, QUILLET_HOME=str(scene / "home"), OPENCV_LOG_LEVEL="ERROR")
    programs = [p.split("=", 1) for p in a.program]
    transcode = ["ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-i", str(clip), "-map",
                 "0:v:0"] + PRORES + colour_args(clip) + ["-an", str(scene / "transcode.mov")]
    runs = [("transcode", transcode)] + [
        (name, [path, "process", "--job", str(scene / "job")]) for name, path in programs]
    times = {name: [] for name, _ in runs}
    digests = {}
    mark = 99999999
    for r in range(a.rounds):
        order = runs[r % len(runs):] + runs[:r % len(runs)]
        for name, cmd in order:
            if name != "transcode":
                overrides.write_text('{"keep": [%d]}\n' % mark)
                mark -= 1
            t0 = time.monotonic()
            done = subprocess.run(cmd, env=env, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.PIPE, text=True)
            times[name].append(time.monotonic() - t0)
            if done.returncode != 0:
                raise SystemExit(f"{name} failed: {done.stderr[-2000:]}")
            if name != "transcode":
                digests.setdefault(name, set()).add(md5(out))
        print(f"round {r + 1}: " + ", ".join(f"{n} {times[n][-1]:.2f} s" for n, _ in runs),
              flush=True)
    for name, _ in runs[1:]:
        ratios = [x / t for x, t in zip(times[name], times["transcode"])]
        print(f"{name}: median {statistics.median(times[name]):.2f} s, rerun / transcode median "
              f"{statistics.median(ratios):.3f} (" + ", ".join(f"{x:.3f}" for x in ratios) + ")")
    print(f"transcode: median {statistics.median(times['transcode']):.2f} s")
    every = set().union(*digests.values())
    print("outputs byte-identical across builds and rounds" if len(every) == 1 else
          f"outputs differ: {digests}")


if __name__ == "__main__":
    main()
