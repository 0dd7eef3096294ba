#!/usr/bin/env python3
"""Reads duplicate groups written by veldrano-scan --csv and by fdupes-style tools.

usage:
  groups.py agree CSV FDUPES_OUT [--log LOG] [--tree DIR] [--verify-md5] [--show N]
      Compares the groups of veldrano-scan's CSV with those of fdupes (both as sets
      of sets of paths). With --log and --tree, also checks the summary lines of
      the activity log against the tree and the CSV. --verify-md5 recomputes the
      MD5 of every file in the CSV. Prints PASS or FAIL with the differences; exit
      status 0 on agreement, 1 otherwise.
  groups.py count FORMAT FILE
      Prints "GROUPS FILES" for a CSV of veldrano-scan (FORMAT csv) or an output
      in fdupes' format (FORMAT fdupes: fdupes, jdupes, rmlint -o fdupes).

Paths are handled as bytes throughout; names need not be UTF-8.
"""
import hashlib
import os
import re
import stat
import sys

HEX = re.compile(rb"^[0-9A-Fa-f]{32}$")


class FormatError(Exception):
    pass


def read_csv_rows(path):
    """Rows (md5, path) of the CSV: MD5;PATH per line, CR LF line ends, a path
    holding CR or LF quoted RFC 4180 style ("...", embedded quotes doubled)."""
    data = open(path, "rb").read()
    rows, i, line = [], 0, 1
    while i < len(data):
        semi = data.find(b";", i)
        if semi < 0:
            raise FormatError(f"line {line}: no ';'")
        md5 = data[i:semi]
        if not HEX.match(md5):
            raise FormatError(f"line {line}: not an MD5: {md5[:60]!r}")
        j = semi + 1
        if data[j:j + 1] == b'"':
            buf, j = bytearray(), j + 1
            while True:
                q = data.find(b'"', j)
                if q < 0:
                    raise FormatError(f"line {line}: unterminated quoted path")
                buf += data[j:q]
                if data[q + 1:q + 2] == b'"':
                    buf += b'"'
                    j = q + 2
                    continue
                j = q + 1
                break
            name = bytes(buf)
            if data[j:j + 2] != b"\r\n":
                raise FormatError(f"line {line}: quoted path not followed by CR LF")
            j += 2
        else:
            end = data.find(b"\r\n", j)
            if end < 0:
                raise FormatError(f"line {line}: no CR LF at the end")
            name = data[j:end]
            if b"\r" in name or b"\n" in name:
                raise FormatError(f"line {line}: bare CR or LF in an unquoted path")
            j = end + 2
        rows.append((md5.upper(), name))
        line += 1 + name.count(b"\n")
        i = j
    return rows


def csv_groups(rows, problems, notes=None):
    """Groups as the sets of rows sharing an MD5 (the rows of one group need not
    be next to one another); notes what breaks the format."""
    by_md5, order, seen_path, runs, last = {}, [], set(), 0, None
    for md5, name in rows:
        if name in seen_path:
            problems.append(f"CSV lists a path twice: {show(name)}")
        seen_path.add(name)
        if md5 not in by_md5:
            by_md5[md5] = []
            order.append(md5)
        by_md5[md5].append(name)
        if md5 != last:
            runs += 1
        last = md5
    for md5 in order:
        if len(by_md5[md5]) < 2:
            problems.append(f"CSV group {md5.decode()} has a single file: {show(by_md5[md5][0])}")
    if notes is not None and runs != len(order):
        notes.append(f"the CSV's rows of one group are not always adjacent "
                     f"({len(order)} groups in {runs} runs of rows)")
    return [frozenset(by_md5[m]) for m in order]


def fdupes_groups(path):
    """Groups of an fdupes-style listing: one path a line, a blank line after each group."""
    groups, run = [], []
    for line in open(path, "rb").read().split(b"\n") + [b""]:
        if line == b"":
            if run:
                groups.append(frozenset(run))
            run = []
        else:
            run.append(line)
    return groups


def show(name):
    text = name.decode("utf-8", "backslashreplace")
    return text.replace("\r", "\\r").replace("\n", "\\n")


def regular_files(top):
    count = 0
    for dirpath, dirnames, filenames in os.walk(os.fsencode(top)):
        for n in filenames + dirnames:
            if stat.S_ISREG(os.lstat(os.path.join(dirpath, n)).st_mode):
                count += 1
    return count


