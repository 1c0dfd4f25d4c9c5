#!/usr/bin/env python3
"""Generate a deterministic tree of sparse files for benchmarking listings.

Usage: make_tree.py TREE [--files N] [--seed S]

Same N and seed give the same names, structure and sizes.  Files are sparse,
so even 300000 files with terabytes of apparent size use almost no blocks.
An existing TREE is reused only if its stamp matches; nothing is ever deleted
except a half-built tree from this run.
"""

import argparse
import math
import os
import random
import shutil
import sys
import time

STAMP = b".sorvane-bench-stamp"
# Bump when the generator changes, so old trees are not silently reused.
FORMAT = 1
MAX_DEPTH = 6
GIB = 1 << 30

WORDS = [
    "photos", "backup", "project", "src", "docs", "music", "video", "notes",
    "report", "invoice", "draft", "final", "archive", "2019", "2021", "2023",
    "holiday", "family", "work", "scan", "data", "export", "old", "new",
    "misc", "assets", "build", "cache", "thumbs", "letters", "recipes",
    "taxes", "camera", "phone", "downloads", "games", "mods", "album",
]
EXTS = [".jpg", ".png", ".txt", ".pdf", ".mp3", ".flac", ".mp4", ".docx",
        ".cpp", ".h", ".json", ".zip", ".tar.gz", ".odt", ".csv", ""]
# Mixes accents, Cyrillic, CJK and an emoji to exercise multi-byte UTF-8.
UTF8_WORDS = ["résumé", "café crème", "Фото", "写真", "naïve", "Ærø",
              "über straße", "κείμενο", "😀 party"]
SPACE_WORDS = ["Meeting notes", "My Documents", "copy of", "New folder",
               "read me", "final final"]
# Not valid UTF-8: lone bytes, Latin-1 text, an overlong sequence.
BAD_NAMES = [b"\xff\xfe", b"caf\xe9", b"\x80lone", b"over\xc0\xaflong",
             b"\xfe\xff mixed \xc3", b"latin1 \xe0 la carte"]


