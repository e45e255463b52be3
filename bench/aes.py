#!/usr/bin/env python3
"""Side-by-side benchmark of AES-256 encryption (WinZip AES) at level 5.

Over the corpora of bench/run.py (built once under BUILD/bench-corpus), four writers run
alternately:
  arczip       arczip a OUT data -r -5
  arczip AES   arczip a OUT data -r -5 -p PASSWORD          (AES-256, the default cipher)
  7zz          7zz a -tzip -mx=5 OUT data
  7zz AES      7zz a -tzip -mx=5 -mem=AES256 -pPASSWORD OUT data
and the AES archives are tested by `arczip t` and `7zz t`. The table gives median wall and CPU
time (user + system of the child) and archive size; the ratios are AES over no encryption for
each tool (the cost of encrypting) and ours over 7zz's. Every AES entry derives its keys from its
own salt with 1000 rounds of PBKDF2-HMAC-SHA1, so the cost grows with the number of files, not
only with the bytes; the per-file key cost (extra CPU / files) is printed too. On a shared
machine the wall ratios only mean something when the cores were free: compare the load average
printed with each table.

    python3 bench/aes.py --build build/release [--runs 3] [--corpora mixed,lines]
"""
import argparse
import os
import shutil
import statistics
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import run as common  # noqa: E402  (the corpora and the timing of bench/run.py)

PASSWORD = "bench-password"


def writers(arczip):
    tools = {
        "arczip": lambda out: [arczip, "a", out, "data", "-r", "-5"],
        "arczip AES": lambda out: [arczip, "a", out, "data", "-r", "-5", "-p", PASSWORD],
    }
    if shutil.which("7zz"):
        tools["7zz"] = lambda out: ["7zz", "a", "-tzip", "-mx=5", out, "data"]
        tools["7zz AES"] = lambda out: ["7zz", "a", "-tzip", "-mx=5", "-mem=AES256",
                                        "-p" + PASSWORD, out, "data"]
    return tools


def run_corpus(folder, arczip, runs, work):
    tools = writers(arczip)
    results = {name: [] for name in tools}
    sizes, loads = {}, [os.getloadavg()[0]]
    for r in range(runs):
        order = list(tools) if r % 2 == 0 else list(reversed(tools))
        for name in order:
            out = os.path.join(work, name.replace(" ", "-") + ".zip")
            if os.path.exists(out):
                os.remove(out)
            results[name].append(common.timed(tools[name](out), folder))
            sizes[name] = os.path.getsize(out)
            loads.append(os.getloadavg()[0])
    # Each archive of AES entries reads back with the password, through both readers.
    tests = {}
    for name in [n for n in tools if n.endswith("AES")]:
        out = os.path.join(work, name.replace(" ", "-") + ".zip")
        readers = {"arczip t": [arczip, "t", out, "-p", PASSWORD]}
        if shutil.which("7zz"):
            readers["7zz t"] = ["7zz", "t", "-p" + PASSWORD, out]
        for reader, cmd in readers.items():
            tests[f"{reader} ({name})"] = statistics.median(
                common.timed(cmd, work)[0] for _ in range(runs))
            loads.append(os.getloadavg()[0])
    for name in tools:
        os.remove(os.path.join(work, name.replace(" ", "-") + ".zip"))
    rows = {name: (statistics.median(w for w, _ in v), statistics.median(c for _, c in v))
            for name, v in results.items()}
    return rows, sizes, tests, loads


def print_corpus(title, files, rows, sizes, tests, loads):
    print()
    print(f"{title}  (load average during the runs: {min(loads):.1f} to {max(loads):.1f})")
    print(f"  {'writer':<11} {'wall s':>8} {'cpu s':>8} {'cores':>5} {'size':>13}")
    for name, (wall, cpu) in rows.items():
        print(f"  {name:<11} {wall:>8.3f} {cpu:>8.3f} {cpu / wall if wall else 0:>5.2f} "
              f"{sizes[name]:>13,}")
    for tool in ("arczip", "7zz"):
        if tool in rows and f"{tool} AES" in rows:
            (w0, c0), (w1, c1) = rows[tool], rows[f"{tool} AES"]
            print(f"  {tool}: AES-256 / none: wall {w1 / w0:.3f}, cpu {c1 / c0:.3f}; "
                  f"key cost {(c1 - c0) / max(files, 1) * 1000:.3f} ms cpu per file")
    if "7zz AES" in rows:
        print(f"  arczip AES / 7zz AES: wall {rows['arczip AES'][0] / rows['7zz AES'][0]:.3f}, "
              f"cpu {rows['arczip AES'][1] / rows['7zz AES'][1]:.3f}")
    for name, wall in tests.items():
        print(f"  {name:<24} {wall:>8.3f} s")
    a, s = tests.get("arczip t (arczip AES)"), tests.get("7zz t (arczip AES)")
    if a and s:
        print(f"  arczip t / 7zz t (same archive): {a / s:.3f}")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default="build/release")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--corpora", default="mixed,lines")
    ap.add_argument("--corpus", default=None,
                    help="folder of the corpora (default: BUILD/bench-corpus)")
    args = ap.parse_args()
    arczip = os.path.abspath(os.path.join(args.build, "src", "arczip"))
    if not os.access(arczip, os.X_OK):
        sys.exit(f"arczip not found at {arczip}; build first")
    base = os.path.abspath(args.corpus or os.path.join(args.build, "bench-corpus"))
    os.makedirs(base, exist_ok=True)
    builders = {"mixed": common.make_corpus, "lines": common.make_lines_corpus}
    print(f"AES-256 at level 5: {args.runs} runs per writer, alternating; "
          f"{os.cpu_count()} processors")
    work = tempfile.mkdtemp(prefix="arcavo-bench-aes-")
    try:
        for name in [c for c in args.corpora.split(",") if c]:
            if name not in builders:
                sys.exit(f"unknown corpus {name}; known: {', '.join(builders)}")
            folder = common.prepared(base, name, builders[name])
            files, total = common.corpus_size(os.path.join(folder, "data"))
            rows, sizes, tests, loads = run_corpus(folder, arczip, args.runs, work)
            print_corpus(f"corpus {name}: {files} files, {total / 1e6:.1f} MB", files, rows,
                         sizes, tests, loads)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
