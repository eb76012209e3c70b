#!/usr/bin/env python3
"""Paired search times of two modes: `qlcore process` and `qlcore process
--thorough` (or another mode's options) alternate on the same clips, each in a
fresh output folder, so both see the same load on a shared machine.

    search_pairs.py --program build/test-install/qlcore --pairs 3 CLIP...

The search pass is timed off the program's own progress lines as they
arrive: from the first line (after 5 frames) to the last, plus the first 5
frames at the first line's rate; the run is interrupted once the search has
ended, as the render is not measured. Beside that wall time, the CPU time of
the run up to there (start-up included, the decoder too), which says more
than wall time when the machine is crowded. Prints one line per run and a
table of medians per clip.
"""
import argparse
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

FIRST = 5  # frames searched before the first progress line
LINE = re.compile(rb"finding faces: .*?\((\d+)/(\d+) frames, +([0-9.]+) fps")


def search_seconds(program, clip, extra, work):
    out = tempfile.mkdtemp(dir=work)
    argv = [program, "process", "--out-dir", out] + extra + [clip]
    env = dict(os.environ, QUILLET_HOME=os.path.join(out, "home"))
    child = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
    first = last = None
    first_fps = 0.0
    buf = b""
    try:
        while True:
            chunk = os.read(child.stdout.fileno(), 4096)
            if not chunk:
                break
            now = time.monotonic()
            buf += chunk
            for m in LINE.finditer(buf):
                i, n, fps = int(m.group(1)), int(m.group(2)), float(m.group(3))
                if first is None:
                    first, first_fps = now, fps
                last = now
                if i == n:
                    child.send_signal(signal.SIGINT)
                    _, _, use = os.wait4(child.pid, 0)
                    child.returncode = 0
                    wall = (last - first) + (FIRST / first_fps if first_fps > 0 else 0.0)
                    return wall, use.ru_utime + use.ru_stime
            buf = buf[buf.rfind(b"\r") + 1:] if b"\r" in buf else buf
    finally:
        if child.poll() is None:
            child.send_signal(signal.SIGINT)
            child.wait()
        shutil.rmtree(out, ignore_errors=True)
    raise RuntimeError("no search progress from " + " ".join(argv))


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--program", required=True)
    p.add_argument("--pairs", type=int, default=3)
    p.add_argument("--other", default="--thorough", help="options of the second mode")
    p.add_argument("clips", nargs="+")
    a = p.parse_args()
    work = tempfile.mkdtemp(prefix="qlcore-pairs.")
    rows = []
    try:
        for clip in a.clips:
            base, other, base_cpu, other_cpu = [], [], [], []
            for k in range(a.pairs):
                # Alternate which mode goes first.
                order = [("default", []), ("other", a.other.split())]
                if k % 2:
                    order.reverse()
                for name, extra in order:
                    s, cpu = search_seconds(a.program, clip, extra, work)
                    (base if name == "default" else other).append(s)
                    (base_cpu if name == "default" else other_cpu).append(cpu)
                    load = open("/proc/loadavg").read().split()[0]
                    print(f"{os.path.basename(clip)} pair {k + 1} {name}: {s:.2f} s, "
                          f"CPU {cpu:.2f} s (load {load})", flush=True)
            ratios = [o / b for b, o in zip(base, other)]
            cpu_ratios = [o / b for b, o in zip(base_cpu, other_cpu)]
            rows.append((os.path.basename(clip), statistics.median(base),
                         statistics.median(other), statistics.median(ratios), min(ratios),
                         max(ratios), statistics.median(cpu_ratios)))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("\n| clip | search, default (median) | search, other | ratio (median of pairs) | range "
          "| CPU ratio (median) |")
    print("|---|---|---|---|---|---|")
    for clip, b, o, r, lo, hi, c in rows:
        print(f"| {clip} | {b:.2f} s | {o:.2f} s | **{r:.2f} ×** | {lo:.2f}–{hi:.2f} | {c:.2f} × |")
    return 0


if __name__ == "__main__":
    sys.exit(main())
