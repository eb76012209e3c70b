#!/usr/bin/env python3
"""Whole runs of one or more builds of the program against the floor of the
same work, in rotating order so every build sees the same load on a shared
machine. The floor is decoding at search size plus the detector on every
frame with its buffers kept (`floor_bench detect`), plus a plain transcode
with the default encoder entry (`floor_bench transcode`).

    bench/floor_pairs.py --floor build/floor_bench --rounds 2 \\
        --program new=/tmp/new/qlcore --program old=/tmp/old/qlcore \\
        [--mode default --mode thorough] [--cpus 0] CLIP...

Clips: `floor_bench make DIR FRAMES`. A program is a test installation's
qlcore (models/ beside it). Per run: wall, user and system CPU time and
minor page faults of the whole process tree (/usr/bin/time), the search's
own seconds and the program's peak memory (QLCORE_TIMINGS=1), and the load
average at its start. The outputs (video and report) of every build and
round are compared byte for byte. Prints one line per run and a table of
medians per clip, mode and build.
"""
import argparse
import hashlib
import os
import re
import shutil
import statistics
import subprocess
import tempfile
from pathlib import Path

TIME_FORMAT = "%e %U %S %R %M"


def load():
    return open("/proc/loadavg").read().split()[0]


def md5(path, strip=b""):
    """The file's md5; `strip` (the output folder, which the report names) left out."""
    data = Path(path).read_bytes()
    return hashlib.md5(data.replace(strip, b"") if strip else data).hexdigest()


def timed(argv, env, cpus):
    """wall, user, sys, minflt, max RSS (KiB) of argv's process tree, and its stderr."""
    fd, out = tempfile.mkstemp()
    os.close(fd)
    prefix = ["taskset", "-c", cpus] if cpus else []
    r = subprocess.run(prefix + ["/usr/bin/time", "-o", out, "-f", TIME_FORMAT] + argv, env=env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    fields = open(out).read().split()[-5:]
    os.unlink(out)
    if r.returncode != 0:
        raise SystemExit(f"{argv} failed: {r.stderr[-2000:]}")
    wall, user, sys_, flt, rss = fields
    return float(wall), float(user), float(sys_), int(flt), int(rss), r.stderr


def run_program(program, clip, mode, work, cpus):
    out = Path(tempfile.mkdtemp(dir=work))
    env = dict(os.environ, QUILLET_HOME=str(out / "home"), QLCORE_TIMINGS="1")
    argv = [program, "process", "--out-dir", str(out / "out")]
    if mode == "thorough":
        argv.append("--thorough")
    wall, user, sys_, flt, rss, err = timed(argv + [clip], env, cpus)
    search = re.search(r"qlcore timing: search ([0-9.]+)", err)
    peak = re.search(r"qlcore peak memory: (\d+) KiB", err)
    files = sorted(p for p in (out / "out").rglob("*") if p.is_file())
    sums = {p.name: md5(p, str(out).encode()) for p in files if p.suffix in (".mov", ".json")}
    shutil.rmtree(out)
    return {"wall": wall, "user": user, "sys": sys_, "minflt": flt, "tree_rss": rss,
            "search": float(search.group(1)) if search else None,
            "peak": int(peak.group(1)) if peak else None, "sums": sums}


def run_floor(floor, clip, mode, work, cpus):
    out = {}
    argv = [floor, "detect", clip] + (["thorough"] if mode == "thorough" else [])
    for what, cmd in (("detect", argv),
                      ("transcode", [floor, "transcode", clip, str(Path(work) / "t.mov")])):
        prefix = ["taskset", "-c", cpus] if cpus else []
        r = subprocess.run(prefix + cmd, capture_output=True, text=True, check=True)
        line = [x for x in r.stdout.splitlines() if x.startswith("floor ")][-1].split()
        vals = dict(zip(line[2::2], line[3::2]))
        out[what] = {k: float(v) for k, v in vals.items()}
    return out


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--floor", required=True)
    ap.add_argument("--program", action="append", required=True, help="name=path")
    ap.add_argument("--mode", action="append", choices=["default", "thorough"])
    ap.add_argument("--rounds", type=int, default=2)
    ap.add_argument("--cpus", default="", help="taskset CPU list for every run")
    ap.add_argument("clips", nargs="+")
    a = ap.parse_args()
    programs = [p.split("=", 1) for p in a.program]
    modes = a.mode or ["default"]
    work = tempfile.mkdtemp(prefix="qlcore-floor-")
    rows = {}
    try:
        for clip in a.clips:
            for mode in modes:
                for rnd in range(a.rounds):
                    la = load()
                    fl = run_floor(a.floor, clip, mode, work, a.cpus)
                    d, t = fl["detect"], fl["transcode"]
                    print(f"{Path(clip).name} {mode} round {rnd} floor: detect {d['wall']:.2f} s "
                          f"({d['frames'] / d['wall']:.2f} fps, user {d['user']:.2f} sys "
                          f"{d['sys']:.2f} minflt {int(d['minflt'])}) + transcode "
                          f"{t['wall']:.2f} s (load {la})", flush=True)
                    rows.setdefault((clip, mode, "floor"), []).append(
                        {"wall": d["wall"] + t["wall"], "user": d["user"] + t["user"],
                         "sys": d["sys"] + t["sys"], "minflt": d["minflt"] + t["minflt"],
                         "search": d["wall"], "frames": d["frames"], "load": la})
                    order = programs[rnd % len(programs):] + programs[:rnd % len(programs)]
                    for name, prog in order:
                        la = load()
                        r = run_program(prog, clip, mode, work, a.cpus)
                        r["frames"], r["load"] = d["frames"], la
                        rows.setdefault((clip, mode, name), []).append(r)
                        print(f"  {name}: wall {r['wall']:.2f} user {r['user']:.2f} sys "
                              f"{r['sys']:.2f} minflt {r['minflt']} search {r['search']} s "
                              f"peak {r['peak']} KiB (load {la})", flush=True)
                sums = {}
                for name, _ in programs:
                    for r in rows[(clip, mode, name)]:
                        sums.setdefault(tuple(sorted(r["sums"].items())), []).append(name)
                print(f"{Path(clip).name} {mode}: outputs "
                      + ("identical" if len(sums) == 1 else f"DIFFER {list(sums.values())}"))
    finally:
        shutil.rmtree(work, ignore_errors=True)

    med = statistics.median
    print("\n| clip | mode | run | wall s | user s | sys s | minor faults | search fps | "
          "wall / floor | peak MiB | load |")
    print("|---|---|---|---|---|---|---|---|---|---|---|")
    for (clip, mode, name), rs in rows.items():
        fl = rows[(clip, mode, "floor")]
        wall = med(r["wall"] for r in rs)
        fps = med(r["frames"] / r["search"] for r in rs if r["search"])
        peak = [r["peak"] for r in rs if r.get("peak")]
        print(f"| {Path(clip).stem} | {mode} | {name} | {wall:.2f} | "
              f"{med(r['user'] for r in rs):.2f} | {med(r['sys'] for r in rs):.2f} | "
              f"{int(med(r['minflt'] for r in rs))} | {fps:.2f} | "
              f"{wall / med(r['wall'] for r in fl):.2f} | "
              f"{(max(peak) / 1024 if peak else 0):.0f} | "
              f"{', '.join(r['load'] for r in rs)} |")


if __name__ == "__main__":
    main()
