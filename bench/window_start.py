#!/usr/bin/env python3
"""How fast the program's window comes up, and how much memory it holds then.

Each run starts the Release `arcavo` with a settings folder of its own that has been through the
first run (so no first-run question comes up), in private HOME and XDG folders, and with
ARCAVO_REPORT_FIRST_PAINT=quit: at the window's first paint the program reports the time since
its process was created and its resident size (VmRSS), then ends. One run first warms the file
cache and is not counted; the table gives each counted run and the median against the goals:
start to first paint <= 1.0 s, resident size after the first paint <= 120 MB.

"spawn" is the same time measured from here (from just before the fork, with this script's
clock), as a check on the program's own figure.

Without a display (or with --xvfb) the script runs itself again under `xvfb-run`, so every run
shares one X server that is up before the first run starts; without a session bus, under
`dbus-run-session` too, as on a desktop.

    python3 bench/window_start.py --build build/release [--runs 5] [--xvfb]

The status is 1 when a median is over its goal.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

GOAL_MS = 1000.0
GOAL_MB = 120.0


def private_folders(root):
    """HOME and the XDG folders under root, with a default.ini past the first run."""
    env = dict(os.environ)
    for var, name in (("HOME", "home"), ("XDG_CONFIG_HOME", "config"),
                      ("XDG_STATE_HOME", "state"), ("XDG_DATA_HOME", "data"),
                      ("XDG_CACHE_HOME", "cache"), ("XDG_RUNTIME_DIR", "runtime")):
        path = os.path.join(root, name)
        os.makedirs(path, mode=0o700, exist_ok=True)
        env[var] = path
    os.makedirs(os.path.join(root, "config", "arcavo"), mode=0o700)
    with open(os.path.join(root, "config", "arcavo", "default.ini"), "w") as fh:
        fh.write("[Options]\nClrDisk=0\n")
    env["ARCAVO_REPORT_FIRST_PAINT"] = "quit"
    env["LC_ALL"] = "C.UTF-8"
    env.pop("QT_QPA_PLATFORM", None)
    return env


def one_start(arcavo):
    """(ms from process start to first paint, ms from spawn, resident MB)."""
    root = tempfile.mkdtemp(prefix="arcavo-start-")
    try:
        env = private_folders(root)
        spawn_ms = time.monotonic() * 1000.0
        proc = subprocess.run([arcavo], env=env, cwd=root, stdout=subprocess.DEVNULL,
                              stderr=subprocess.PIPE, timeout=60)
        err = proc.stderr.decode(errors="replace")
        line = next((l for l in err.splitlines() if l.startswith("first-paint ")), None)
        if proc.returncode != 0 or line is None:
            sys.exit(f"arcavo ended with {proc.returncode} without a first paint:\n{err}")
        f = line.split()
        # first-paint <ms> monotonic-ms <ms> rss-kb <kb>
        return float(f[1]), float(f[3]) - spawn_ms, int(f[5]) / 1024.0
    finally:
        shutil.rmtree(root, ignore_errors=True)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default="build/release")
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--xvfb", action="store_true", help="run under xvfb-run even with a display")
    args = ap.parse_args()
    arcavo = os.path.abspath(os.path.join(args.build, "src", "arcavo"))
    if not os.access(arcavo, os.X_OK):
        sys.exit(f"no program at {arcavo} (build the target arcavo in Release first)")
    if not os.environ.get("ARCAVO_BENCH_WRAPPED"):
        wrap = []
        # A desktop has a session bus; without one the program's bus connection would start a
        # daemon of its own through dbus-launch, which a desktop start does not pay for.
        if not os.environ.get("DBUS_SESSION_BUS_ADDRESS") and shutil.which("dbus-run-session"):
            wrap += ["dbus-run-session", "--"]
        if args.xvfb or not os.environ.get("DISPLAY"):
            if not shutil.which("xvfb-run"):
                sys.exit("no display and no xvfb-run (package xvfb)")
            wrap += ["xvfb-run", "-a", "-s", "-screen 0 1600x1200x24 -dpi 96"]
        if wrap:
            os.environ["ARCAVO_BENCH_WRAPPED"] = "1"
            argv = [a for a in sys.argv[1:] if a != "--xvfb"]
            os.execvp(wrap[0], wrap + [sys.executable, os.path.abspath(__file__)] + argv)

    load = [os.getloadavg()[0]]
    one_start(arcavo)  # warms the file cache
    rows = []
    for _ in range(args.runs):
        rows.append(one_start(arcavo))
        load.append(os.getloadavg()[0])
    print(f"arcavo start to first paint, {args.runs} runs on {os.cpu_count()} cores "
          f"(load average {min(load):.1f} to {max(load):.1f})")
    print(f"{'run':>4} {'start ms':>9} {'spawn ms':>9} {'RSS MB':>8}")
    for i, (start, spawn, rss) in enumerate(rows, 1):
        print(f"{i:>4} {start:>9.1f} {spawn:>9.1f} {rss:>8.1f}")
    start = statistics.median(r[0] for r in rows)
    spawn = statistics.median(r[1] for r in rows)
    rss = statistics.median(r[2] for r in rows)
    print(f"{'med':>4} {start:>9.1f} {spawn:>9.1f} {rss:>8.1f}")
    ok_time, ok_rss = start <= GOAL_MS, rss <= GOAL_MB
    print(f"start to first paint {start / 1000:.3f} s (goal <= {GOAL_MS / 1000:.1f} s): "
          f"{'met' if ok_time else 'OVER'}")
    print(f"resident after first paint {rss:.1f} MB (goal <= {GOAL_MB:.0f} MB): "
          f"{'met' if ok_rss else 'OVER'}")
    return 0 if ok_time and ok_rss else 1


if __name__ == "__main__":
    sys.exit(main())
