#!/usr/bin/python3
"""Reads an ISO 9660/Joliet image with tools nobody here wrote and compares what they see with
what `arcdisc image --list` said it wrote. Prints every difference; exit status 1 when any.

    isocheck.py tree IMAGE LIST SCRATCH   paths in bsdtar, 7zz, isoinfo -J, xorriso and pycdlib;
                                          contents extracted by osirrox, 7zz and bsdtar; ISO
                                          names unique per directory (isoinfo -l, pycdlib);
                                          the records as ECMA-119 wants them (read here
                                          byte by byte): every directory sorted (9.3), path
                                          tables in order (6.9.1), the ISO tree at most 8
                                          levels deep (6.8.2.1); a file whose name the Joliet
                                          tree can hold is there under its own name
    isocheck.py same IMAGE FOLDER         every file below FOLDER reads back from IMAGE with
                                          its content (osirrox, pycdlib); isoinfo -l reads it
    isocheck.py dates IMAGE PATH MTIME... recorded date minus its offset equals MTIME (UTC)
    isocheck.py rr IMAGE FOLDER SCRATCH [--no-link-times]
                                          the Rock Ridge tree in bsdtar (-tf, and -xpf restoring
                                          the same manifest), xorriso (modes, links, no
                                          SUSP/RRIP complaints), isoinfo -R -l and pycdlib
                                          (modes, times to the second, links) equals FOLDER;
                                          --no-link-times leaves the times of links out
"""
import collections
import hashlib
import io
import os
import re
import shutil
import subprocess
import sys
import tempfile

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
    entries, placeholders = [], []  # (Joliet path, iso path, source, Rock Ridge path)
    with open(listing, "rb") as f:
        for line in f.read().split(b"\n"):
            if line:
                joliet, iso_path, source, rr_path = (fs(x) for x in line.split(b"\t"))
                (entries if source else placeholders).append((joliet, iso_path, source, rr_path))
    expected = with_parents(d for d, _, _, _ in entries if d)
    rock = any(r for _, _, _, r in entries)
    # Rock Ridge readers see the real names (and links); a relocation folder, when there is one,
    # is the one folder more that libisofs and pycdlib show.
    rr_expected = with_parents(r for _, _, _, r in entries) if rock else expected
    moved = {"rr_moved"} if placeholders and rock else set()

    # bsdtar -tf writes "\\" for a backslash and "\ooo" for a byte it does not print.
    out = re.sub(rb"\\(\\|[0-7]{3})", lambda m: b"\\" if m.group(1) == b"\\" else
                 bytes([int(m.group(1), 8)]), run(["bsdtar", "-tf", image]))
    compare("bsdtar -tf", {fs(p).rstrip("/") for p in out.split(b"\n") if p and p != b"."},
            rr_expected)

    if not rock:
        out = run(["7zz", "l", "-slt", image]).decode()
        paths = [l[7:] for l in out.split("\n") if l.startswith("Path = ")][1:]
        compare("7zz l -slt", set(paths), expected)

    # isoinfo writes Joliet names in a single-byte character set: Latin-1 here, with "_" for the
    # characters it does not hold.
    out = run(["isoinfo", "-J", "-j", "iso8859-1", "-f", "-i", image]).decode("latin-1")
    latin1 = {"".join(c if ord(c) < 256 else "_" for c in p) for p in expected}
    compare("isoinfo -J -f", {strip_version(p).strip("/") for p in out.split("\n") if p}, latin1)

    out = run(["xorriso", "-charset", "UTF-8", "-indev", image, "-find", "/"]).decode(
        "utf-8", "surrogateescape")
    paths = set()
    for l in out.split("\n"):
        if l.startswith("'") and l.endswith("'"):
            p = l[1:-1].replace("'\"'\"'", "'").strip("/")
            if p:
                paths.add(p)
    compare("xorriso -find", paths, rr_expected | moved)

    iso = pycdlib.PyCdlib()
    iso.open(image)
    compare("pycdlib Joliet walk", pycdlib_paths(iso, joliet_path="/"), expected)
    if rock:
        for _, _, _, r in entries:
            try:
                rec = iso.get_record(rr_path=os.fsencode(r).decode("utf-8", "replace"))
                if os.fsencode(os.path.basename(r)) != rec.rock_ridge.name():
                    problems.append(f"pycdlib Rock Ridge: {r!r} named {rec.rock_ridge.name()!r}")
            except Exception as e:  # a name pycdlib cannot look up by text
                if r.isprintable():
                    problems.append(f"pycdlib Rock Ridge: {r!r}: {e}")

    # ISO tree: the names --list gave, and unique names in every directory.
    iso_expected = with_parents(strip_version(i) for _, i, _, _ in entries + placeholders if i)
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

    # The records as ECMA-119 wants them; a name the Joliet tree can hold kept as it is.
    conformance(image, "records")
    for disc, _, source, _ in entries:
        own = own_name(os.fsencode(os.path.basename(source)))
        if disc and own is not None and disc.rsplit("/", 1)[-1] != own:
            problems.append(f"{source!r} is on the disc as {disc!r}, not under its own name")

    # Contents: every file's sha256 after extraction by three tools, by the names each reads.
    files = [(d, r, s) for d, _, s, r in entries if not os.path.islink(s)]
    for tool, cmd in (("osirrox", ["osirrox", "-indev", image, "-extract", "/", "{out}"]),
                      ("7zz x", ["7zz", "x", "-y", "-o{out}", image]),
                      ("bsdtar -xf", ["bsdtar", "-xf", image, "-C", "{out}"])):
        if rock and tool == "7zz x":
            continue
        sums = {(r if rock and tool != "7zz x" else d).strip("/"): sha(s) for d, r, s in files}
        out_dir = os.path.join(scratch, tool.split()[0])
        os.makedirs(out_dir, exist_ok=True)
        run([a.replace("{out}", out_dir) for a in cmd])
        for d, digest in sums.items():
            if tool == "bsdtar -xf" and re.match(r"([^/]*/)*[A-Za-z]:", d):
                continue  # bsdtar takes a leading "X:" for a drive letter and drops it
            p = os.path.join(out_dir, d)
            if not os.path.isfile(p):
                problems.append(f"{tool}: {d!r} not extracted")
            elif sha(p) != digest:
                problems.append(f"{tool}: {d!r} differs from its source")


