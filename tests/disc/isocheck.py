#!/usr/bin/python3
"""Reads an ISO 9660/Joliet image with tools nobody here wrote and compares what they see with
what `arcdisc image --list` said it wrote. Prints every difference; exit status 1 when any.

    isocheck.py tree IMAGE LIST SCRATCH   paths in bsdtar, 7zz, isoinfo -J, xorriso and pycdlib;
                                          contents extracted by osirrox, 7zz and bsdtar; ISO
                                          names unique per directory (isoinfo -l, pycdlib)
    isocheck.py dates IMAGE PATH MTIME... recorded date minus its offset equals MTIME (UTC)
"""
import collections
import hashlib
import os
import subprocess
import sys

import pycdlib

problems = []


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                          **kw).stdout


def fs(b):
    return os.fsdecode(b)


def with_parents(files):
    out = set()
    for f in files:
        parts = f.strip("/").split("/")
        for i in range(1, len(parts) + 1):
            out.add("/".join(parts[:i]))
    return out


def compare(tool, seen, expected):
    missing, extra = expected - seen, seen - expected
    for p in sorted(missing)[:10]:
        problems.append(f"{tool}: missing {p!r}")
    for p in sorted(extra)[:10]:
        problems.append(f"{tool}: unexpected {p!r}")


def strip_version(name):
    return name[:-2] if name.endswith(";1") else name


def pycdlib_paths(iso, **where):
    out = set()
    key = next(iter(where))
    for path, dirs, files in iso.walk(**where):
        base = path.strip("/")
        for n in dirs + [strip_version(f) for f in files]:
            out.add((base + "/" + n).strip("/"))
    return out


def sha(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def tree(image, listing, scratch):
    entries = []  # (disc path, iso path, source)
    with open(listing, "rb") as f:
        for line in f.read().split(b"\n"):
            if line:
                disc, iso_path, source = line.split(b"\t")
                entries.append((fs(disc), fs(iso_path), fs(source)))
    expected = with_parents(d for d, _, _ in entries)

    out = run(["bsdtar", "-tf", image]).decode()
    compare("bsdtar -tf", {p.rstrip("/") for p in out.split("\n") if p and p != "."}, expected)

    out = run(["7zz", "l", "-slt", image]).decode()
    paths = [l[7:] for l in out.split("\n") if l.startswith("Path = ")][1:]
    compare("7zz l -slt", set(paths), expected)

    # isoinfo writes Joliet names in a single-byte character set: Latin-1 here, with "_" for the
    # characters it does not hold.
    out = run(["isoinfo", "-J", "-j", "iso8859-1", "-f", "-i", image]).decode("latin-1")
    latin1 = {"".join(c if ord(c) < 256 else "_" for c in p) for p in expected}
    compare("isoinfo -J -f", {strip_version(p).strip("/") for p in out.split("\n") if p}, latin1)

    out = run(["xorriso", "-charset", "UTF-8", "-indev", image, "-find", "/"]).decode()
    paths = set()
    for l in out.split("\n"):
        if l.startswith("'") and l.endswith("'"):
            p = l[1:-1].replace("'\"'\"'", "'").strip("/")
            if p:
                paths.add(p)
    compare("xorriso -find", paths, expected)

    iso = pycdlib.PyCdlib()
    iso.open(image)
    compare("pycdlib Joliet walk", pycdlib_paths(iso, joliet_path="/"), expected)

    # ISO tree: the names --list gave, and unique names in every directory.
    iso_expected = with_parents(strip_version(i) for _, i, _ in entries)
    iso_seen = pycdlib_paths(iso, iso_path="/")
    compare("pycdlib ISO walk", iso_seen, iso_expected)
    for path, dirs, files in iso.walk(iso_path="/"):
        names = [d for d in dirs] + [strip_version(f) for f in files]
        for n, c in collections.Counter(names).items():
            if c > 1:
                problems.append(f"pycdlib ISO walk: {n!r} {c} times in {path!r}")
    iso.close()
    out = run(["isoinfo", "-l", "-i", image]).decode("latin-1")
    names = collections.defaultdict(list)
    current = None
    for l in out.split("\n"):
        if l.startswith("Directory listing of "):
            current = l[len("Directory listing of "):]
        elif current is not None and len(l) > 60 and "]" in l:
            name = l[l.index("]") + 3:].rstrip()
            if name not in (".", ".."):
                names[current].append(strip_version(name))
    if sum(len(v) for v in names.values()) != len(iso_expected):
        problems.append(f"isoinfo -l: {sum(len(v) for v in names.values())} names, "
                        f"expected {len(iso_expected)}")
    for d, v in names.items():
        for n, c in collections.Counter(v).items():
            if c > 1:
                problems.append(f"isoinfo -l: {n!r} {c} times in {d!r}")

    # Contents: every file's sha256 after extraction by three tools.
    sums = {d.strip("/"): sha(s) for d, _, s in entries}
    for tool, cmd in (("osirrox", ["osirrox", "-indev", image, "-extract", "/", "{out}"]),
                      ("7zz x", ["7zz", "x", "-y", "-o{out}", image]),
                      ("bsdtar -xf", ["bsdtar", "-xf", image, "-C", "{out}"])):
        out_dir = os.path.join(scratch, tool.split()[0])
        os.makedirs(out_dir, exist_ok=True)
        run([a.replace("{out}", out_dir) for a in cmd])
        for d, digest in sums.items():
            p = os.path.join(out_dir, d)
            if not os.path.isfile(p):
                problems.append(f"{tool}: {d!r} not extracted")
            elif sha(p) != digest:
                problems.append(f"{tool}: {d!r} differs from its source")


def dates(image, pairs):
    import calendar
    iso = pycdlib.PyCdlib()
    iso.open(image)
    for path, mtime in zip(pairs[::2], pairs[1::2]):
        for where in ("iso_path", "joliet_path"):
            p = (path if where == "joliet_path" else path.upper()) + ";1"
            d = iso.get_record(**{where: p}).date
            local = calendar.timegm((1900 + d.years_since_1900, d.month, d.day_of_month, d.hour,
                                     d.minute, d.second))
            utc = local - d.gmtoffset * 15 * 60
            if utc != int(mtime):
                problems.append(f"{where} {path}: recorded {utc} (offset {d.gmtoffset}), "
                                f"mtime {mtime}")
    iso.close()


def main():
    if sys.argv[1] == "tree":
        tree(*sys.argv[2:5])
    elif sys.argv[1] == "dates":
        dates(sys.argv[2], sys.argv[3:])
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