def log_number(log, label):
    """The number in the log's summary line 'LABEL: 1 234' (None when missing)."""
    for line in open(log, "rb").read().decode("utf-8", "replace").splitlines():
        cols = line.split("\t")
        if len(cols) > 1 and cols[1].startswith(label + ":"):
            digits = re.sub(r"\D", "", cols[1][len(label) + 1:])
            return int(digits) if digits else None
    return None


def agree(args):
    show_max = 10
    opts = {"--log": None, "--tree": None}
    verify = False
    pos = []
    it = iter(args)
    for a in it:
        if a in opts:
            opts[a] = next(it)
        elif a == "--verify-md5":
            verify = True
        elif a == "--show":
            show_max = int(next(it))
        else:
            pos.append(a)
    if len(pos) != 2:
        sys.exit(__doc__)
    csv_path, fdupes_path = pos

    problems, notes = [], []
    try:
        rows = read_csv_rows(csv_path)
    except FormatError as e:
        print(f"FAIL: the CSV cannot be read: {e}")
        return 1
    ours = csv_groups(rows, problems, notes)
    theirs = fdupes_groups(fdupes_path)
    ours_set, theirs_set = set(ours), set(theirs)
    ours_files = sum(len(g) for g in ours)
    theirs_files = sum(len(g) for g in theirs)
    print(f"  veldrano-scan: {len(ours)} groups, {ours_files} files;"
          f" fdupes: {len(theirs)} groups, {theirs_files} files")
    for n in notes:
        print(f"  note: {n}")

    only_ours = sorted(ours_set - theirs_set, key=lambda g: sorted(g))
    only_theirs = sorted(theirs_set - ours_set, key=lambda g: sorted(g))
    if only_ours or only_theirs:
        where_theirs = {p: g for g in theirs for p in g}
        where_ours = {p: g for g in ours for p in g}
        problems.append(f"{len(only_ours)} groups only in veldrano-scan's CSV, "
                        f"{len(only_theirs)} only in fdupes' output")
        for title, groups, other, other_name in (
                ("only in veldrano-scan", only_ours, where_theirs, "fdupes"),
                ("only in fdupes", only_theirs, where_ours, "veldrano-scan")):
            for g in groups[:show_max]:
                problems.append(f"  group {title} ({len(g)} files):")
                for p in sorted(g):
                    o = other.get(p)
                    note = f"in a {other_name} group of {len(o)}" if o else f"in no {other_name} group"
                    problems.append(f"    {show(p)}   [{note}]")
            if len(groups) > show_max:
                problems.append(f"  ... and {len(groups) - show_max} more groups {title}")

    if verify:
        bad = 0
        for md5, name in rows:
            try:
                with open(name, "rb") as f:
                    real = hashlib.md5(f.read()).hexdigest().upper().encode()
            except OSError as e:
                problems.append(f"cannot read {show(name)} to check its MD5: {e.strerror}")
                continue
            if real != md5:
                bad += 1
                if bad <= show_max:
                    problems.append(f"wrong MD5 in the CSV: {md5.decode()} for {show(name)} (is {real.decode()})")
        print(f"  MD5 of all {len(rows)} CSV rows recomputed: {len(rows) - bad} right, {bad} wrong")

    if opts["--log"]:
        dups = log_number(opts["--log"], "Duplicate files")
        want = ours_files - len(ours)
        if dups != want:
            problems.append(f"log says 'Duplicate files: {dups}', the CSV holds {ours_files} files in "
                            f"{len(ours)} groups ({want} duplicates)")
        if opts["--tree"]:
            found = log_number(opts["--log"], "Files found")
            real = regular_files(opts["--tree"])
            if found != real:
                problems.append(f"log says 'Files found: {found}', the tree holds {real} regular files")
            print(f"  log: Files found {found} (tree: {real}), Duplicate files {dups} (CSV: {want})")

    if problems:
        print("FAIL")
        for p in problems:
            print("  " + p)
        return 1
    print("PASS: the same duplicate groups")
    return 0


def count(args):
    if len(args) != 2 or args[0] not in ("csv", "fdupes"):
        sys.exit(__doc__)
    fmt, path = args
    if fmt == "csv":
        groups = csv_groups(read_csv_rows(path), [])
    else:
        groups = fdupes_groups(path)
    print(len(groups), sum(len(g) for g in groups))
    return 0


def main():
    if len(sys.argv) < 2 or sys.argv[1] not in ("agree", "count"):
        sys.exit(__doc__)
    return (agree if sys.argv[1] == "agree" else count)(sys.argv[2:])


if __name__ == "__main__":
    sys.exit(main())
