#!/usr/bin/env python3
"""The emulated drive's WRITE(10) path against dd: bench_disc_write fills a DVD+RW image
(2,295,104 sectors, 4.7 GB) with 32-sector writes of zeros through the device layer; dd writes the
same bytes from /dev/zero with bs=64k into the same folder (both end with a flush to disk). Prints both wall times, the ratio dd / ours (1.0 is as
fast as dd) and the peak resident size of our run. The two alternate run by run and the medians
are compared: on a shared disk single runs vary by a factor of two.

    python3 bench/disc_write.py --build build/release [--sectors N] [--runs 3] [--folder DIR]
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def timed(cmd):
    start = time.monotonic()
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.monotonic() - start
    out = proc.stdout.read().decode()
    err = proc.stderr.read().decode()
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"{cmd[0]} failed: {err}")
    return wall, usage.ru_maxrss / 1024.0, out


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default="build/release")
    ap.add_argument("--sectors", type=int, default=2295104)
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--folder", default=None, help="where the images go (default: a temp folder)")
    args = ap.parse_args()
    tool = os.path.join(args.build, "bench", "bench_disc_write")
    ours_runs, dd_runs, rss = [], [], 0.0
    blocks = (args.sectors + 31) // 32
    for _ in range(args.runs):
        root = tempfile.mkdtemp(prefix="arcavo-disc-", dir=args.folder)
        try:
            wall, peak, _ = timed([tool, root, str(args.sectors)])
            ours_runs.append(wall)
            rss = max(rss, peak)
            os.remove(os.path.join(root, "sr0.img"))
            wall, _, _ = timed(["dd", "if=/dev/zero", f"of={os.path.join(root, 'dd.img')}",
                                "bs=64k", f"count={blocks}", "conv=fsync", "status=none"])
            dd_runs.append(wall)
        finally:
            shutil.rmtree(root, ignore_errors=True)
    ours, dd = statistics.median(ours_runs), statistics.median(dd_runs)
    gb = args.sectors * 2048 / 1e9
    print(f"emulated WRITE(10), {args.sectors} sectors ({gb:.2f} GB): median {ours:.2f} s, "
          f"peak RSS {rss:.1f} MB")
    print(f"dd bs=64k conv=fsync, same bytes:        median {dd:.2f} s")
    print("runs (ours / dd): " + ", ".join(f"{a:.2f}/{b:.2f}" for a, b in zip(ours_runs, dd_runs)))
    print(f"ratio dd/ours: {dd / ours:.2f} (goal >= 0.8); RSS goal <= 32 MB")


if __name__ == "__main__":
    main()
