#!/usr/bin/env python3
"""Times the content check's digest cache: first runs and rescans, cold and warm.

Usage: sudo python3 bench/cache_bench.py --cli build/cli/sorvane-cli [--folder /usr] [--runs 3]

Runs `sorvane-cli --duplicates --contents --stats` on FOLDER (system folders not skipped) with its own
XDG folders in a temporary directory, interleaved, each case RUNS times:
  no cache      --no-cache (the check as it was)
  first         the cache folder emptied before the run (what learning costs)
  rescan        the cache the first run left
each cold (the page cache dropped before the run: needs root) and warm. Prints the medians, the bytes
each read and the files the cache settled, the cache's bytes per entry, and the rescan's limit: a cold
size-only listing plus the bytes it must read at the rate the disk reads its largest file cold.
Every run's groups must be byte-identical to the first run's.
"""
import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def drop_caches():
    os.sync()
    with open("/proc/sys/vm/drop_caches", "w") as f:
        f.write("3\n")


def run(argv, env, cold):
    if cold:
        drop_caches()
    start = time.monotonic()
    proc = subprocess.run(argv, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    seconds = time.monotonic() - start
    if proc.returncode != 0:
        sys.exit("%s failed (%d): %s" % (argv[0], proc.returncode, proc.stderr.decode(errors="replace")))
    stats = proc.stderr.decode(errors="replace")
    read = re.search(r"identical .*?, (\d+) bytes read", stats)
    settled = re.search(r"(\d+) files settled by the cache", stats)
    return seconds, proc.stdout, int(read.group(1)) if read else 0, int(settled.group(1)) if settled else 0


def read_rate(path):
    """Bytes a second the disk gives one large file, cold."""
    drop_caches()
    start = time.monotonic()
    size = 0
    with open(path, "rb", buffering=0) as f:
        while True:
            chunk = f.read(1 << 20)
            if not chunk:
                break
            size += len(chunk)
    return size / max(time.monotonic() - start, 1e-6)


def largest_file(output):
    best, size = None, -1
    for line in output.split(b"\n"):
        fields = line.split(b"\t")
        if len(fields) >= 4 and fields[3] and int(fields[3]) > size:
            size, best = int(fields[3]), fields[2] + fields[1]
    return best


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--folder", default="/usr")
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    if os.geteuid() != 0:
        sys.exit("run as root: the page cache is dropped before each cold run")
    home = tempfile.mkdtemp(prefix="sorvane-cache-bench-")
    env = dict(os.environ, HOME=home)
    for var in ("XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"):
        env[var] = os.path.join(home, var.lower())
    cache = os.path.join(env["XDG_CACHE_HOME"], "sorvane")
    base = [os.path.abspath(args.cli), "--duplicates", "--set", "IgnoreProgramsFolder=0", "--set",
            "IgnoreWindowsFolder=0", "--stats"]
    check = base[:1] + ["--contents"] + base[1:] + [args.folder]
    cases = {}
    reference = None

    def record(name, cold, argv, empty_cache=False):
        nonlocal reference
        if empty_cache:
            shutil.rmtree(cache, ignore_errors=True)
        seconds, out, read, settled = run(argv, env, cold)
        if reference is None:
            reference = out
        elif out != reference:
            sys.exit("%s (%s) gave other groups" % (name, "cold" if cold else "warm"))
        cases.setdefault((name, cold), []).append((seconds, read, settled))

    try:
        for _ in range(args.runs):
            for cold in (True, False):
                if not cold:  # after the cold runs only part of the tree is in memory
                    run(check[:1] + ["--no-cache"] + check[1:], env, False)
                record("no cache", cold, check[:1] + ["--no-cache"] + check[1:])
                record("first", cold, check, empty_cache=True)
                record("rescan", cold, check)
            seconds, _, _, _ = run(base + [args.folder], env, True)
            cases.setdefault(("size-only listing", True), []).append((seconds, 0, 0))
        print("%-20s %5s %9s %15s %9s" % ("case", "", "median s", "bytes read", "settled"))
        for (name, cold), runs in cases.items():
            print("%-20s %5s %9.2f %15d %9d" % (name, "cold" if cold else "warm",
                                                statistics.median(r[0] for r in runs), runs[-1][1], runs[-1][2]))
        median = {k: statistics.median(r[0] for r in v) for k, v in cases.items()}
        print("rescan / first: cold %.2f, warm %.2f" % (median[("rescan", True)] / median[("first", True)],
                                                       median[("rescan", False)] / median[("first", False)]))
        print("first / no cache: cold %.3f, warm %.3f" % (median[("first", True)] / median[("no cache", True)],
                                                         median[("first", False)] / median[("no cache", False)]))
        size = os.path.getsize(os.path.join(cache, "contents"))
        entries = (size - 40) // 56
        print("cache: %d bytes, %d entries, %.1f bytes per entry" % (size, entries, size / max(entries, 1)))
        big = largest_file(reference)
        if big:
            rate = read_rate(big)
            limit = median[("size-only listing", True)] + cases[("rescan", True)][-1][1] / rate
            print("disk rate %.0f MB/s; rescan limit %.2f s; cold rescan %.2fx its limit"
                  % (rate / 1e6, limit, median[("rescan", True)] / limit))
    finally:
        shutil.rmtree(home, ignore_errors=True)


if __name__ == "__main__":
    main()
