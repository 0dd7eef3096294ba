#!/usr/bin/env bash
# Builds and runs the signature benchmarks, then prints our throughput as a
# share of OpenSSL's on the same data (goals: MD5 >= 0.95, file >= 0.90).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh" >/dev/null
out="$(mktemp)"
trap 'rm -f "$out" "${TMPDIR:-/tmp}/veldrano-bench-256MiB.bin"' EXIT
"$root/build/bench/signature_bench" --benchmark_format=console --benchmark_out="$out" --benchmark_out_format=json "$@"
python3 - "$out" <<'PY'
import json, sys
runs = {b["name"].split("/")[0]: b["bytes_per_second"] / 2**20 for b in json.load(open(sys.argv[1]))["benchmarks"]}
def ratio(ours, theirs, goal):
    if ours in runs and theirs in runs:
        r = runs[ours] / runs[theirs]
        print(f"{ours:30s} {runs[ours]:8.1f} MiB/s  vs {theirs:24s} {runs[theirs]:8.1f} MiB/s  ratio {r:.3f} (goal {goal})")
ratio("OurMD5_64KiB", "OpenSSLMD5_64KiB", 0.95)
ratio("ComputeFileSignature_256MiB", "OpenSSLMD5_64KiB", 0.90)
ratio("ComputeFileSignature_256MiB", "OpenSSLMD5File_256MiB", 0.90)
PY
