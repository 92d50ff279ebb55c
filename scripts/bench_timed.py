#!/usr/bin/env python3
"""Runs a command RUNS times and prints "seconds S peak_mb M": the smallest
wall time of the runs and the largest peak resident memory of the command's
processes (its own and its children's), in MB of 10^6 bytes.

Usage: bench_timed.py RUNS [--before CMD] -- COMMAND [ARGS...]

The command's standard output goes to /dev/null; its errors pass through. A
--before command runs ahead of each run, outside the timing (a fresh copy of
a database to change, say). A failing run stops everything with its status.
"""
import resource
import subprocess
import sys
import time


def main():
    args = sys.argv[1:]
    if len(args) < 3 or "--" not in args:
        sys.exit(__doc__)
    runs = int(args[0])
    head, command = args[1:args.index("--")], args[args.index("--") + 1:]
    before = head[1] if len(head) == 2 and head[0] == "--before" else None
    best = None
    for _ in range(runs):
        if before:
            subprocess.run(before, shell=True, check=True)
        start = time.perf_counter()
        done = subprocess.run(command, stdout=subprocess.DEVNULL)
        took = time.perf_counter() - start
        if done.returncode != 0:
            sys.exit("bench_timed.py: %s failed with status %d" % (command[0], done.returncode))
        best = took if best is None else min(best, took)
    # ru_maxrss of the children is the largest single process, in KiB.
    peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss * 1024 / 1e6
    print("seconds %.3f peak_mb %.0f" % (best, peak))


if __name__ == "__main__":
    main()
