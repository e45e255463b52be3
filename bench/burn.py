#!/usr/bin/env python3
"""A burn of 10,000 files in 100 folders (60 MB, fixed seed) to an emulated DVD+RW, as the program
runs it (bench_burn: cache and writer threads, the main thread ticking every 250 ms).

1. Unthrottled: the drive writes as fast as its image file takes it, against
   `genisoimage -J -quiet -o` of the same tree into the same folder (then synced, as the burn
   ends with SYNCHRONIZE CACHE). Median of --runs each, run in turn; goal ours/genisoimage <= 1.2.
2. Throttled: the drive writes at 22,160 kB/s (16x DVD) in real time. Prints the achieved rate
   against the configured one (goal: total time <= 1.05 x size / rate), how long the writer had
   no data (goal <= 5 % of the time), the peak resident size (goal <= CacheSize + 16 MB) and how
   late the 250 ms tick came at worst (goal <= 100 ms).

    python3 bench/burn.py --build build/release [--runs 3] [--folder DIR] [--rate 22160]
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

# The same 10,000-file tree as the image benchmark, so the two read alike.
from iso_build import make_files_tree


def timed(cmd):
    start = time.monotonic()
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    out = proc.stdout.read().decode(errors="replace")
    err = proc.stderr.read().decode(errors="replace")
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.monotonic() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"{cmd[0]} failed: {err}")
    return wall, usage.ru_maxrss / 1024.0, out


def new_drive(arcdisc, folder, realtime, rate):
    """A fresh formatted DVD+RW in folder; with realtime its writes take the time rate says."""
    shutil.rmtree(folder, ignore_errors=True)
    subprocess.run([arcdisc, "emulate", "new", folder, "--profile", "DVD+RW"], check=True,
                   stdout=subprocess.DEVNULL)
    state = os.path.join(folder, "sr0.state")
    lines = [l for l in open(state).read().splitlines()
             if not l.startswith(("formatted=", "realtime=", "speeds="))]
    lines += ["formatted=1", f"realtime={1 if realtime else 0}", f"speeds={rate}"]
    with open(state, "w") as f:
        f.write("\n".join(lines) + "\n")


def figures(out):
    return {k: float(v) for k, v in (kv.split("=") for kv in out.split())}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default="build/release")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--rate", type=int, default=22160, help="throttled write speed, kB/s")
    ap.add_argument("--folder", default=None, help="where the tree and images go (default: temp)")
    args = ap.parse_args()
    arcdisc = os.path.abspath(os.path.join(args.build, "src", "arcdisc"))
    bench = os.path.abspath(os.path.join(args.build, "bench", "bench_burn"))
    work = tempfile.mkdtemp(prefix="arcavo-burn-", dir=args.folder)
    try:
        tree = os.path.join(work, "tree")
        total = make_files_tree(tree)
        drive = os.path.join(work, "drive")
        iso = os.path.join(work, "g.iso")
        ours, theirs = [], []
        for _ in range(args.runs):
            new_drive(arcdisc, drive, False, args.rate)
            wall, _, _ = timed([bench, drive, tree])
            ours.append(wall)
            shutil.rmtree(drive)
            wall, _, _ = timed(["sh", "-c", 'genisoimage -J -quiet -o "$1" "$2" && sync "$1"',
                                "sh", iso, tree])
            theirs.append(wall)
            os.remove(iso)
        o, t = statistics.median(ours), statistics.median(theirs)
        print(f"10,000 files in 100 folders ({total / 1e6:.1f} MB), median of {args.runs}:")
        print(f"  burn to an unthrottled emulated DVD+RW {o:6.2f} s   runs " +
              " ".join(f"{w:.2f}" for w in ours))
        print(f"  genisoimage -J -o, synced              {t:6.2f} s   runs " +
              " ".join(f"{w:.2f}" for w in theirs))
        print(f"  ratio ours/genisoimage {o / t:.2f} (goal <= 1.2)")

        new_drive(arcdisc, drive, True, args.rate)
        wall, rss, out = timed([bench, drive, tree])
        f = figures(out)
        size = f["sectors"] * 2048
        ideal = size / (args.rate * 1000.0)
        print(f"throttled to {args.rate} kB/s: {size / 1e6:.1f} MB in {f['seconds']:.2f} s "
              f"({size / f['seconds'] / 1000:.0f} kB/s achieved); size/rate {ideal:.2f} s, "
              f"ratio {f['seconds'] / ideal:.3f} (goal <= 1.05)")
        print(f"  first block written after {f['first_write']:.3f} s, the last after "
              f"{f['last_write']:.3f} s")
        print(f"  writer without data {f['waited_ms']:.0f} ms = "
              f"{100 * f['waited_ms'] / 1000 / f['seconds']:.1f} % of the time (goal <= 5 %)")
        cache_mb = f["cache"] / 2**20
        print(f"  peak RSS {rss:.1f} MB (goal <= CacheSize {cache_mb:.0f} MB + 16 MB); "
              f"250 ms tick at most {f['late_ms']:.1f} ms late (goal <= 100 ms)")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