def build_plan(n_files, seed):
    """Return (dirs, files) without touching the disk.

    dirs: list of (rel_path_bytes, depth, hidden_or_under_hidden),
          parents before children, root first.
    files: list of (dir_index, name_bytes, size).
    """
    rng = random.Random(seed)

    n_dirs = max(8, n_files // 100)
    dirs = [(b"", 0, False)]
    names_used = [0]  # per-directory counter keeps names unique
    # Parents repeat in this list by a random fertility, which varies fan-out;
    # shallow folders get more weight so depths spread out below the cap.
    parents = [0] * MAX_DEPTH
    for i in range(1, n_dirs):
        p = parents[rng.randrange(len(parents))]
        ppath, pdepth, phidden = dirs[p]
        names_used[p] += 1
        k = names_used[p]
        r = rng.random()
        if r < 0.03:
            base = rng.choice(UTF8_WORDS).encode()
        elif r < 0.06:
            base = rng.choice(SPACE_WORDS).encode()
        else:
            base = rng.choice(WORDS).encode()
        hidden = rng.random() < 0.02
        name = (b"." if hidden else b"") + base + b"_%d" % k
        path = ppath + b"/" + name if ppath else name
        depth = pdepth + 1
        dirs.append((path, depth, phidden or hidden))
        names_used.append(0)
        if depth < MAX_DEPTH:
            fertility = 1 + int(rng.random() ** 3 * 8) + (MAX_DEPTH - depth)
            parents.extend([i] * fertility)

    # Leaves get the odd names, so a bad byte taints only a few paths:
    # one folder name that is not UTF-8, and a hidden folder even when
    # the dice gave none.
    has_kids = set(p.rpartition(b"/")[0] for p, _, _ in dirs[1:])
    leaves = [i for i in range(1, n_dirs) if dirs[i][0] not in has_kids]
    odd_dirs = [(rng.choice(BAD_NAMES) + b" dir", False)]
    if not any(h for _, _, h in dirs):
        odd_dirs.append((b".hidden", True))
    picks = rng.sample(leaves, min(len(odd_dirs), len(leaves)))
    for (base, hidden), i in zip(odd_dirs, picks):
        path, depth, phidden = dirs[i]
        head, _, name = path.rpartition(b"/")
        name = base + b"_" + name.rpartition(b"_")[2]
        dirs[i] = (head + b"/" + name if head else name, depth,
                   phidden or hidden)
    own_hidden = set(i for i in range(1, n_dirs)
                     if dirs[i][0].rpartition(b"/")[2].startswith(b"."))

    # Which folders get how many files.
    n_big = 3 if n_files >= 3000 else 1
    big_each = n_files // 60
    order = list(range(n_dirs))
    rng.shuffle(order)
    big = set(order[:n_big])
    # Hidden folders always hold files, or they would test nothing.
    empty = set(order[n_big:n_big + max(1, n_dirs // 12)]) - own_hidden
    counts = [0] * n_dirs
    for d in big:
        counts[d] = big_each
    rest = n_files - big_each * n_big
    weighted = [d for d in range(n_dirs) if d not in big and d not in empty]
    cum, total = [], 0.0
    for d in weighted:
        total += rng.lognormvariate(0.0, 1.2)
        cum.append(total)
    for d in rng.choices(weighted, cum_weights=cum, k=max(0, rest)):
        counts[d] += 1

    # Sizes: most come from a shared pool with skewed popularity, so many
    # files share a size; the rest are unique, empty or huge.
    pool_n = min(3000, max(50, n_files // 100))
    pool, seen = [], set()
    while len(pool) < pool_n:
        s = int(math.exp(rng.uniform(0.0, math.log(64 << 20))))
        if s not in seen:
            seen.add(s)
            pool.append(s)
    pool_cum, acc = [], 0.0
    for rank in range(pool_n):
        acc += 1.0 / (rank + 1) ** 0.8
        pool_cum.append(acc)

    def unique_size():
        while True:
            s = int(math.exp(rng.uniform(0.0, math.log(2 * GIB))))
            if s not in seen:
                seen.add(s)
                return s

    files = []
    for d in range(n_dirs):
        for _ in range(counts[d]):
            names_used[d] += 1
            k = names_used[d]
            r = rng.random()
            if r < 0.01:
                stem = rng.choice(SPACE_WORDS) + " %d" % k
            elif r < 0.02:
                stem = rng.choice(UTF8_WORDS) + "_%d" % k
            elif r < 0.30:
                stem = "IMG_%04d" % k
            else:
                stem = "%s_%s_%d" % (rng.choice(WORDS), rng.choice(WORDS), k)
            name = stem.encode() + rng.choice(EXTS).encode()
            if rng.random() < 0.05:
                name = b"." + name
            r = rng.random()
            if r < 0.03:
                size = 0
            elif r < 0.88:
                size = rng.choices(pool, cum_weights=pool_cum)[0]
            else:
                size = unique_size()
            files.append((d, name, size))

    # A handful of names that are not valid UTF-8, plus a few huge files;
    # two share 3 GiB exactly so they form a group.
    if files:
        for bad in BAD_NAMES:
            i = rng.randrange(len(files))
            d, name, size = files[i]
            files[i] = (d, bad + b"_%d" % i, size)
        for size in (3 * GIB, 3 * GIB, 3 * GIB + 1, 5 * GIB, 8 * GIB - 7):
            i = rng.randrange(len(files))
            d, name, _ = files[i]
            files[i] = (d, name, size)
    return dirs, files


def stamp_text(n_files, seed):
    return "sorvane-bench-tree format=%d files=%d seed=%d\n" % (
        FORMAT, n_files, seed)


def write_tree(root, dirs, files):
    """Create dirs and sparse files under root (bytes path, must not exist)."""
    os.mkdir(root)
    for path, _, _ in dirs[1:]:
        os.mkdir(root + b"/" + path)
    flags = os.O_CREAT | os.O_EXCL | os.O_WRONLY | os.O_CLOEXEC
    current, dfd = None, -1
    try:
        for d, name, size in files:
            if d != current:
                if dfd >= 0:
                    os.close(dfd)
                path = dirs[d][0]
                dfd = os.open(root + b"/" + path if path else root,
                              os.O_RDONLY | os.O_DIRECTORY)
                current = d
            # dir_fd avoids re-resolving the full path for every file.
            fd = os.open(name, flags, 0o644, dir_fd=dfd)
            try:
                if size:
                    os.ftruncate(fd, size)
            finally:
                os.close(fd)
    finally:
        if dfd >= 0:
            os.close(dfd)


def summarize(dirs, files):
    vis_dirs = sum(1 for _, _, h in dirs[1:] if not h)
    vis_files = sum(1 for d, name, _ in files
                    if not dirs[d][2] and not name.startswith(b"."))
    return {"total_files": len(files), "total_dirs": len(dirs) - 1,
            "visible_files": vis_files, "visible_dirs": vis_dirs}


def read_stamp(root):
    try:
        with open(os.path.join(root, STAMP), "rb") as f:
            return f.read().decode("ascii", "replace")
    except OSError:
        return None


def describe(counts):
    return ("%(total_files)d files in %(total_dirs)d folders; visible: "
            "%(visible_files)d files in %(visible_dirs)d folders" % counts)


def ensure_tree(tree, n_files, seed, out=sys.stdout):
    """Build or reuse TREE. Returns counts, or None on refusal."""
    root = os.fsencode(os.path.abspath(tree))
    head = stamp_text(n_files, seed)
    if os.path.lexists(root):
        stamp = read_stamp(root)
        if stamp is None or not stamp.startswith(head):
            print("make_tree: %s exists but is not a tree made with "
                  "files=%d seed=%d (stamp: %s).\nRemove it yourself or "
                  "pick another path; nothing was changed."
                  % (os.fsdecode(root), n_files, seed,
                     repr(stamp.splitlines()[0]) if stamp else "none"),
                  file=sys.stderr)
            return None
        counts = {}
        for line in stamp.splitlines()[1:]:
            key, _, value = line.partition("=")
            if value.isdigit():
                counts[key] = int(value)
        print("reusing %s: %s" % (os.fsdecode(root), describe(counts)),
              file=out)
        return counts

    t0 = time.perf_counter()
    dirs, files = build_plan(n_files, seed)
    counts = summarize(dirs, files)
    # Build beside the target and rename at the end, so an interrupted run
    # never leaves something that looks complete.
    partial = root + b".partial-%d" % os.getpid()
    try:
        write_tree(partial, dirs, files)
        body = head + "".join("%s=%d\n" % kv for kv in counts.items())
        with open(partial + b"/" + STAMP, "w") as f:
            f.write(body)
        os.rename(partial, root)
    except BaseException:
        shutil.rmtree(partial, ignore_errors=True)
        raise
    print("made %s: %s (%.1f s)" % (os.fsdecode(root), describe(counts),
                                   time.perf_counter() - t0), file=out)
    return counts


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("tree")
    ap.add_argument("--files", type=int, default=300000)
    ap.add_argument("--seed", type=int, default=1)
    args = ap.parse_args()
    if args.files < 0:
        ap.error("--files must be >= 0")
    try:
        return 0 if ensure_tree(args.tree, args.files, args.seed) else 2
    except OSError as e:
        print("make_tree: %s" % e, file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        return 130


if __name__ == "__main__":
    sys.exit(main())
