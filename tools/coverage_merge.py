#!/usr/bin/env python3
"""Merges gcovr JSON reports of the three flavours into one branch-coverage table, after a
line for each flavour's own coverage.

A flavour compiles only its own variant of a few functions, so reports cannot be merged line
by line as one program: a branch is keyed by file, line and its index there, counts as
reached when any flavour that compiles it takes it, and is listed once.

With --check PERCENT it exits 1 when any flavour's own branch coverage is below PERCENT.

Usage: coverage_merge.py REPORT.json... [--missed] [--check PERCENT]"""
import json
import sys


def main():
    args = sys.argv[1:]
    floor = None
    if "--check" in args:
        k = args.index("--check")
        floor = float(args[k + 1])
        del args[k : k + 2]
    paths = [a for a in args if not a.startswith("--")]
    show_missed = "--missed" in args
    below = []
    branches = {}  # (file, line, index) -> taken anywhere
    for path in paths:
        own_total = own_taken = 0
        for f in json.load(open(path))["files"]:
            for line in f["lines"]:
                if line.get("gcovr/excluded"):
                    continue
                for i, b in enumerate(line["branches"]):
                    key = (f["file"], line["line_number"], i)
                    branches[key] = branches.get(key, False) or b["count"] > 0
                    own_total += 1
                    own_taken += b["count"] > 0
        flavour = path.rsplit("/", 1)[-1].removesuffix(".json")
        own = 100.0 * own_taken / max(own_total, 1)
        print(f"{flavour:<36} {own_total:9d} {own_taken:7d} {own:6.1f}%")
        # Rounded as printed, so that the figure shown and the verdict never disagree.
        if floor is not None and round(own, 1) < floor:
            below.append(f"{flavour} {own:.1f}%")
    print()
    per_file = {}
    for (name, _, _), taken in branches.items():
        t, c = per_file.get(name, (0, 0))
        per_file[name] = (t + 1, c + (1 if taken else 0))
    total = sum(t for t, _ in per_file.values())
    covered = sum(c for _, c in per_file.values())
    print(f"{'file':<36} {'branches':>9} {'taken':>7} {'cover':>7}")
    for name, (t, c) in sorted(per_file.items(), key=lambda kv: kv[1][1] / kv[1][0]):
        print(f"{name:<36} {t:9d} {c:7d} {100.0 * c / t:6.1f}%")
    print(f"{'TOTAL':<36} {total:9d} {covered:7d} {100.0 * covered / total:6.1f}%")
    if show_missed:
        for (name, line, i), taken in sorted(branches.items()):
            if not taken:
                print(f"missed: {name}:{line} branch {i}")
    if below:
        print(f"coverage: below {floor:g}% branch coverage: {', '.join(below)}", file=sys.stderr)
        return 1
    if floor is not None:
        print(f"coverage: every flavour at {floor:g}% or more")
    return 0


if __name__ == "__main__":
    sys.exit(main())
