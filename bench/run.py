#!/usr/bin/env python3
"""Side-by-side benchmark of `arczip a` against `zip -r -q` and `7zz a -tzip`.

Two corpora, built once and kept under BUILD/bench-corpus:
  mixed  many small text files, a few large mixed files, incompressible data (~122 MB)
  lines  six 30 MB text files of short numbered lines and 20 MB of random data (~200 MB): large,
         highly compressible files, where the compression of one file must use every core
Every tool runs at levels 9, 5, 1 and 0, alternating the tools run by run; the table gives the
median wall time, CPU time (user + system of the child), cores used (CPU / wall), the peak
resident size and archive size, with our ratio to each peer, and the load average of the machine
around the runs (on a shared machine the wall ratios only mean something when the cores were
free: compare "cores" and the CPU ratio). The peak is ru_maxrss of the child, which counts the
pages it shared with this interpreter before its exec (some 10 MB): an upper bound.

Then the memory of a run over many small files: the peak resident size (ru_maxrss of the child,
as `/usr/bin/time -v` reports it) of `arczip a` and `zip -r` over 20,000 and 100,000 files, the
growth per file between the two, and that growth beyond the file's stored name.

    python3 bench/run.py --build build/release [--runs 3] [--levels 9,5,1,0]
                         [--corpora mixed,lines] [--no-memory]
"""
import argparse
import glob
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

WORDS = ("backup archive folder report volume select restore deflate header entry stream "
         "central record window option compress encrypt schedule monitor stealth burner "
         "session sector image spanning include exclude pattern version update freshen "
         "the of and to in is that for it as with was on be by at this from or an are").split()


def text_block(rng, size):
    out, n = [], 0
    while n < size:
        line = " ".join(rng.choice(WORDS) for _ in range(rng.randint(4, 14)))
        if rng.random() < 0.2:
            line = f"{rng.randint(0, 10**9):>10} {line} {rng.random():.6f}"
        out.append(line)
        n += len(line) + 1
    return ("\n".join(out) + "\n").encode()[:size]


def make_corpus(root):
    """The corpus is deterministic: the same seed gives the same bytes on every machine."""
    rng = random.Random(20261209)
    small = os.path.join(root, "small")
    for d in range(40):
        folder = os.path.join(small, f"dir{d:02d}", f"sub{d % 7}")
        os.makedirs(folder, exist_ok=True)
        for f in range(60):
            size = int(rng.lognormvariate(8.5, 1.0))  # about 5 KB typical, up to ~100 KB
            with open(os.path.join(folder, f"file{f:03d}.txt"), "wb") as fh:
                fh.write(text_block(rng, min(size, 200_000)))
    big = os.path.join(root, "large")
    os.makedirs(big, exist_ok=True)
    for i in range(3):
        # Mixed content: text, structured binary records and random runs interleaved.
        with open(os.path.join(big, f"mixed{i}.dat"), "wb") as fh:
            written = 0
            while written < 24_000_000:
                kind = rng.random()
                if kind < 0.5:
                    block = text_block(rng, 200_000)
                elif kind < 0.8:
                    block = b"".join(
                        rng.randint(0, 5000).to_bytes(4, "little") + bytes([rng.randint(0, 3)]) * 12
                        for _ in range(10_000))
                else:
                    block = rng.randbytes(100_000)
                fh.write(block)
                written += len(block)
    with open(os.path.join(big, "random.bin"), "wb") as fh:
        fh.write(rng.randbytes(30_000_000))
    os.makedirs(os.path.join(root, "empty-folder"), exist_ok=True)
    open(os.path.join(root, "empty-file"), "wb").close()


def make_lines_corpus(root):
    rng = random.Random(20261210)
    os.makedirs(root, exist_ok=True)
    for i in range(6):
        with open(os.path.join(root, f"lines{i}.txt"), "wb") as fh:
            n, written = i * 10_000_000, 0
            while written < 30_000_000:
                block = "".join(f"{k}\n" for k in range(n, n + 100_000)).encode()
                block = block[:30_000_000 - written]
                fh.write(block)
                written += len(block)
                n += 100_000
    with open(os.path.join(root, "random.bin"), "wb") as fh:
        fh.write(rng.randbytes(20_000_000))


