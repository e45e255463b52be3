#!/usr/bin/env python3
"""Side-by-side benchmark of the repair of damaged archives and of the legacy decoders.

  scan     the recovery scan over a file without a single local header signature (random bytes,
           SCAN_MIB MiB): `arczip repair` finds nothing and ends; its speed in MB/s (target: at
           least 500), with `zip -FF` on the same file for comparison
  repair   an archive of ENTRIES files (REPAIR_MB MB in all, compressible) cut 100 bytes into its
           central directory, salvaged by `arczip repair` and by `yes | zip -FF`: wall ratio
  legacy   `arczip t` against `unzip -t` on archives of shrunk and imploded entries (LEGACY_MIB
           MiB each, made by bench_legacy_fixture): wall ratio

Each tool runs RUNS times, alternating; the median wall time is taken. The load average of the
machine is printed with each table: on a shared machine the ratios only mean something when the
cores were free.

    python3 bench/repair.py --build build/release [--runs 3] [--scan-mib 256]
                            [--repair-mb 1000] [--entries 20000] [--legacy-mib 64]
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


def timed(cmd, cwd, ok=(0,)):
    """Runs cmd; returns wall seconds and CPU seconds (user + system) of that child. The exit
    status must be one of ok."""
    t0 = time.perf_counter()
    p = subprocess.Popen(cmd, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    err = p.stderr.read()
    _pid, status, usage = os.wait4(p.pid, 0)
    wall = time.perf_counter() - t0
    p.stderr.close()
    code = os.waitstatus_to_exitcode(status)
    if code not in ok:
        sys.exit(f"failed ({code}): {' '.join(cmd)}\n{err.decode(errors='replace')}")
    return wall, usage.ru_utime + usage.ru_stime


def zip_ff(damaged, out):
    """zip -FF asks whether a file without an end record is a single-disk archive: yes."""
    return ["sh", "-c", f"yes | zip -FF '{damaged}' --out '{out}' > /dev/null"]


def alternate(tools, runs, cwd, before=None):
    """Median wall and CPU time of each tool (name -> (cmd, ok statuses)), runs alternating."""
    times = {name: [] for name in tools}
    loads = [os.getloadavg()[0]]
    for run in range(runs):
        order = list(tools) if run % 2 == 0 else list(reversed(tools))
        for name in order:
            if before:
                before()
            cmd, ok = tools[name]
            times[name].append(timed(cmd, cwd, ok))
            loads.append(os.getloadavg()[0])
    wall = {n: statistics.median(w for w, _c in v) for n, v in times.items()}
    cpu = {n: statistics.median(c for _w, c in v) for n, v in times.items()}
    return wall, cpu, loads


def print_rows(wall, cpu, mb=None):
    for name, w in wall.items():
        speed = f"  {mb / w:>9.1f} MB/s wall  {mb / cpu[name]:>9.1f} MB/s CPU" if mb else ""
        print(f"  {name:<14} {w:>8.3f} s wall {cpu[name]:>8.3f} s CPU{speed}")


def scan_row(arczip, work, mib, runs):
    rng = random.Random(20261209)
    noise = os.path.join(work, "noise.bin")
    with open(noise, "wb") as fh:
        for _ in range(mib):
            block = bytearray(rng.randbytes(1 << 20))
            at = block.find(b"PK\x03\x04")
            while at >= 0:
                block[at] = 0
                at = block.find(b"PK\x03\x04")
            fh.write(block)
    tools = {"arczip repair": ([arczip, "repair", noise, os.path.join(work, "n1.zip")], (2,))}
    if shutil.which("zip"):
        tools["zip -FF"] = (zip_ff(noise, os.path.join(work, "n2.zip")), (0, 1, 2, 3, 12))
    wall, cpu, loads = alternate(tools, runs, work)
    print(f"\nrecovery scan of {mib} MiB without signatures  (load average {min(loads):.1f} to "
          f"{max(loads):.1f})")
    print_rows(wall, cpu, mib * (1 << 20) / 1e6)
    os.remove(noise)


def repair_row(arczip, work, total_mb, entries, runs):
    rng = random.Random(20261210)
    data = os.path.join(work, "data")
    per = total_mb * 1_000_000 // entries
    words = ["".join(rng.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(3, 9)))
             for _ in range(4000)]
    pool = " ".join(rng.choice(words) for _ in range(400_000)).encode()
    for i in range(entries):
        folder = os.path.join(data, f"f{i // 500:03d}")
        if i % 500 == 0:
            os.makedirs(folder, exist_ok=True)
        # Half text (a slice of the pool), half random bytes.
        at = rng.randrange(len(pool) - per)
        with open(os.path.join(folder, f"file{i:06d}.txt"), "wb") as fh:
            fh.write(pool[at:at + per // 2] + rng.randbytes(per - per // 2))
    whole = os.path.join(work, "whole.zip")
    timed([arczip, "a", whole, "data", "-r", "-1"], work)
    shutil.rmtree(data)
    with open(whole, "rb") as fh:
        # The end record (no comment, no Zip64 at these sizes) gives the directory's offset.
        fh.seek(-22, 2)
        end = fh.read(22)
        if end[:4] != b"PK\x05\x06":
            sys.exit("the archive written has a comment or Zip64 records")
        directory = int.from_bytes(end[16:20], "little")
    cut = os.path.join(work, "cut.zip")
    with open(whole, "rb") as src, open(cut, "wb") as dst:
        left = directory + 100
        while left > 0:
            block = src.read(min(left, 1 << 24))
            dst.write(block)
            left -= len(block)
    os.remove(whole)
    ours, peer = os.path.join(work, "ours.zip"), os.path.join(work, "ff.zip")

    def clean():
        for f in (ours, peer):
            if os.path.exists(f):
                os.remove(f)
    tools = {"arczip repair": ([arczip, "repair", cut, ours], (0, 1))}
    if shutil.which("zip"):
        tools["zip -FF"] = (zip_ff(cut, peer), (0, 1, 2, 3, 12))
    wall, cpu, loads = alternate(tools, runs, work, clean)
    print(f"\nrepair of {os.path.getsize(cut) / 1e6:.0f} MB, {entries} entries, directory cut "
          f"(load average {min(loads):.1f} to {max(loads):.1f})")
    print_rows(wall, cpu)
    if "zip -FF" in wall:
        print(f"  arczip repair / zip -FF: {wall['arczip repair'] / wall['zip -FF']:.3f} wall, "
              f"{cpu['arczip repair'] / cpu['zip -FF']:.3f} CPU")
    clean()
    os.remove(cut)


def legacy_row(arczip, fixture, work, mib, runs):
    for method in ("shrink", "implode"):
        path = os.path.join(work, f"{method}.zip")
        subprocess.run([fixture, path, method, str(mib)], check=True)
        tools = {"arczip t": ([arczip, "t", path], (0,))}
        if shutil.which("unzip"):
            tools["unzip -t"] = (["unzip", "-tq", path], (0,))
        wall, cpu, loads = alternate(tools, runs, work)
        print(f"\ntesting {mib} MiB of {method} entries ({os.path.getsize(path) / 1e6:.1f} MB) "
              f"(load average {min(loads):.1f} to {max(loads):.1f})")
        print_rows(wall, cpu)
        if "unzip -t" in wall:
            print(f"  arczip t / unzip -t: {wall['arczip t'] / wall['unzip -t']:.3f} wall, "
                  f"{cpu['arczip t'] / cpu['unzip -t']:.3f} CPU")
        os.remove(path)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default="build/release")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--scan-mib", type=int, default=256)
    ap.add_argument("--repair-mb", type=int, default=1000)
    ap.add_argument("--entries", type=int, default=20000)
    ap.add_argument("--legacy-mib", type=int, default=64)
    ap.add_argument("--only", default="scan,repair,legacy")
    args = ap.parse_args()
    arczip = os.path.abspath(os.path.join(args.build, "src", "arczip"))
    fixture = os.path.abspath(os.path.join(args.build, "bench", "bench_legacy_fixture"))
    if not os.access(arczip, os.X_OK):
        sys.exit(f"arczip not found at {arczip}; build first")
    only = args.only.split(",")
    print(f"{args.runs} runs per tool, alternating; {os.cpu_count()} processors")
    work = tempfile.mkdtemp(prefix="arcavo-bench-repair-")
    try:
        if "scan" in only:
            scan_row(arczip, work, args.scan_mib, args.runs)
        if "repair" in only:
            repair_row(arczip, work, args.repair_mb, args.entries, args.runs)
        if "legacy" in only:
            if not os.access(fixture, os.X_OK):
                sys.exit(f"bench_legacy_fixture not found at {fixture}; build first")
            legacy_row(arczip, fixture, work, args.legacy_mib, args.runs)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
