#!/usr/bin/env python3
"""Compare `sorvane-cli --files` with an equivalent find(1) on a warm tree.

Usage: listing_bench.py --cli PATH [--tree TREE] [--files N] [--runs R]

Prints median wall times, their ratio, throughput and peak memory per
listed file.  Only figures are printed; nothing here is a pass/fail test.
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
STAMP = ".sorvane-bench-stamp"

# Runs one command and reports wall time, peak RSS and exit code on fd OUT.
# A child created by vfork or fork inherits its parent's peak RSS at exec
# (Linux keeps the old memory map's high-water mark), so a Python parent
# would hide any baseline below ~6 MiB.  Instead a tiny sh starts the
# command in the background and exits; this launcher, as child subreaper,
# adopts and reaps it, leaving a floor of about 1 MiB.  The spawn adds
# about a millisecond to both commands alike.
LAUNCHER = r"""
import ctypes, os, sys, time
out = int(sys.argv[1])
os.set_inheritable(out, False)
PR_SET_CHILD_SUBREAPER = 36
if ctypes.CDLL(None, use_errno=True).prctl(PR_SET_CHILD_SUBREAPER, 1,
                                           0, 0, 0) != 0:
    sys.exit("prctl(PR_SET_CHILD_SUBREAPER) failed")
t0 = time.perf_counter()
sh = os.fork()
if sh == 0:
    try:
        os.execv("/bin/sh", ["sh", "-c", '"$@" &', "sh"] + sys.argv[2:])
    finally:
        os._exit(127)
os.waitpid(sh, 0)
_, status, ru = os.wait4(-1, 0)
wall = time.perf_counter() - t0
os.write(out, ("%r %d %d\n" % (wall, ru.ru_maxrss,
                               os.waitstatus_to_exitcode(status))).encode())
