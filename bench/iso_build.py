#!/usr/bin/env python3
"""ISO 9660/Joliet images made by `arcdisc image` beside genisoimage and xorriso.

1. 10,000 files in 100 folders (60 MB, fixed seed): `arcdisc image -o OUT DIR` (Joliet and Rock
   Ridge) against `genisoimage -J -R -quiet -o OUT DIR` and `xorriso -as mkisofs -R -J -quiet -o
   OUT DIR`, and the Joliet-only images (`arcdisc image --no-rock-ridge`, `genisoimage -J`,
   `xorriso -as mkisofs -J`), run one after the other in turn, median of --runs each; prints the
   wall-time ratios ours / theirs (goal against genisoimage -J -R: <= 1.0) and the image sizes
   (goal: Rock Ridge adds at most 3% to ours without it).
2. 65,535 empty files in 8,191 folders (the builder's capacities): the layout and metadata step
   as `arcdisc image --timing` reports it, the whole run and its peak resident size (goals:
   layout and metadata <= 2 s, peak RSS <= 128 MB).

    python3 bench/iso_build.py --build build/release [--runs 5] [--folder DIR]
"""
import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def timed(cmd):
    start = time.monotonic()
    proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    err = proc.stderr.read().decode(errors="replace")
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.monotonic() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"{cmd[0]} failed: {err}")
    return wall, usage.ru_maxrss / 1024.0, err


def make_files_tree(root):
    rng = random.Random(30)
    total = 0
    for folder in range(100):
        d = os.path.join(root, f"folder {folder:03d}")
        os.makedirs(d)
        for i in range(100):
            size = rng.randint(0, 12000)
            total += size
            with open(os.path.join(d, f"file-{folder:03d}-{i:03d}.dat"), "wb") as f:
                f.write(rng.randbytes(size))
    return total


def make_empty_tree(root):
    # The root and 8,190 folders (two levels), 65,535 empty files spread over all of them.
    folders = [root]
    for a in range(90):
        top = os.path.join(root, f"d{a:02d}")
        os.makedirs(top)
        folders.append(top)
    while len(folders) < 8191:
        sub = os.path.join(folders[1 + len(folders) % 90], f"s{len(folders):04d}")
        os.makedirs(sub)
        folders.append(sub)
    for i in range(65535):
        open(os.path.join(folders[i % len(folders)], f"e{i:05d}"), "wb").close()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default="build/release")
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--folder", default=None, help="where trees and images go (default: temp)")
    args = ap.parse_args()
    arcdisc = os.path.abspath(os.path.join(args.build, "src", "arcdisc"))
    work = tempfile.mkdtemp(prefix="arcavo-iso-", dir=args.folder)
    try:
        tree = os.path.join(work, "tree")
        total = make_files_tree(tree)
        out = os.path.join(work, "out.iso")
        tools = {
            "arcdisc image": [arcdisc, "image", "-o", out, tree],
            "genisoimage -J -R": ["genisoimage", "-J", "-R", "-quiet", "-o", out, tree],
            "xorriso -as mkisofs -R -J": ["xorriso", "-as", "mkisofs", "-R", "-J", "-quiet", "-o",
                                          out, tree],
            "arcdisc --no-rock-ridge": [arcdisc, "image", "--no-rock-ridge", "-o", out, tree],
            "genisoimage -J": ["genisoimage", "-J", "-quiet", "-o", out, tree],
            "xorriso -as mkisofs -J": ["xorriso", "-as", "mkisofs", "-J", "-quiet", "-o", out, tree],
        }
        runs = {name: [] for name in tools}
        sizes = {}
        for _ in range(args.runs):
            for name, cmd in tools.items():
                wall, _, _ = timed(cmd)
                runs[name].append(wall)
                sizes[name] = os.path.getsize(out)
                os.remove(out)
        print(f"10,000 files in 100 folders ({total / 1e6:.1f} MB), median of {args.runs}:")
        for name, walls in runs.items():
            ours = statistics.median(runs["arcdisc image" if "-R" in name or name == "arcdisc image"
                                          else "arcdisc --no-rock-ridge"])
            med = statistics.median(walls)
            print(f"  {name:27s} {med:6.2f} s   ours/theirs {ours / med:5.2f}   "
                  f"{sizes[name] / 1e6:7.2f} MB   runs " + " ".join(f"{w:.2f}" for w in walls))
        grown = sizes["arcdisc image"] / sizes["arcdisc --no-rock-ridge"] - 1
        print(f"  Rock Ridge adds {grown * 100:+.2f}% to our image (goal: <= 3%); "
              f"goal: ours/genisoimage -J -R <= 1.0")
        shutil.rmtree(tree)

        empty = os.path.join(work, "empty")
        make_empty_tree(empty)
        walls, layouts, rss = [], [], 0.0
        for _ in range(args.runs):
            wall, peak, err = timed([arcdisc, "image", "--timing", "-o", out, empty])
            walls.append(wall)
            layouts.append(float(err.split("layout and metadata ")[1].split(" s")[0]))
            rss = max(rss, peak)
            os.remove(out)
        print(f"65,535 empty files in 8,191 folders, median of {args.runs}: layout and metadata "
              f"{statistics.median(layouts):.2f} s, whole run {statistics.median(walls):.2f} s, "
              f"peak RSS {rss:.1f} MB (goals: layout and metadata <= 2 s, RSS <= 128 MB)")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
