#!/usr/bin/env python3
"""Runs a command and samples the resident memory of it and all its
descendants every 0.05 s: prints the largest sum over the whole tree at one
moment and each process's own peak (VmHWM).

    bench/tree_memory.py -- build/qlcore process --job JOB
"""
import os
import subprocess
import sys
import time


def _status(pid):
    fields = {}
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                key, _, value = line.partition(":")
                fields[key] = value.strip()
    except OSError:
        return None
    return fields


def _children(pid):
    kids = []
    try:
        for task in os.listdir(f"/proc/{pid}/task"):
            with open(f"/proc/{pid}/task/{task}/children") as f:
                kids += [int(x) for x in f.read().split()]
    except OSError:
        pass
    return kids


def _kib(text):
    return int(text.split()[0]) if text else 0


def main():
    argv = sys.argv[1:]
    if argv[:1] == ["--"]:
        argv = argv[1:]
    if not argv:
        sys.exit(__doc__)
    t0 = time.monotonic()
    proc = subprocess.Popen(argv, stdout=subprocess.DEVNULL)
    peak_sum, peaks = 0, {}
    while proc.poll() is None:
        total, todo = 0, [proc.pid]
        while todo:
            pid = todo.pop()
            st = _status(pid)
            if st is None:
                continue
            total += _kib(st.get("VmRSS"))
            name = f"{st.get('Name', '?')}[{pid}]"
            peaks[name] = max(peaks.get(name, 0), _kib(st.get("VmHWM")))
            todo += _children(pid)
        peak_sum = max(peak_sum, total)
        time.sleep(0.05)
    seconds = time.monotonic() - t0
    print(f"status {proc.returncode}, {seconds:.1f} s")
    print(f"largest sum of the tree at one moment: {peak_sum} KiB ({peak_sum / 1024:.0f} MiB)")
    for name, kib in sorted(peaks.items(), key=lambda kv: -kv[1]):
        print(f"  {name}: peak {kib} KiB ({kib / 1024:.0f} MiB)")
    sys.exit(proc.returncode)


if __name__ == "__main__":
    main()