"""


class Result:
    def __init__(self, wall, rss_kib, code, stderr, lines=None):
        self.wall = wall          # seconds
        self.rss_kib = rss_kib    # peak RSS of the command itself
        self.code = code
        self.stderr = stderr
        self.lines = lines        # stdout lines, when captured


def run(argv, capture=False):
    """Run argv once through the launcher; capture stdout lines if asked."""
    r, w = os.pipe()
    with tempfile.TemporaryFile() as err:
        p = subprocess.Popen(
            [sys.executable, "-I", "-S", "-c", LAUNCHER, str(w)] + argv,
            stdin=subprocess.DEVNULL,
            stdout=subprocess.PIPE if capture else subprocess.DEVNULL,
            stderr=err, pass_fds=(w,))
        os.close(w)
        out = p.stdout.read() if capture else None
        with os.fdopen(r, "rb") as f:
            report = f.read().split()
        _, status, _ = os.wait4(p.pid, 0)
        p.returncode = os.waitstatus_to_exitcode(status)
        if capture:
            p.stdout.close()
        err.seek(0)
        stderr = err.read()
    if len(report) != 3:
        return Result(0.0, 0, p.returncode or 1, stderr)
    lines = None
    if capture:
        lines = out.split(b"\n")
        if lines and lines[-1] == b"":
            lines.pop()
    return Result(float(report[0]), int(report[1]), int(report[2]), stderr,
                  lines)


def checked(name, argv, capture=False):
    res = run(argv, capture)
    if res.code != 0:
        sys.stderr.write("%s failed (exit %d): %s\n" % (
            name, res.code, " ".join(argv)))
        tail = res.stderr.decode("utf-8", "replace").splitlines()[-40:]
        sys.stderr.write("".join(line + "\n" for line in tail))
        sys.exit(1)
    return res


def mib(kib):
    return "%.1f MiB" % (kib / 1024.0)


def stamp_value(tree, key):
    try:
        with open(os.path.join(tree, STAMP)) as f:
            for line in f:
                k, _, v = line.strip().partition("=")
                if k == key and v.isdigit():
                    return int(v)
    except OSError:
        pass
    return None


def compare(a_lines, b_lines):
    """Describe how the two listings differ, as one short string."""
    a, b = set(a_lines), set(b_lines)
    notes = []
    if len(a) != len(a_lines):
        notes.append("A lists %d paths twice" % (len(a_lines) - len(a)))
    only_a, only_b = a - b, b - a
    if only_a or only_b:
        notes.append("%d only in A, %d only in B" % (len(only_a), len(only_b)))
        if only_a:
            notes.append("e.g. A: %r" % min(only_a))
        if only_b:
            notes.append("e.g. B: %r" % min(only_b))
    return "; ".join(notes) if notes else "same paths"


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--cli", required=True, help="path to sorvane-cli")
    ap.add_argument("--tree", default="/tmp/sorvane-bench-tree")
    ap.add_argument("--files", type=int, default=300000)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--runs", type=int, default=7)
    args = ap.parse_args()
    if args.runs < 1:
        ap.error("--runs must be >= 1")

    cli = os.path.abspath(args.cli)
    if not (os.path.isfile(cli) and os.access(cli, os.X_OK)):
        sys.exit("listing_bench: %s is not an executable file" % cli)
    tree = os.path.abspath(args.tree)
    # find's -name '.*' would prune the start folder itself.
    if os.path.basename(tree).startswith("."):
        sys.exit("listing_bench: the tree's own name must not start with '.'")

    made = subprocess.run([sys.executable, os.path.join(HERE, "make_tree.py"),
                           tree, "--files", str(args.files),
                           "--seed", str(args.seed)])
    if made.returncode != 0:
        sys.exit(made.returncode)

    cmd_a = [cli, "--files", tree]
    cmd_b = ["find", tree, "-name", ".*", "-prune", "-o", "-type", "f",
             "-print"]

    # Warm the page cache and the binaries, then count what each lists.
    checked("A", cmd_a)
    checked("B", cmd_b)
    count_a = checked("A", cmd_a, capture=True).lines
    count_b = checked("B", cmd_b, capture=True).lines

    # Alternate the order too, so slow drift hits both sides alike.
    res_a, res_b = [], []
    for i in range(args.runs):
        pair = [("A", cmd_a, res_a), ("B", cmd_b, res_b)]
        for name, cmd, sink in (pair if i % 2 == 0 else pair[::-1]):
            sink.append(checked(name, cmd))

    empty = tempfile.mkdtemp(prefix="sorvane-bench-empty-")
    try:
        base_kib = statistics.median(
            checked("A (empty folder)", [cli, "--files", empty]).rss_kib
            for _ in range(3))
    finally:
        os.rmdir(empty)
    floor_kib = min(checked("true", ["true"]).rss_kib for _ in range(3))

    med_a = statistics.median(r.wall for r in res_a)
    med_b = statistics.median(r.wall for r in res_b)
    rss_a = statistics.median(r.rss_kib for r in res_a)
    rss_b = statistics.median(r.rss_kib for r in res_b)
    n_a, n_b = len(count_a), len(count_b)
    path_bytes = sum(len(p) for p in count_b) / max(1, n_b)
    per_file = (rss_a - base_kib) * 1024.0 / max(1, n_a)
    ratio = med_a / med_b if med_b > 0 else float("inf")
    expected = stamp_value(tree, "visible_files")

    row = "  %-22s %9s %9s %9s %11s"
    print()
    print("tree    %s" % tree)
    print("runs    %d each, alternating, after a warm-up run of each"
          % args.runs)
    print()
    print(row % ("", "median", "min", "max", "peak RSS"))
    for label, res, rss in (("A sorvane-cli --files", res_a, rss_a),
                            ("B find -prune", res_b, rss_b)):
        walls = [r.wall * 1000 for r in res]
        print(row % (label, "%.1f ms" % statistics.median(walls),
                     "%.1f ms" % min(walls), "%.1f ms" % max(walls),
                     mib(rss)))
    print()
    print("  %-22s %.3f   (goal <= 1.0: %s)" % (
        "ratio A/B (medians)", ratio, "met" if ratio <= 1.0 else "NOT met"))
    print("  %-22s A %d, B %d%s: %s" % (
        "files listed", n_a, n_b,
        "" if expected is None else ", stamp %d" % expected,
        "agree" if n_a == n_b else "DIFFER"))
    print("  %-22s %s" % ("paths", compare(count_a, count_b)))
    print("  %-22s %.2f M files/s" % ("A throughput", n_a / med_a / 1e6))
    print("  %-22s %s (empty folder: %s, launcher floor: %s)" % (
        "A peak RSS", mib(rss_a), mib(base_kib), mib(floor_kib)))
    print("  %-22s %.0f B   (average path length %.1f B)" % (
        "A memory per file", per_file, path_bytes))
    print("  %-22s %.0f B   (goal well under 200 B)" % (
        "  beyond path text", per_file - path_bytes))
    if base_kib <= floor_kib * 1.1:
        print("  note: the empty-folder run is at the launcher floor, so "
              "memory per file may read up to %.0f B low."
              % (floor_kib * 1024.0 / max(1, n_a)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
