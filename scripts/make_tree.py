#!/usr/bin/env python3
"""Lays out a benchmark tree: FOLDERS leaf folders (in two levels) holding FILES files in all."""
import os
import sys


def make(root, files, folders):
    per_leaf = max(1, files // folders)
    top = max(1, int(round((folders / 10.0))))
    made = 0
    for i in range(top):
        for j in range(10):
            leaf = os.path.join(root, "d%03d" % i, "s%02d" % j)
            os.makedirs(leaf, exist_ok=True)
            for k in range(per_leaf):
                with open(os.path.join(leaf, "f%03d.dat" % k), "wb") as f:
                    f.write(b"x" * 100)
                made += 1
    return made


if __name__ == "__main__":
    root, files, folders = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    print(make(root, files, folders))
