#!/usr/bin/env python3
"""Makes a repeatable tree of files for the benchmarks and agreement checks.

usage: make_tree.py DEST [--files N] [--copies F] [--same-size F] [--max-size B]
                         [--min-size B] [--uniform] [--one-size B] [--depth D]
                         [--fanout K] [--seed S] [--awkward]

N regular files over nested directories (D levels, 1 to K subdirectories
each). A share F of them (--copies) are byte-for-byte copies of an earlier
file; a share (--same-size) have the size of an earlier file and other bytes
(its last byte changed). The other files get random bytes and a size drawn
log-uniformly from [--min-size, --max-size] (evenly with --uniform; a few
empty files when --min-size is 0), or exactly --one-size bytes. --awkward
gives some directories and files names with blanks, ';', '&', '<', quotes,
non-ASCII letters, a leading '-', bytes that are not UTF-8, and very long
names. The same arguments always make the same tree. Prints a JSON summary:
files, bytes, copies and the bytes they take, directories.
"""
import argparse
import json
import os
import random
import sys

AWKWARD_DIRS = ["R&D", "a;b", "Ünïcödé", "x <y>", "-lead", "sp ace", "é" * 40]
AWKWARD_FILES = ["R&D ", "a;b", "ünï", "<x>", "-dash", "q'uote", "n" * 200]


def directories(rnd, depth, fanout, awkward):
    """Relative paths of every directory of the tree, the root ("") first."""
    found, level = [""], [""]
    for d in range(depth):
        below = []
        for parent in level:
            for k in range(rnd.randint(1, fanout)):
                name = f"d{d}_{k}"
                if awkward and rnd.random() < 0.3:
                    name = rnd.choice(AWKWARD_DIRS) + str(k)
                below.append(os.path.join(parent, name))
        found += below
        level = below
    return found


def new_size(rnd, a):
    if a.one_size is not None:
        return a.one_size
    if a.uniform:
        return rnd.randint(a.min_size, a.max_size)
    if a.min_size == 0 and rnd.random() < 0.02:
        return 0
    low = max(a.min_size, 1)
    size = int(round(2 ** rnd.uniform(low.bit_length() - 1, max(1, a.max_size).bit_length() - 1)))
    return max(a.min_size, min(size, a.max_size))


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("dest")
    ap.add_argument("--files", type=int, default=20000)
    ap.add_argument("--copies", type=float, default=0.2)
    ap.add_argument("--same-size", type=float, default=0.05)
    ap.add_argument("--max-size", type=int, default=4 << 20)
    ap.add_argument("--min-size", type=int, default=0)
    ap.add_argument("--uniform", action="store_true")
    ap.add_argument("--one-size", type=int)
    ap.add_argument("--depth", type=int, default=4)
    ap.add_argument("--fanout", type=int, default=6)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--awkward", action="store_true")
    a = ap.parse_args()

    rnd = random.Random(a.seed)
    dest = os.fsencode(a.dest)
    dirs = directories(rnd, a.depth, a.fanout, a.awkward)
    for d in dirs:
        os.makedirs(os.path.join(dest, os.fsencode(d)), exist_ok=True)

    originals = []  # (size, bytes) that later files may copy, kept to a few thousand
    first_of_size = {}
    files = total = copies = copied_bytes = 0
    for i in range(a.files):
        name = f"f{i:07d}.bin".encode()
        if a.awkward and rnd.random() < 0.2:
            name = rnd.choice(AWKWARD_FILES).encode() + str(i).encode() + b".dat"
            if rnd.random() < 0.2:
                name = b"latin1-\xe9\xe8-" + name  # not UTF-8
        path = os.path.join(dest, os.fsencode(rnd.choice(dirs)), name)
        draw = rnd.random()
        if originals and draw < a.copies:
            size, data = rnd.choice(originals)
            copies += 1
            copied_bytes += size
        elif first_of_size and draw < a.copies + a.same_size:
            size = rnd.choice(list(first_of_size))
            data = bytearray(first_of_size[size] or b"\0")
            data[-1] ^= 1 + rnd.randrange(255)
            data = bytes(data)
        else:
            data = rnd.randbytes(new_size(rnd, a))
            if len(originals) < 5000 or rnd.random() < 0.1:
                originals.append((len(data), data))
            first_of_size.setdefault(len(data), data)
        with open(path, "wb") as out:
            out.write(data)
        files += 1
        total += len(data)
    json.dump({"files": files, "bytes": total, "copies": copies, "copied_bytes": copied_bytes,
               "dirs": len(dirs)}, sys.stdout)
    print()


if __name__ == "__main__":
    main()
