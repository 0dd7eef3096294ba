#!/usr/bin/env python3
"""Runs veldrano-scan and times its release from its log as it is written.

usage: release_time.py SCANNER [ARGS...]

Reads the activity log from the scanner's standard output line by line and
prints the seconds from the line "Releasing resources..." to the line
"Ready!" (the log's own times have a one-second grain). Prints "-" when the
run released nothing.
"""
import subprocess
import sys
import time


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    started = None
    ended = None
    with subprocess.Popen(sys.argv[1:], stdout=subprocess.PIPE) as scan:
        for line in scan.stdout:
            columns = line.split(b"\t")
            information = columns[1] if len(columns) > 1 else b""
            if information == b"Releasing resources...":
                started = time.monotonic()
            elif information == b"Ready!" and started is not None:
                ended = time.monotonic()
    print(f"{ended - started:.3f}" if started is not None and ended is not None else "-")


if __name__ == "__main__":
    main()
