#!/usr/bin/env python3
"""Side-by-side benchmark of reading other tools' compression methods: `arczip x` against
`7zz x` on the same archive of the mixed corpus of bench/run.py (about 100 MB).

The archives: 7zz a -tzip -mm=BZip2 / LZMA / Deflate64 (levels at their defaults), and archives
of methods 93 (Zstandard, level 3 of the zstd tool) and 95 (XZ, preset 6 of Python's lzma) laid
out here, one entry per file. Each reader extracts the whole archive into an empty folder; runs
alternate between the readers, and the table gives median wall and CPU time (user + system of
the child) and the ratio ours / 7zz's. On a shared machine the wall ratios only mean something
when the cores were free: compare the load average printed with each row.

    python3 bench/decoders.py --build build/release [--runs 3] [--methods BZip2,LZMA,...]
"""
import argparse
import lzma
import os
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import run as common  # noqa: E402  (the corpora and the timing of bench/run.py)

SEVEN_ZIP = {"BZip2": 12, "LZMA": 14, "Deflate64": 9}
OURS = {"Zstd": 93, "XZ": 95}


def pack(method, data):
    if method == 95:
        return lzma.compress(data, format=lzma.FORMAT_XZ, preset=6)
    return subprocess.run(["zstd", "-q", "-c", "-3"], input=data, check=True,
                          capture_output=True).stdout


def lay_out(folder, method, out):
    """A zip archive of every file below folder/data, its data packed with method."""
    central, pos = [], 0
    with open(out, "wb") as z:
        for root, dirs, files in os.walk(os.path.join(folder, "data")):
            dirs.sort()
            for f in sorted(files):
                path = os.path.join(root, f)
                name = os.path.relpath(path, folder).encode()
                with open(path, "rb") as fh:
                    data = fh.read()
                # An empty file is stored, as zip tools do.
                used = method if data else 0
                body = pack(method, data) if data else b""
                crc = zlib.crc32(data)
                fields = struct.pack("<HHHHHIIIHH", 63, 0, used, 0x6000, 0x5A8A, crc, len(body),
                                     len(data), len(name), 0)
                z.write(b"PK\x03\x04" + fields + name + body)
                central.append(b"PK\x01\x02" + struct.pack("<H", 0x031E) + fields +
                               struct.pack("<HHHII", 0, 0, 0, 0o100644 << 16, pos) + name)
                pos += 30 + len(name) + len(body)
        cd = b"".join(central)
        z.write(cd + b"PK\x05\x06" + struct.pack("<HHHHIIH", 0, 0, len(central), len(central),
                                                 len(cd), pos, 0))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default="build/release")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--methods", default=",".join(list(SEVEN_ZIP) + list(OURS)))
    ap.add_argument("--corpus", default=None,
                    help="folder of the corpora (default: BUILD/bench-corpus)")
    args = ap.parse_args()
    arczip = os.path.abspath(os.path.join(args.build, "src", "arczip"))
    if not os.access(arczip, os.X_OK):
        sys.exit(f"arczip not found at {arczip}; build first")
    if not shutil.which("7zz"):
        sys.exit("7zz not installed")
    base = os.path.abspath(args.corpus or os.path.join(args.build, "bench-corpus"))
    os.makedirs(base, exist_ok=True)
    folder = common.prepared(base, "mixed", common.make_corpus)
    files, total = common.corpus_size(os.path.join(folder, "data"))
    print(f"Extracting other tools' methods: corpus mixed, {files} files, {total / 1e6:.1f} MB; "
          f"{args.runs} runs per reader, alternating; {os.cpu_count()} processors")
    print(f"  {'method':<10} {'archive MB':>10} {'arczip s':>9} {'7zz s':>8} {'wall':>6} "
          f"{'cpu':>6}  load")
    work = tempfile.mkdtemp(prefix="arcavo-bench-decoders-")
    try:
        for name in [m for m in args.methods.split(",") if m]:
            archive = os.path.join(work, name + ".zip")
            if name in SEVEN_ZIP:
                common.timed(["7zz", "a", "-tzip", "-mm=" + name, archive, "data"], folder)
            elif name in OURS:
                lay_out(folder, OURS[name], archive)
            else:
                sys.exit(f"unknown method {name}")
            readers = {
                "arczip": lambda out: [arczip, "x", archive, "-d", out],
                "7zz": lambda out: ["7zz", "x", "-y", "-o" + out, archive],
            }
            times = {r: [] for r in readers}
            loads = [os.getloadavg()[0]]
            for run in range(args.runs):
                order = list(readers) if run % 2 == 0 else list(reversed(readers))
                for r in order:
                    out = os.path.join(work, "out")
                    shutil.rmtree(out, ignore_errors=True)
                    os.makedirs(out)
                    times[r].append(common.timed(readers[r](out), work))
                    loads.append(os.getloadavg()[0])
            shutil.rmtree(os.path.join(work, "out"), ignore_errors=True)
            (aw, ac), (sw, sc) = ((statistics.median(w for w, _ in times[r]),
                                   statistics.median(c for _, c in times[r])) for r in readers)
            print(f"  {name:<10} {os.path.getsize(archive) / 1e6:>10.1f} {aw:>9.3f} {sw:>8.3f} "
                  f"{aw / sw:>6.3f} {ac / sc:>6.3f}  {min(loads):.1f}-{max(loads):.1f}")
            os.remove(archive)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
