#!/usr/bin/env python3
"""Clearing a disk's folder against rm -rf: 20,000 files of 100 bytes in 400 folders are made
afresh before every run; bench_deltree empties the folder, `rm -rf` removes the same tree made
the same way. The two alternate run by run; the medians of the wall times are compared and the
ratio ours / rm printed (1.0 is as fast as rm).

    python3 bench/deltree.py --build build/release [--runs 5] [--folder DIR]
"""
import argparse
import os
import shutil
import statistics
import subprocess
import tempfile
import time


def make_tree(root):
    for d in range(400):
        folder = os.path.join(root, "d%03d" % d)
        os.makedirs(folder)
        for f in range(50):
            with open(os.path.join(folder, "f%02d.txt" % f), "wb") as out:
                out.write(b"x" * 100)


def timed(cmd):
    start = time.monotonic()
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL)
    return time.monotonic() - start


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default="build/release")
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--folder", default=None)
    args = ap.parse_args()
    tool = os.path.join(args.build, "bench", "bench_deltree")
    ours, rm = [], []
    for _ in range(args.runs):
        root = tempfile.mkdtemp(prefix="arcavo-deltree-", dir=args.folder)
        try:
            make_tree(os.path.join(root, "a"))
            os.sync()
            ours.append(timed([tool, os.path.join(root, "a")]))
            make_tree(os.path.join(root, "b"))
            os.sync()
            rm.append(timed(["rm", "-rf", os.path.join(root, "b")]))
        finally:
            shutil.rmtree(root, ignore_errors=True)
    o, r = statistics.median(ours), statistics.median(rm)
    print(f"DelTree {o:.3f} s, rm -rf {r:.3f} s, ratio ours/rm {o / r:.2f}")


if __name__ == "__main__":
    main()
