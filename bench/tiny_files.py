#!/usr/bin/env python3
"""An unattended backup of many tiny files through the real program, beside `zip -r -q`.

Builds a fixed corpus once (100,500 files of 0 to 300 bytes in 201 folders), writes a job that
ticks it (folders stored as entries, as `zip -r` does), and runs `arcavo JOB close` offscreen
with "FullBackupReport" on (every stored file gets a report line) and off, alternating with
`zip -r -q` on the same folder. Each child's peak resident memory is read from its own rusage.
Prints medians and the two figures the program is held to: its wall time as a ratio to zip's
(target <= 1.2) and its peak memory with the full report on (target <= 150 MB), with the ratio
of that memory to zip's.

    python3 bench/tiny_files.py --build build/release [--runs 3] [--corpus DIR]
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

FOLDERS = 201
FILES_PER_FOLDER = 500


def make_corpus(root):
    """Deterministic: the same seed gives the same names and bytes on every machine."""
    rng = random.Random(19)
    alphabet = b"abcdefghijklmnopqrstuvwxyz .,\n0123456789"
    for d in range(FOLDERS):
        folder = os.path.join(root, f"d{d // 20:02d}", f"f{d:03d}")
        os.makedirs(folder, exist_ok=True)
        for f in range(FILES_PER_FOLDER):
            size = rng.randint(0, 300)
            with open(os.path.join(folder, f"n{f:03d}.txt"), "wb") as fh:
                fh.write(bytes(rng.choice(alphabet) for _ in range(size)))


def count_files(root):
    return sum(len(names) for _base, _dirs, names in os.walk(root))


def run_child(cmd, cwd, env):
    """Wall seconds and peak resident set (MB) of one child; fails loudly on a bad status."""
    t0 = time.perf_counter()
    p = subprocess.Popen(cmd, cwd=cwd, env=env, stdout=subprocess.DEVNULL,
                         stderr=subprocess.PIPE)
    _pid, status, usage = os.wait4(p.pid, 0)
    wall = time.perf_counter() - t0
    err = p.stderr.read().decode(errors="replace")
    p.stderr.close()
    code = os.waitstatus_to_exitcode(status)
    if code != 0:
        sys.exit(f"failed ({code}): {' '.join(cmd)}\n{err}")
    return wall, usage.ru_maxrss / 1024.0


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default="build/release")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--corpus", default=None, help="corpus folder (default: BUILD/bench-tiny)")
    args = ap.parse_args()

    arcavo = os.path.abspath(os.path.join(args.build, "src", "arcavo"))
    if not os.access(arcavo, os.X_OK):
        sys.exit(f"arcavo not found at {arcavo}; build first")
    zip_tool = shutil.which("zip")
    if not zip_tool:
        sys.exit("zip is not installed")
    corpus = os.path.abspath(args.corpus or os.path.join(args.build, "bench-tiny"))
    data = os.path.join(corpus, "data")
    stamp = os.path.join(corpus, ".complete")
    if not os.path.exists(stamp):
        shutil.rmtree(corpus, ignore_errors=True)
        os.makedirs(corpus)
        print(f"building corpus in {corpus} ...", flush=True)
        make_corpus(data)
        open(stamp, "w").close()
    files = count_files(data)

    work = tempfile.mkdtemp(prefix="arcavo-bench-tiny-")
    try:
        # The program's own folders, so the benchmark never touches the user's settings.
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
        for var, sub in (("XDG_CONFIG_HOME", "config"), ("XDG_STATE_HOME", "state"),
                         ("XDG_DATA_HOME", "share"), ("XDG_RUNTIME_DIR", "run")):
            env[var] = os.path.join(work, sub)
            os.makedirs(env[var], mode=0o700, exist_ok=True)
        settings = os.path.join(env["XDG_CONFIG_HOME"], "arcavo")
        os.makedirs(settings, exist_ok=True)
        archive = os.path.join(work, "tiny.zip")
        with open(os.path.join(work, "tiny.JOB"), "w") as fh:
            fh.write(f"ARCAVO-JOB 1\nC\tD\t{data}\n")
        # Copy mode, "Full Directories" and "Save Empty Directories", compression "Low" (level 5;
        # zip's default is 6), the inclusion grid taking every file.
        with open(os.path.join(work, "tiny.INI"), "w") as fh:
            fh.write(f"[ZIPFILE]\nFname={archive}\n[Options]\nClrDisk=0\nOptCheck1=0\n"
                     "OptCheck2=24\nOptCheck4=1\nOptCheck6=0\n[SGcol0]\n1=*.*\n")

        def arcavo_run(full_report):
            with open(os.path.join(settings, "default.ini"), "w") as fh:
                fh.write(f"[Options]\nClrDisk=0\nFullReport={1 if full_report else 0}\n")
            for name in os.listdir(settings):
                if name.endswith(".txt"):
                    os.remove(os.path.join(settings, name))
            if os.path.exists(archive):
                os.remove(archive)
            return run_child([arcavo, "tiny.JOB", "close"], work, env)

        def zip_run():
            out = os.path.join(work, "peer.zip")
            if os.path.exists(out):
                os.remove(out)
            return run_child([zip_tool, "-r", "-q", out, "data"], corpus, env)

        tools = {"arcavo report": lambda: arcavo_run(True),
                 "arcavo plain": lambda: arcavo_run(False),
                 "zip -r -q": zip_run}
        results = {name: [] for name in tools}
        print(f"corpus: {files} files in {FOLDERS} folders; {args.runs} runs per tool, "
              f"alternating; {os.cpu_count()} processors", flush=True)
        for run in range(args.runs):
            order = list(tools)
            if run % 2:
                order.reverse()
            for name in order:
                results[name].append(tools[name]())
        entries = subprocess.run(["unzip", "-Z1", archive], capture_output=True,
                                 text=True).stdout.count("\n") if shutil.which("unzip") else 0

        med = {name: (statistics.median(w for w, _ in r), statistics.median(m for _, m in r))
               for name, r in results.items()}
        print()
        print(f"{'tool':<14} {'wall s':>8} {'peak MB':>9}")
        for name, (wall, mem) in med.items():
            print(f"{name:<14} {wall:>8.3f} {mem:>9.1f}")
        zip_wall, zip_mem = med["zip -r -q"]
        print()
        if entries:
            print(f"last archive: {entries} entries")
        for name in ("arcavo report", "arcavo plain"):
            wall, mem = med[name]
            print(f"{name}: wall ratio to zip {wall / zip_wall:.3f} (target <= 1.2); "
                  f"peak {mem:.1f} MB{' (target <= 150)' if name == 'arcavo report' else ''}, "
                  f"ratio to zip {mem / zip_mem:.2f}")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
