#!/usr/bin/env python3
"""Times `sorvane-cli --duplicates TREE` (listing and size grouping) against
`find TREE -name '.*' -prune -o -type f -printf '%s\\t%p\\n' | sort -n -r` on
the same warm tree, alternating, and prints the medians and their ratio."""

import argparse
import os
import statistics
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import listing_bench  # noqa: E402  (the tree and the launcher)


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--cli", required=True)
    ap.add_argument("--tree", default="/tmp/sorvane-bench-tree")
    ap.add_argument("--runs", type=int, default=7)
    args = ap.parse_args()
    if not os.path.isdir(args.tree):
        sys.exit("no tree at %s: run listing_bench.py or make_tree.py first" % args.tree)

    a = [os.path.abspath(args.cli), "--duplicates", args.tree]
    b = ["sh", "-c", "find \"$1\" -name '.*' -prune -o -type f -printf '%s\\t%p\\n' | sort -n -r",
         "sh", args.tree]
    rows = listing_bench.checked("sorvane-cli", a, capture=True).lines
    listing_bench.checked("find | sort", b)
    ta, tb, rss = [], [], []
    for i in range(args.runs):
        for name, argv, times in (("sorvane-cli", a, ta), ("find | sort", b, tb))[:: 1 if i % 2 == 0 else -1]:
            res = listing_bench.checked(name, argv)
            times.append(res.wall)
            if name == "sorvane-cli":
                rss.append(res.rss_kib)
    ma, mb = statistics.median(ta), statistics.median(tb)
    print("tree    %s" % args.tree)
    print("runs    %d each, alternating, after a warm-up\n" % args.runs)
    print("  A sorvane-cli --duplicates   %8.1f ms   peak RSS %.1f MiB" % (ma * 1000, max(rss) / 1024))
    print("  B find -printf | sort -n -r  %8.1f ms" % (mb * 1000))
    print("\n  ratio A/B (medians)          %8.3f   (goal <= 1.5: %s)" % (ma / mb, "met" if ma / mb <= 1.5 else "NOT met"))
    print("  rows in size groups          %8d" % len(rows))


if __name__ == "__main__":
    main()
