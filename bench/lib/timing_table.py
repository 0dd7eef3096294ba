#!/usr/bin/env python3
"""Prints the table of bench/compare.sh from its measurements.

usage: timing_table.py RESULTS COUNTS TREES [--goal TREE:PEER] ...

RESULTS: TAB-separated lines  tree, tool, run, wall seconds, peak RSS KiB, CPU seconds, exit status
COUNTS:  TAB-separated lines  tree, tool, groups, files in groups
TREES:   TAB-separated lines  tree, generator arguments, generator summary (JSON)
A goal TREE:PEER means veldrano-scan should take no longer than PEER on TREE.
"""
import json
import statistics
import sys

OURS = "veldrano-scan"


def read_tsv(path):
    with open(path, encoding="utf-8") as f:
        return [line.rstrip("\n").split("\t") for line in f if line.strip()]


def main():
    args = sys.argv[1:]
    goals = {}
    pos = []
    while args:
        a = args.pop(0)
        if a == "--goal":
            tree, peer = args.pop(0).split(":")
            goals[tree] = peer
        else:
            pos.append(a)
    if len(pos) != 3:
        sys.exit(__doc__)
    results, counts, trees = (read_tsv(p) for p in pos)

    runs = {}
    for tree, tool, _run, wall, rss, cpu, status in results:
        runs.setdefault((tree, tool), []).append((float(wall), int(rss), float(cpu), int(status)))
    found = {(t, tool): (int(g), int(f)) for t, tool, g, f in counts}

    for tree, gen_args, summary in trees:
        info = json.loads(summary)
        n = lambda v: f"{v:,.0f}".replace(",", " ")
        print(f"Tree '{tree}': {n(info['files'])} files, {n(info['bytes'] / 2**20)} MiB, "
              f"{n(info['dirs'])} directories (make_tree.py {gen_args})")
        tools = [tool for (t, tool) in runs if t == tree]
        ours = runs.get((tree, OURS))
        ours_best = min(r[0] for r in ours) if ours else None
        header = (f"  {'tool':14} {'best s':>8} {'median s':>9} {'CPU s':>7} {'peak RSS':>10}"
                  f" {'veldrano/peer':>14} {'groups':>8} {'dup files':>10}  runs (s)")
        print(header)
        print("  " + "-" * (len(header) - 2))
        for tool in tools:
            rs = runs[(tree, tool)]
            walls = [r[0] for r in rs]
            best = min(walls)
            best_run = rs[walls.index(best)]
            rss_mib = max(r[1] for r in rs) / 1024
            ratio = "" if tool == OURS else f"{ours_best / best:.2f}"
            g, f = found.get((tree, tool), ("?", "?"))
            failed = [r[3] for r in rs if r[3] != 0]
            mark = ""
            if (tree, OURS) in found and (g, f) != found[(tree, OURS)]:
                mark = "  (!) other groups than veldrano-scan"
            if failed:
                mark += f"  (!) exit status {failed[0]}"
            print(f"  {tool:14} {best:8.2f} {statistics.median(walls):9.2f} {best_run[2]:7.2f}"
                  f" {rss_mib:7.1f} MiB {ratio:>14} {g:>8} {f:>10}  "
                  + " ".join(f"{w:.2f}" for w in walls) + mark)
        peer = goals.get(tree)
        if peer and ours and (tree, peer) in runs:
            peer_best = min(r[0] for r in runs[(tree, peer)])
            r = ours_best / peer_best
            verdict = "MET" if r <= 1.0 else f"MISSED: {100 * (r - 1):.0f}% slower ({ours_best - peer_best:.2f} s more)"
            print(f"  Goal: no slower than {peer} -> veldrano/{peer} = {r:.2f}: {verdict}")
        # The other runs of veldrano-scan (with its cache of hashes, or
        # without it) beside each peer.
        peers = [tool for tool in tools if not tool.startswith("veldrano")]
        for variant in [tool for tool in tools if tool.startswith("veldrano@")]:
            best = min(r[0] for r in runs[(tree, variant)])
            ratios = ", ".join(f"/{p} = {best / min(r[0] for r in runs[(tree, p)]):.2f}" for p in peers)
            print(f"  {variant}: {ratios}")
        print()


if __name__ == "__main__":
    main()