SECTOR = 2048


def volume(image, kind):
    """The root record (extent, size) and path table (location, size) of the primary (kind 1) or
    Joliet (kind 2) volume descriptor."""
    with open(image, "rb") as f:
        for lba in range(16, 33):
            f.seek(lba * SECTOR)
            d = f.read(SECTOR)
            if d[1:6] != b"CD001" or d[0] == 255:
                break
            if d[0] == kind:
                root = d[156:190]
                return (int.from_bytes(root[2:6], "little"), int.from_bytes(root[10:14], "little"),
                        int.from_bytes(d[140:144], "little"), int.from_bytes(d[132:136], "little"))
    return None


def records(f, extent, size):
    """The records of a directory extent after "." and "..": (identifier, is a directory,
    extent)."""
    out = []
    for s in range((size + SECTOR - 1) // SECTOR):
        f.seek((extent + s) * SECTOR)
        sector = f.read(SECTOR)
        at = 0
        while at + 33 <= SECTOR and sector[at]:
            n = sector[at]
            r = sector[at:at + n]
            out.append((r[33:33 + r[32]], bool(r[25] & 2), int.from_bytes(r[2:6], "little"),
                        int.from_bytes(r[10:14], "little")))
            at += n
    return out[2:]


def ecma_key(ident, directory, joliet):
    """ECMA-119 9.3: name, then extension (none for a directory), each padded with blanks, then
    the version, higher first."""
    text = ident.decode("utf-16-be" if joliet else "latin-1")
    name, _, version = text.partition(";")
    stem, ext = (name, "") if directory or "." not in name else name.rsplit(".", 1)
    return stem, ext, -int(version or 0)


def ecma_less(a, b):
    for x, y in zip(a[:2], b[:2]):
        width = max(len(x), len(y))
        x, y = x.ljust(width), y.ljust(width)
        if x != y:
            return x < y
    return a[2] < b[2]


def conformance(image, tool):
    for kind, joliet in ((1, False), (2, True)):
        vd = volume(image, kind)
        if vd is None:
            continue
        tree = "Joliet" if joliet else "ISO"
        dirs = {}  # extent -> (path, level)
        with open(image, "rb") as f:
            pending = [(vd[0], vd[1], "", 1)]
            while pending:
                extent, size, path, level = pending.pop()
                dirs[extent] = (path, level)
                if level > 8 and not joliet:
                    problems.append(f"{tool} {tree}: {path!r} at level {level}")
                recs = records(f, extent, size)
                keys = [ecma_key(i, d, joliet) for i, d, _, _ in recs]
                for (i, _, _, _), a, b in zip(recs[1:], keys, keys[1:]):
                    if not ecma_less(a, b):
                        problems.append(f"{tool} {tree}: {path or '/'!r} not sorted at {i!r}")
                        break
                for i, d, e, n in recs:
                    if d and e not in dirs:
                        pending.append((e, n, path + "/" + i.decode("utf-16-be" if joliet
                                                                    else "latin-1"), level + 1))
            # The L path table: one record per directory, by level, parent and identifier.
            f.seek(vd[2] * SECTOR)
            table = f.read(vd[3])
        at, entries = 0, []
        while at < len(table):
            n = table[at]
            ident = table[at + 8:at + 8 + n]
            entries.append((int.from_bytes(table[at + 2:at + 6], "little"),
                            int.from_bytes(table[at + 6:at + 8], "little"), ident))
            at += 8 + n + (n % 2)
        if sorted(e for e, _, _ in entries) != sorted(dirs):
            problems.append(f"{tool} {tree}: path table lists {len(entries)} directories, the "
                            f"tree {len(dirs)}")
        for (e1, p1, i1), (e2, p2, i2) in zip(entries[1:], entries[2:]):
            l1, l2 = dirs.get(e1, ("", 0))[1], dirs.get(e2, ("", 0))[1]
            if (l1, p1) > (l2, p2) or ((l1, p1) == (l2, p2) and not ecma_less(
                    ecma_key(i1, True, joliet), ecma_key(i2, True, joliet))):
                problems.append(f"{tool} {tree}: path table out of order at {i2!r}")
                break


def own_name(name):
    """The name as the Joliet tree records it when it can hold it as it is, else None."""
    try:
        text = os.fsdecode(name).encode("utf-8", "strict").decode("utf-8")
    except UnicodeError:
        return None
    if len(text) > 103 or any(ord(c) < 0x20 or 0x7F <= ord(c) <= 0x9F or ord(c) > 0xFFFF or
                              c in '*/:;?\\' for c in text):
        return None
    return text


def same(image, folder):
    scratch = tempfile.mkdtemp()
    try:
        run(["osirrox", "-indev", image, "-extract", "/", scratch])
        run(["isoinfo", "-l", "-i", image])
        iso = pycdlib.PyCdlib()
        iso.open(image)
        for root, _, files in os.walk(folder):
            for name in files:
                rel = os.path.relpath(os.path.join(root, name), folder)
                with open(os.path.join(folder, rel), "rb") as f:
                    want = f.read()
                out = io.BytesIO()
                iso.get_file_from_iso_fp(out, joliet_path="/" + rel + ";1")
                extracted = os.path.join(scratch, rel)
                if out.getvalue() != want:
                    problems.append(f"pycdlib: {rel!r} differs")
                if not os.path.isfile(extracted) or sha(extracted) != sha(os.path.join(folder, rel)):
                    problems.append(f"osirrox: {rel!r} missing or different")
        iso.close()
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


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


def manifest(folder):
    """Every entry below folder, links not followed: path -> (stat.filemode, mtime, link target
    or content digest)."""
    import stat
    out = {}
    for root, dirs, files in os.walk(folder):
        for name in dirs + files:
            path = os.path.join(root, name)
            st = os.lstat(path)
            what = (os.readlink(path) if stat.S_ISLNK(st.st_mode) else
                    sha(path) if stat.S_ISREG(st.st_mode) else "")
            out[os.path.relpath(path, folder)] = (stat.filemode(st.st_mode), int(st.st_mtime), what)
    return out


def rock(image, folder, scratch, link_times=True):
    """The Rock Ridge tree as four readers see it equals the folder: names, modes, modification
    times to the second, link targets and contents. Without link_times the times of links are
    not compared."""
    import calendar
    import stat
    want = manifest(folder)
    if not link_times:
        want = {p: (m, 0 if m[0] == "l" else t, w) for p, (m, t, w) in want.items()}
    # bsdtar lists the tree and restores it with the same manifest.
    out = run(["bsdtar", "-tf", image]).decode("utf-8", "surrogateescape")
    compare("bsdtar -tf", {p.rstrip("/") for p in out.split("\n") if p and p != "."}, set(want))
    out_dir = os.path.join(scratch, "rr-bsdtar")
    os.makedirs(out_dir)
    run(["bsdtar", "-xpf", image, "-C", out_dir])
    got = {p: (m, 0 if m[0] == "l" and not link_times else t, w)
           for p, (m, t, w) in manifest(out_dir).items()}
    for p in sorted(set(want) | set(got)):
        if want.get(p) != got.get(p):
            problems.append(f"bsdtar -xpf: {p!r} restored as {got.get(p)}, source {want.get(p)}")
    # xorriso: modes and link targets, and not a word about the SUSP or RRIP fields.
    proc = subprocess.run(["xorriso", "-indev", image, "-find", "/", "-exec", "lsdl"],
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, check=True)
    seen = {}
    for line in proc.stdout.decode("utf-8", "surrogateescape").split("\n"):
        if re.search(r"SORRY|FAILURE|WARNING|FATAL|SUSP|RRIP|Rock Ridge", line):
            problems.append(f"xorriso: {line}")
        m = re.match(r"(\S{10})\s.*? '/(.*?)'(?: -> '(.*)')?$", line)
        if m and m.group(2) and m.group(2) != "rr_moved":
            seen[m.group(2)] = (m.group(1), m.group(3) or "")
    expect = {p: (mode, what if mode[0] == "l" else "") for p, (mode, _, what) in want.items()}
    for p in sorted(set(expect) | set(seen)):
        if expect.get(p) != seen.get(p):
            problems.append(f"xorriso lsdl: {p!r} is {seen.get(p)}, source {expect.get(p)}")
    # isoinfo -R -l: every name with its mode in the listing of its folder (a relocated folder's
    # own listing stands under /rr_moved).
    out = run(["isoinfo", "-R", "-l", "-i", image]).decode("utf-8", "surrogateescape")
    listed = collections.Counter()
    for l in out.split("\n"):
        m = re.match(r"(\S{10})\s+\d+\s+\d+\s+\d+\s+\d+ .{11} \[.*?\]  (.*?)(?: -> .*)? ?$", l)
        if m and m.group(2) not in (".", ".."):
            listed[(m.group(2), m.group(1))] += 1
    for p, (mode, _, _) in want.items():
        if not listed[(os.path.basename(p), mode)]:
            problems.append(f"isoinfo -R -l: {p!r} not listed with {mode}")
    # pycdlib's Rock Ridge view: mode, modification time (TF), link target.
    iso = pycdlib.PyCdlib()
    iso.open(image)
    for p, (mode, mtime, what) in want.items():
        try:
            r = iso.get_record(rr_path="/" + p).rock_ridge
        except Exception as e:
            problems.append(f"pycdlib: {p!r}: {e}")
            continue
        d = r.dr_entries.tf_record.modification_time
        t = calendar.timegm((1900 + d.years_since_1900, d.month, d.day_of_month, d.hour, d.minute,
                             d.second)) - d.gmtoffset * 15 * 60
        link = r.symlink_path().decode("utf-8", "surrogateescape") if r.is_symlink() else ""
        if link and not link_times:
            t = 0
        if (stat.filemode(r.get_file_mode()), t, link) != (mode, mtime,
                                                            what if mode[0] == "l" else ""):
            problems.append(f"pycdlib: {p!r} is {stat.filemode(r.get_file_mode())} {t} {link!r}, "
                            f"source {mode} {mtime} {what!r}")
    iso.close()


def main():
    if sys.argv[1] == "tree":
        tree(*sys.argv[2:5])
    elif sys.argv[1] == "dates":
        dates(sys.argv[2], sys.argv[3:])
    elif sys.argv[1] == "rr":
        rock(*sys.argv[2:5], link_times="--no-link-times" not in sys.argv[5:])
    elif sys.argv[1] == "same":
        same(sys.argv[2], sys.argv[3])
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
