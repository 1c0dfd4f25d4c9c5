#!/usr/bin/env python3
"""The content check on a real folder, cold and warm, beside jdupes, rdfind and rmlint.

Usage: sudo python3 bench/corpus_bench.py --cli build/cli/sorvane-cli [--folder /usr] [--runs 3] [--warm-only]

Each round runs every tool once, in a rotating order; a cold round drops the page cache
(echo 3 > /proc/sys/vm/drop_caches, root only) before each command. Prints the median, min
and max wall time of each tool (ours without and with its digest cache), the ratios to jdupes, and the limit line: a cold size-only
listing plus the bytes the check must read whole at the disk's sequential rate (the largest
file of the folder read cold). Checks that our groups of identical files equal jdupes' by
inode (distinct inodes, empty files and groups of hard links alone left out, as jdupes does).
Tools that are not installed are left out (Debian: jdupes rdfind rmlint).
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile

from contents_bench import jdupes_groups, run


def drop_caches():
    subprocess.run(["sync"], check=True)
    with open("/proc/sys/vm/drop_caches", "w") as f:
        f.write("3\n")


def by_inode(groups):
    """Groups as sets of distinct inodes, those with one inode left (hard links only) out."""
    found = set()
    for group in groups:
        inodes = set()
        for path in group:
            try:
                st = os.lstat(path)
            except OSError:
                continue
            if st.st_size:
                inodes.add((st.st_dev, st.st_ino))
        if len(inodes) > 1:
            found.add(frozenset(inodes))
    return found


def our_groups(path):
    groups = {}
    with open(path, "rb") as f:
        for line in f:
            fields = line.rstrip(b"\n").split(b"\t")
            if len(fields) > 5 and fields[3]:
                groups.setdefault(fields[5], set()).add(fields[2] + fields[1])
    return list(groups.values())


def bytes_to_read(path):
    """What the check must read whole: every file of each group of identical files, each inode once."""
    total, seen = 0, set()
    for group in our_groups(path):
        for p in group:
            st = os.lstat(p)
            if (st.st_dev, st.st_ino) not in seen:
                seen.add((st.st_dev, st.st_ino))
                total += st.st_size
    return total


def sequential_rate(folder, cold):
    """Bytes a second reading the folder's largest file once."""
    largest, size = None, 0
    for root, _, files in os.walk(folder):
        for name in files:
            p = os.path.join(root, name)
            try:
                st = os.lstat(p)
            except OSError:
                continue
            if os.path.isfile(p) and not os.path.islink(p) and st.st_size > size:
                largest, size = p, st.st_size
    if cold:
        drop_caches()
    t, _, _ = run(["dd", "if=" + largest, "of=/dev/null", "bs=1M"], os.environ, subprocess.DEVNULL)
    return size / t


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cli", required=True)
    ap.add_argument("--folder", default="/usr")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--warm-only", action="store_true")
    args = ap.parse_args()
    cold_possible = os.geteuid() == 0 and not args.warm_only
    home = tempfile.mkdtemp(prefix="sorvane-corpus-")
    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=home, XDG_DATA_HOME=home, XDG_STATE_HOME=home,
               XDG_CACHE_HOME=home)
    out = lambda name: os.path.join(home, name)
    # The system's own and program folders are what is measured here, so none is skipped.
    ours = [args.cli, "--set", "IgnoreWindowsFolder=0", "--set", "IgnoreProgramsFolder=0", "--duplicates"]
    # The check itself without the digest cache, and a rescan with the cache the runs before it left.
    tools = {"sorvane-cli --duplicates --contents": ours + ["--contents", "--no-cache", args.folder],
             "sorvane-cli, rescan with its cache": ours + ["--contents", args.folder]}
    if shutil.which("jdupes"):
        tools["jdupes -r -q -A"] = ["jdupes", "-r", "-q", "-A", args.folder]
    if shutil.which("rdfind"):
        tools["rdfind -dryrun true"] = ["rdfind", "-dryrun", "true", "-outputname", out("rdfind.txt"), args.folder]
    if shutil.which("rmlint"):
        tools["rmlint -T df"] = ["rmlint", "-T", "df", "-o", "fdupes:" + out("rmlint.txt"), args.folder]

    run(tools["sorvane-cli, rescan with its cache"], env, subprocess.DEVNULL)  # what the first rescan finds
    times = {(name, cold): [] for name in tools for cold in (False, True)}
    names = list(tools)
    for round_ in range(args.runs):
        for cold in ([False, True] if cold_possible else [False]):
            order = names[round_ % len(names):] + names[:round_ % len(names)]
            for name in order:
                if cold:
                    drop_caches()
                with open(out(name.split()[0] + ".out"), "wb") as f:
                    t, _, _ = run(tools[name], env, f)
                times[(name, cold)].append(t)

    size_only_cold = None
    if cold_possible:
        drop_caches()
        size_only_cold, _, _ = run(ours + [args.folder], env, subprocess.DEVNULL)
    print("%-38s %22s %22s" % ("median (min-max) seconds", "warm", "cold"))
    for name in names:
        cells = []
        for cold in (False, True):
            ts = times[(name, cold)]
            cells.append("%.2f (%.2f-%.2f)" % (statistics.median(ts), min(ts), max(ts)) if ts else "-")
        print("%-38s %22s %22s" % (name, cells[0], cells[1]))
    if "jdupes -r -q -A" in tools:
        for cold in (False, True):
            for ours_name in names[:2]:
                ts, jd = times[(ours_name, cold)], times[("jdupes -r -q -A", cold)]
                if ts:
                    print("%s / jdupes, %s: %.2f" % (ours_name, "cold" if cold else "warm",
                                                     statistics.median(ts) / statistics.median(jd)))
        ours_set = by_inode(our_groups(out("sorvane-cli.out")))
        theirs = by_inode(jdupes_groups(out("jdupes.out")))
        print("groups by inode: %d ours, %d jdupes, %s" % (len(ours_set), len(theirs),
                                                           "equal" if ours_set == theirs else "DIFFERENT"))
    if size_only_cold is not None:
        need = bytes_to_read(out("sorvane-cli.out"))
        rate = sequential_rate(args.folder, True)
        limit = size_only_cold + need / rate
        print("limit: cold listing %.2f s + %.0f MB at %.0f MB/s = %.2f s; ours cold %.2f s (%.2f x the limit)"
              % (size_only_cold, need / 1e6, rate / 1e6, limit, statistics.median(times[(names[0], True)]),
                 statistics.median(times[(names[0], True)]) / limit))
    shutil.rmtree(home)


if __name__ == "__main__":
    main()
