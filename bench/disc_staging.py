#!/usr/bin/env python3
"""A backup of 1 GB (700 MB of random data, 300 MB of text; fixed seed) to a disc target, staged
over three emulated 400 MB CD-Rs as the program runs it (bench_disc_staging: the backup run, its
report and the burn commands; a blank disc goes in at each prompt), against the peer route over
the same folder: `zip -r -s 350m` and then `genisoimage -J` of each part, the images synced (as
the burn ends with SYNCHRONIZE CACHE). Same compression level on both sides, parts of 350 MB.

Ours is timed from start to exit less the time the emulation spends changing discs (copying the
burnt image aside); the run's three discs are then checked: each lists docs.zip and docsDiskN,
and the parts taken off them pass `7zz t`. Prints wall and CPU seconds and the ratio ours/peer
(goal <= 1.3). Ours includes what a drive takes that the peer route never spends: the emulated
drive is busy 3 s closing each session, and the writer asks again every 5 s.

    python3 bench/disc_staging.py --build build/release [--runs 1] [--level 9] [--folder DIR]
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

from run import text_block

PART_MB = 350


def make_data(root):
    rng = random.Random(20261210)
    os.makedirs(root, exist_ok=True)
    for i in range(7):
        with open(os.path.join(root, f"random{i}.bin"), "wb") as f:
            for _ in range(10):
                f.write(rng.randbytes(10_000_000))
    # Text beyond deflate's 32 KB window repeats nothing: slices of one 8 MB block at shifting
    # offsets compress as well as new text would.
    block = text_block(rng, 8_000_000)
    for i in range(30):
        with open(os.path.join(root, f"text{i:02d}.txt"), "wb") as f:
            at, written = (i * 977_777) % len(block), 0
            while written < 10_000_000:
                piece = block[at:at + 10_000_000 - written]
                f.write(piece)
                written += len(piece)
                at = (at + len(piece) + 4099) % len(block)


def prepared(base):
    folder = os.path.join(base, "disc-staging")
    stamp = os.path.join(folder, ".complete")
    if not os.path.exists(stamp):
        shutil.rmtree(folder, ignore_errors=True)
        print(f"building the 1 GB source folder in {folder} ...", flush=True)
        make_data(os.path.join(folder, "data"))
        open(stamp, "w").close()
    return folder


def timed(cmd, cwd=None, env=None):
    """Wall seconds and the output of the command."""
    start = time.monotonic()
    proc = subprocess.Popen(cmd, cwd=cwd, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    out, err = proc.communicate()
    wall = time.monotonic() - start
    if proc.returncode != 0:
        sys.exit(f"{cmd[0]} failed ({proc.returncode}):\n{out.decode()}{err.decode()}")
    return wall, out.decode()


def cpu_of_children():
    """User and system seconds of the children waited for so far (their children included)."""
    u = os.times()
    return u.children_user + u.children_system


def run_ours(bench, data, work, level):
    drives = os.path.join(work, "drives")
    shutil.rmtree(drives, ignore_errors=True)
    os.makedirs(drives)
    xdg = os.path.join(work, "xdg")
    shutil.rmtree(xdg, ignore_errors=True)
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_CONFIG_HOME=f"{xdg}/config",
               XDG_STATE_HOME=f"{xdg}/state", XDG_DATA_HOME=f"{xdg}/data",
               XDG_CACHE_HOME=f"{xdg}/cache")
    cpu0 = cpu_of_children()
    wall, out = timed([bench, drives, data, str(PART_MB), str(level)], env=env)
    cpu = cpu_of_children() - cpu0
    f = dict(kv.split("=") for kv in out.split())
    return wall - float(f["swap_seconds"]), cpu, int(f["discs"]), drives


def run_peer(data, work, level):
    peer = os.path.join(work, "peer")
    shutil.rmtree(peer, ignore_errors=True)
    os.makedirs(peer)
    script = (
        'set -e; cd "$1"; zip -r -q -"$2" -s 350m "$3/docs.zip" data; n=0; '
        'for p in "$3"/docs.z[0-9][0-9] "$3/docs.zip"; do n=$((n+1)); '
        'genisoimage -J -quiet -graft-points -o "$3/disc$n.iso" "docs.zip=$p"; done; '
        'sync "$3"/disc*.iso')
    cpu0 = cpu_of_children()
    wall, _ = timed(["sh", "-c", script, "sh", os.path.dirname(data), str(level), peer])
    cpu = cpu_of_children() - cpu0
    discs = len([n for n in os.listdir(peer) if n.endswith(".iso")])
    shutil.rmtree(peer, ignore_errors=True)
    return wall, cpu, discs


def check_discs(drives, discs, work):
    """Each disc lists docs.zip and its marker; the parts taken off them pass 7zz t."""
    parts = [f"docs.z{n:02d}" for n in range(1, discs)] + ["docs.zip"]
    folder = os.path.join(work, "set")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for n in range(1, discs + 1):
        image = os.path.join(drives, f"disc{n}.img")
        listing = subprocess.run(["isoinfo", "-J", "-f", "-i", image], capture_output=True,
                                 text=True).stdout.split()
        listing = [name.split(";")[0] for name in listing]
        if "/docs.zip" not in listing or f"/docsDisk#{n}" not in listing:
            sys.exit(f"disc {n} lists {listing}")
        with open(os.path.join(folder, parts[n - 1]), "wb") as f:
            subprocess.run(["isoinfo", "-J", "-i", image, "-x", "/docs.zip;1"], stdout=f,
                           check=True)
        os.remove(image)
    tested = subprocess.run(["7zz", "t", "docs.zip"], cwd=folder, capture_output=True, text=True)
    shutil.rmtree(folder, ignore_errors=True)
    if tested.returncode != 0 or "Everything is Ok" not in tested.stdout:
        sys.exit(f"7zz t failed on the set read back from the discs:\n{tested.stdout}")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default="build/release")
    ap.add_argument("--runs", type=int, default=1)
    ap.add_argument("--level", type=int, default=9, choices=(9, 5, 0))
    ap.add_argument("--corpus", default=None, help="folder of the source (default: "
                    "BUILD/bench-corpus)")
    ap.add_argument("--folder", default=None, help="where discs and parts go (default: temp)")
    args = ap.parse_args()
    bench = os.path.abspath(os.path.join(args.build, "bench", "bench_disc_staging"))
    for tool in ("zip", "genisoimage", "isoinfo", "7zz"):
        if not shutil.which(tool):
            sys.exit(f"{tool} is missing")
    base = os.path.abspath(args.corpus or os.path.join(args.build, "bench-corpus"))
    data = os.path.join(prepared(base), "data")
    total = sum(os.path.getsize(os.path.join(data, n)) for n in os.listdir(data))
    work = tempfile.mkdtemp(prefix="arcavo-staging-", dir=args.folder)
    try:
        ours, theirs, loads = [], [], [os.getloadavg()[0]]
        for run in range(args.runs):
            order = ("ours", "peer") if run % 2 == 0 else ("peer", "ours")
            for side in order:
                if side == "ours":
                    wall, cpu, discs, drives = run_ours(bench, data, work, args.level)
                    check_discs(drives, discs, work)
                    ours.append((wall, cpu, discs))
                else:
                    theirs.append(run_peer(data, work, args.level))
                loads.append(os.getloadavg()[0])
        o = statistics.median(w for w, _, _ in ours)
        t = statistics.median(w for w, _, _ in theirs)
        oc = statistics.median(c for _, c, _ in ours)
        tc = statistics.median(c for _, c, _ in theirs)
        print(f"{total / 1e6:.0f} MB in {len(os.listdir(data))} files, level {args.level}, parts "
              f"of {PART_MB} MB, median of {args.runs} (load average {min(loads):.1f} to "
              f"{max(loads):.1f}, {os.cpu_count()} processors)")
        print(f"  staged and burnt to {ours[0][2]} emulated CD-Rs  {o:7.2f} s wall {oc:7.2f} s cpu"
              f"   runs " + " ".join(f"{w:.2f}" for w, _, _ in ours))
        print(f"  zip -s 350m + genisoimage x {theirs[0][2]}       {t:7.2f} s wall {tc:7.2f} s cpu"
              f"   runs " + " ".join(f"{w:.2f}" for w, _, _ in theirs))
        print(f"  ratio ours/peer: wall {o / t:.3f} (goal <= 1.3), cpu {oc / tc:.3f}")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
