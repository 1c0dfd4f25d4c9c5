#!/usr/bin/env python3
"""Times sorvane-cli --duplicates --contents against jdupes on one tree.

Usage: python3 bench/contents_bench.py --cli build/cli/sorvane-cli [--tree DIR] [--files N] [--seed S]

Makes (or reuses) a bench tree with make_tree.py, then runs, one after the
other on a warm cache: sorvane-cli --duplicates (size only), sorvane-cli
--duplicates --contents, and jdupes -r -q -A (Debian's jdupes) on the same
folder. Prints wall time and peak RSS of each, and checks that the content
groups equal jdupes' groups (both leave hidden files out; jdupes does not
count hard links as duplicates, so the tree must hold none, nor empty files
unless -z, so the group of empty files is left out of the comparison).
"""
import argparse
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def run(argv, env, stdout):
    """Wall seconds and peak RSS (KiB) of one command."""
    start = time.monotonic()
    proc = subprocess.Popen(argv, env=env, stdout=stdout, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(proc.pid, 0)
    err = proc.stderr.read()
    proc.returncode = os.waitstatus_to_exitcode(status)
    if proc.returncode != 0:
        sys.exit("%s failed (%d): %s" % (argv[0], proc.returncode, err.decode(errors="replace")))
    return time.monotonic() - start, usage.ru_maxrss, err


def sorvane_groups(path):
    """Groups of files with a size; jdupes leaves empty files out (no -z), so they are left out here too."""
    groups = {}
    with open(path, "rb") as f:
        for line in f:
            fields = line.rstrip(b"\n").split(b"\t")
            if fields[3] and fields[3] != b"0":
                groups.setdefault(fields[5], set()).add(fields[2] + fields[1])
    return {frozenset(g) for g in groups.values()}


def jdupes_groups(path):
    groups, current = set(), set()
    with open(path, "rb") as f:
        for line in f:
            line = line.rstrip(b"\n")
            if line:
                current.add(line)
            elif current:
                groups.add(frozenset(current))
                current = set()
    if current:
        groups.add(frozenset(current))
    return groups


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cli", required=True)
    ap.add_argument("--tree", default="/tmp/tree200k")
    ap.add_argument("--files", type=int, default=200000)
    ap.add_argument("--seed", type=int, default=200)
    args = ap.parse_args()
    if not os.path.isdir(args.tree):
        subprocess.run([sys.executable, os.path.join(HERE, "make_tree.py"), args.tree,
                        "--files", str(args.files), "--seed", str(args.seed)], check=True)
    jdupes = shutil.which("jdupes")
    home = tempfile.mkdtemp(prefix="sorvane-bench-")
    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=home, XDG_DATA_HOME=home, XDG_STATE_HOME=home)
    out = os.path.join(home, "out")
    for _ in range(2):  # warm the cache
        run([args.cli, "--files", args.tree], env, subprocess.DEVNULL)
    rows = []
    with open(out, "wb") as f:
        t, rss, _ = run([args.cli, "--duplicates", args.tree], env, f)
    rows.append(("sorvane-cli --duplicates", t, rss))
    with open(out, "wb") as f:
        t, rss, err = run([args.cli, "--duplicates", "--contents", args.tree], env, f)
    rows.append(("sorvane-cli --duplicates --contents", t, rss))
    ours = sorvane_groups(out)
    print(err.decode(errors="replace").strip().splitlines()[-1])
    if jdupes:
        with open(out + ".jd", "wb") as f:
            t, rss, _ = run([jdupes, "-r", "-q", "-A", args.tree], env, f)
        rows.append(("jdupes -r -q -A", t, rss))
    print("\n%-38s %10s %12s" % ("command", "seconds", "peak RSS"))
    for name, t, rss in rows:
        print("%-38s %10.2f %9.1f MiB" % (name, t, rss / 1024))
    print("\ncontents / size-only memory   %.2f   (goal <= 1.3)" % (rows[1][2] / rows[0][2]))
    if jdupes:
        print("contents / jdupes time        %.3f  (goal <= 0.5)" % (rows[1][1] / rows[2][1]))
        theirs = jdupes_groups(out + ".jd")
        print("groups: %d ours, %d jdupes, %s" % (len(ours), len(theirs), "equal" if ours == theirs else "DIFFERENT"))
    else:
        print("jdupes not installed (apt-get install jdupes) - no comparison")
    shutil.rmtree(home)


if __name__ == "__main__":
    main()
