#!/usr/bin/env python3
"""Time sorvane-cli against find, fd and a bare getdents walker on one tree.

Usage: compare.py [--tree DIR] [--files N] [--seed S] [--runs R]
                  [--cli PATH] [--baseline PATH]

Makes the tree with make_tree.py (or reuses a matching one), compiles
limit_walker.c with cc -O2 into a temporary folder, runs every command once
to warm the cache, then R interleaved rounds, and prints the median, min and
max wall time and the median peak RSS of each, with a few ratios.  Only
figures are printed; nothing here is a pass/fail test.  Python 3 standard
library only; Linux only.
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import listing_bench  # noqa: E402  (the launcher that measures peak RSS)
import make_tree  # noqa: E402


class Command:
    def __init__(self, label, argv, group):
        self.label = label
        self.argv = argv
        self.group = group    # "files" or "sizes": rows compared together
        self.results = []
        self.lines = None

    def median(self):
        return statistics.median(r.wall for r in self.results)


def compile_walker(tmp):
    cc = shutil.which("cc") or shutil.which("gcc") or shutil.which("clang")
    if not cc:
        return None, "no C compiler (cc) found"
    exe = os.path.join(tmp, "limit_walker")
    made = subprocess.run([cc, "-O2", "-pthread", "-o", exe,
                           os.path.join(HERE, "limit_walker.c")],
                          stderr=subprocess.PIPE)
    if made.returncode != 0:
        return None, made.stderr.decode("utf-8", "replace").strip()
    return exe, None


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--tree", default="/tmp/sorvane-bench-tree")
    ap.add_argument("--files", type=int, default=300000)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--runs", type=int, default=7)
    ap.add_argument("--cli", default=os.path.join(HERE, "..", "build", "cli",
                                                  "sorvane-cli"),
                    help="sorvane-cli to time (default: build/cli/sorvane-cli)")
    ap.add_argument("--baseline", metavar="PATH",
                    help="another sorvane-cli, e.g. an older build, timed "
                         "beside it with --files")
    args = ap.parse_args()
    if args.runs < 1:
        ap.error("--runs must be >= 1")
    cli = os.path.abspath(args.cli)
    for exe in [cli] + ([args.baseline] if args.baseline else []):
        if not (os.path.isfile(exe) and os.access(exe, os.X_OK)):
            sys.exit("compare: %s is not an executable file (build first: "
                     "cmake --build build)" % exe)

    counts = make_tree.ensure_tree(args.tree, args.files, args.seed)
    if counts is None:
        return 2
    tree = os.path.abspath(args.tree)

    tmp = tempfile.mkdtemp(prefix="sorvane-compare-")
    try:
        # Fresh settings: sorvane-cli runs with its defaults, fd with no
        # global ignore file.
        for var, sub in (("HOME", ""), ("XDG_CONFIG_HOME", "config"),
                         ("XDG_DATA_HOME", "data"), ("XDG_CACHE_HOME", "cache"),
                         ("XDG_STATE_HOME", "state")):
            path = os.path.join(tmp, "home", sub)
            os.makedirs(path, exist_ok=True)
            os.environ[var] = path
        walker, why = compile_walker(tmp)
        return run_all(args, cli, tree, counts, walker, why)
    finally:
        shutil.rmtree(tmp, ignore_errors=True)


def run_all(args, cli, tree, counts, walker, walker_note):
    cmds = [Command("sorvane-cli --files", [cli, "--files", tree], "files")]
    if args.baseline:
        cmds.append(Command("baseline --files",
                            [os.path.abspath(args.baseline), "--files", tree],
                            "files"))
    cmds.append(Command("find -type f", ["find", tree, "-type", "f"], "files"))
    fd = shutil.which("fdfind") or shutil.which("fd")
    if fd:
        cmds.append(Command("%s --no-ignore -t f" % os.path.basename(fd),
                            [fd, "--no-ignore", "-t", "f", ".", tree], "files"))
    if walker:
        cmds.append(Command("limit walker, 1 thread", [walker, tree], "files"))
        cmds.append(Command("limit walker, 2 threads",
                            [walker, "-j", "2", tree], "files"))
    cmds.append(Command("sorvane-cli --duplicates",
                        [cli, "--duplicates", tree], "sizes"))
    cmds.append(Command("find -printf | sort -n -r",
                        ["sh", "-c", "find \"$1\" -type f -printf '%s\\t%p\\n'"
                         " | sort -n -r", "sh", tree], "sizes"))

    # Warm the cache and count what each prints.
    for c in cmds:
        c.lines = len(listing_bench.checked(c.label, c.argv,
                                            capture=True).lines)
    for i in range(args.runs):
        # Rotate the order too, so slow drift hits every command alike.
        k = i % len(cmds)
        for c in cmds[k:] + cmds[:k]:
            c.results.append(listing_bench.checked(c.label, c.argv))

    print()
    print("tree    %s: %s" % (tree, make_tree.describe(counts)))
    print("runs    %d each, interleaved, after a warm-up run of each; "
          "%d cores" % (args.runs, os.cpu_count() or 0))
    if walker_note:
        print("note    limit walker left out: %s" % walker_note)
    if not any(c.label.startswith(("fd", "fdfind")) for c in cmds):
        print("note    fd left out: neither fdfind nor fd is installed")
    print()
    row = "  %-28s %10s %10s %10s %10s %9s"
    print(row % ("", "median", "min", "max", "peak RSS", "lines"))
    for group in ("files", "sizes"):
        for c in (c for c in cmds if c.group == group):
            walls = [r.wall * 1000 for r in c.results]
            rss = statistics.median(r.rss_kib for r in c.results)
            print(row % (c.label, "%.1f ms" % statistics.median(walls),
                         "%.1f ms" % min(walls), "%.1f ms" % max(walls),
                         "%.1f MiB" % (rss / 1024.0), c.lines))
        print()

    by = {c.label: c for c in cmds}
    files = by["sorvane-cli --files"].median()
    print("ratios of the medians")
    for label, goal in (("limit walker, 1 thread", "goal <= 0.75"),
                        ("limit walker, 2 threads", None),
                        ("baseline --files", None),
                        ("find -type f", None)):
        if label in by:
            print("  sorvane-cli --files / %-24s %6.3f%s" % (
                label, files / by[label].median(),
                "   (%s)" % goal if goal else ""))
    for c in cmds:
        if c.label.startswith(("fd", "fdfind")):
            print("  sorvane-cli --files / %-24s %6.3f   (goal < 1)" % (
                c.label, files / c.median()))
    print("  sorvane-cli --duplicates / %-18s %6.3f   (goal <= 0.55)" % (
        "find -printf | sort", by["sorvane-cli --duplicates"].median()
        / by["find -printf | sort -n -r"].median()))

    def rss(label):
        return statistics.median(r.rss_kib for r in by[label].results)
    print("  peak RSS, --duplicates / --files           %6.3f   (goal <= 1.25)"
          % (rss("sorvane-cli --duplicates") / rss("sorvane-cli --files")))
    return 0


if __name__ == "__main__":
    sys.exit(main())