def make_many_files(root, count):
    """count small files, 100 to a folder, 10 folders to a parent: names like a backup's."""
    for i in range(count):
        folder = os.path.join(root, f"folder{i // 1000:04d}", f"sub{(i // 100) % 10}")
        if i % 100 == 0:
            os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, f"file{i:07d}.txt"), "w") as fh:
            fh.write(f"{i}\n")


def corpus_size(root):
    total = files = 0
    for base, _dirs, names in os.walk(root):
        for n in names:
            total += os.path.getsize(os.path.join(base, n))
            files += 1
    return files, total


def prepared(base, name, build):
    """The folder of a corpus, built on first use."""
    folder = os.path.join(base, name)
    stamp = os.path.join(folder, ".complete")
    if not os.path.exists(stamp):
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        print(f"building corpus {name} in {folder} ...", flush=True)
        build(os.path.join(folder, "data"))
        open(stamp, "w").close()
    return folder


def timed(cmd, cwd):
    """Runs cmd; returns wall seconds, CPU seconds and peak resident KB of that child."""
    t0 = time.perf_counter()
    p = subprocess.Popen(cmd, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    err = p.stderr.read()
    _pid, status, usage = os.wait4(p.pid, 0)
    wall = time.perf_counter() - t0
    p.returncode = os.waitstatus_to_exitcode(status)
    p.stderr.close()
    if p.returncode != 0:
        sys.exit(f"failed ({p.returncode}): {' '.join(cmd)}\n{err.decode(errors='replace')}")
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss


def peak_kb(cmd, cwd):
    """The peak resident size of cmd in KB, as /usr/bin/time -v reports it (a child of this
    process would carry the interpreter's own peak over its exec)."""
    r = subprocess.run(["/usr/bin/time", "-f", "%M"] + cmd, cwd=cwd, stdout=subprocess.DEVNULL,
                       stderr=subprocess.PIPE)
    if r.returncode != 0:
        sys.exit(f"failed ({r.returncode}): {' '.join(cmd)}\n{r.stderr.decode(errors='replace')}")
    return int(r.stderr.decode().strip().splitlines()[-1])


def run_levels(corpus, arczip, levels, runs, sz_map, work, baseline=None):
    peers = {"zip": shutil.which("zip"), "7zz": shutil.which("7zz")}
    rows, loads = [], [os.getloadavg()[0]]
    for level in levels:
        tools = {
            "arczip": lambda out, lv=level: [arczip, "a", out, "data", "-r", f"-{lv}"],
        }
        if baseline:
            tools["base"] = lambda out, lv=level: [baseline, "a", out, "data", "-r", f"-{lv}"]
        if peers["zip"]:
            tools["zip"] = lambda out, lv=level: ["zip", "-r", "-q", f"-{lv}", out, "data"]
        if peers["7zz"]:
            sz = sz_map.get(level, level)
            tools[f"7zz-mx{sz}"] = lambda out, lv=sz: ["7zz", "a", "-tzip", f"-mx={lv}", out,
                                                        "data"]
        results = {name: [] for name in tools}
        sizes = {}
        for run in range(runs):
            order = list(tools)
            if run % 2:
                order.reverse()
            for name in order:
                out = os.path.join(work, f"{name}-{level}.zip")
                if os.path.exists(out):
                    os.remove(out)
                results[name].append(timed(tools[name](out), corpus))
                sizes[name] = os.path.getsize(out)
                os.remove(out)
                loads.append(os.getloadavg()[0])
        for name in tools:
            wall = statistics.median(w for w, _, _ in results[name])
            cpu = statistics.median(c for _, c, _ in results[name])
            peak = max(m for _, _, m in results[name])
            rows.append((level, name, wall, cpu, sizes[name], peak))
    return rows, loads


def print_levels(title, rows, loads):
    print()
    print(f"{title}  (load average during the runs: {min(loads):.1f} to {max(loads):.1f})")
    print(f"{'level':>5} {'tool':<9} {'wall s':>8} {'cpu s':>8} {'cores':>5} {'peak MB':>7} "
          f"{'size':>12}   {'arczip/peer: wall':>17} {'cpu':>6} {'size':>8}")
    for level, name, wall, cpu, size, peak in rows:
        ours = next(r for r in rows if r[0] == level and r[1] == "arczip")
        ratio = ""
        if name != "arczip":
            ratio = (f"{ours[2] / wall:>17.3f} {ours[3] / cpu if cpu else 0:>6.3f} "
                     f"{ours[4] / size:>8.4f}")
        print(f"{level:>5} {name:<9} {wall:>8.3f} {cpu:>8.3f} {cpu / wall if wall else 0:>5.2f} "
              f"{peak / 1024:>7.1f} {size:>12,}   {ratio}")


def run_memory(base, arczip, runs, work):
    """Peak resident size over many small files, and its growth per file."""
    sizes = (20_000, 100_000)
    folders = {n: prepared(base, f"many-{n // 1000}k", lambda root, n=n: make_many_files(root, n))
               for n in sizes}
    tools = {"arczip": lambda out: [arczip, "a", out, "data", "-r"]}
    if shutil.which("zip"):
        tools["zip"] = lambda out: ["zip", "-r", "-q", out, "data"]
    if not os.access("/usr/bin/time", os.X_OK):
        print("\nmemory: /usr/bin/time is missing (Debian package time)")
        return
    peak = {}
    for name, cmd in tools.items():
        for n in sizes:
            rss = []
            for _ in range(runs):
                out = os.path.join(work, f"many-{name}.zip")
                if os.path.exists(out):
                    os.remove(out)
                rss.append(peak_kb(cmd(out), folders[n]))
                os.remove(out)
            peak[name, n] = statistics.median(rss)
    # The entries' stored names: "data/folder0000/sub0/file0000000.txt" and the folders'.
    entries, name_bytes = 0, 0
    for root, dirs, files in os.walk(os.path.join(folders[sizes[1]], "data")):
        rel = os.path.relpath(root, folders[sizes[1]])
        for d in dirs:
            entries, name_bytes = entries + 1, name_bytes + len(os.path.join(rel, d)) + 1
        for f in files:
            entries, name_bytes = entries + 1, name_bytes + len(os.path.join(rel, f))
    name = name_bytes / entries
    print()
    print(f"memory over many small files (peak resident size, median of {runs})")
    print(f"{'tool':<9} {'20,000 files':>13} {'100,000 files':>14} {'per file':>9} "
          f"{'beyond name':>12} {'1,000,000 files':>16}")
    for tool in tools:
        small, large = peak[tool, sizes[0]], peak[tool, sizes[1]]
        per_file = (large - small) * 1024 / (sizes[1] - sizes[0])
        million = (large * 1024 + per_file * (1_000_000 - sizes[1])) / 1e6
        print(f"{tool:<9} {small / 1024:>10.1f} MB {large / 1024:>11.1f} MB {per_file:>7.0f} B "
              f"{per_file - name:>10.0f} B {million:>13.0f} MB")
    print(f"(a stored name is {name:.0f} bytes on average; \"per file\" is the growth between the "
          f"two runs)")


def run_split(corpus, arczip, runs, work):
    """Split writing at level 6 in parts of 1433600 bytes against zip -s and our one-file write,
    and testing the set against 7zz t."""
    def clean(prefix):
        for f in glob.glob(os.path.join(work, prefix + ".*")):
            os.remove(f)
    writers = {
        "arczip split": lambda out: [arczip, "split", out + ".zip", "data", "-r", "-6",
                                     "-b", "1433600"],
        "arczip one": lambda out: [arczip, "a", out + ".zip", "data", "-r", "-6"],
    }
    if shutil.which("zip"):
        writers["zip -s"] = lambda out: ["zip", "-r", "-q", "-6", "-s", "1400k", out + ".zip",
                                         "data"]
    results = {name: [] for name in writers}
    loads = [os.getloadavg()[0]]
    for run in range(runs):
        order = list(writers) if run % 2 == 0 else list(reversed(writers))
        for name in order:
            prefix = "split-" + name.replace(" ", "-")
            clean(prefix)
            results[name].append(timed(writers[name](os.path.join(work, prefix)), corpus)[0])
            if name != "arczip split":
                clean(prefix)
            loads.append(os.getloadavg()[0])
    set_zip = os.path.join(work, "split-arczip-split.zip")
    testers = {"arczip t": [arczip, "t", set_zip]}
    if shutil.which("7zz"):
        testers["7zz t"] = ["7zz", "t", set_zip]
    tests = {name: [timed(cmd, work)[0] for _ in range(runs)] for name, cmd in testers.items()}
    clean("split-arczip-split")
    wall = {n: statistics.median(v) for n, v in list(results.items()) + list(tests.items())}
    print()
    print(f"split parts of 1433600 bytes, level 6  (load average during the runs: "
          f"{min(loads):.1f} to {max(loads):.1f})")
    for name, w in wall.items():
        print(f"  {name:<13} {w:>8.3f} s")
    pairs = [("arczip split", "zip -s"), ("arczip split", "arczip one"), ("arczip t", "7zz t")]
    for ours, peer in pairs:
        if ours in wall and peer in wall and wall[peer] > 0:
            print(f"  {ours} / {peer}: {wall[ours] / wall[peer]:.3f}")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default="build/release")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--levels", default="9,5,1,0")
    ap.add_argument("--corpora", default="mixed,lines")
    ap.add_argument("--no-memory", action="store_true")
    ap.add_argument("--no-split", action="store_true")
    ap.add_argument("--baseline", default=None,
                    help="another arczip (an older build) run beside ours as the peer \"base\"")
    ap.add_argument("--corpus", default=None,
                    help="folder of the corpora (default: BUILD/bench-corpus)")
    # 7-Zip's deflate at -mx=9 makes ten passes; -mx=7 (three passes) is the closer match to the
    # single-pass level 9 of zip and arczip.
    ap.add_argument("--7zz-levels", dest="sz_levels", default="9:7,5:5,1:1,0:0",
                    help="our level:7zz -mx level pairs")
    args = ap.parse_args()

    arczip = os.path.abspath(os.path.join(args.build, "src", "arczip"))
    baseline = os.path.abspath(args.baseline) if args.baseline else None
    if not os.access(arczip, os.X_OK):
        sys.exit(f"arczip not found at {arczip}; build first")
    base = os.path.abspath(args.corpus or os.path.join(args.build, "bench-corpus"))
    os.makedirs(base, exist_ok=True)
    builders = {"mixed": make_corpus, "lines": make_lines_corpus}
    sz_map = dict(tuple(int(v) for v in pair.split(":")) for pair in args.sz_levels.split(","))
    levels = [int(x) for x in args.levels.split(",")]
    print(f"{args.runs} runs per tool, alternating; {os.cpu_count()} processors")
    work = tempfile.mkdtemp(prefix="arcavo-bench-")
    try:
        tables = []
        for name in [c for c in args.corpora.split(",") if c]:
            if name not in builders:
                sys.exit(f"unknown corpus {name}; known: {', '.join(builders)}")
            folder = prepared(base, name, builders[name])
            files, total = corpus_size(os.path.join(folder, "data"))
            rows, loads = run_levels(folder, arczip, levels, args.runs, sz_map, work, baseline)
            tables.append((f"corpus {name}: {files} files, {total / 1e6:.1f} MB", rows, loads))
        for title, rows, loads in tables:
            print_levels(title, rows, loads)
        if not args.no_split:
            folder = prepared(base, "mixed", builders["mixed"])
            run_split(folder, arczip, args.runs, work)
        if not args.no_memory:
            run_memory(base, arczip, args.runs, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
