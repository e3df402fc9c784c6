#!/usr/bin/env python3
"""Prints each factor's share of a result table: the factor's summed contributions
over all records times its summed profile over all variables, as a percentage of
that product summed over the factors (the residue left out). With two tables,
prints both and the largest difference in percentage points.

    bench/factor_shares.py result.tsv [other.tsv]
"""
import sys


def shares(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        lines = [line.rstrip("\n").split("\t") for line in f]
    # The heading of the contributions: factor names, the last one the residue (the
    # title of the data file above it may take more than one line).
    head = next(i for i, cells in enumerate(lines) if len(cells) > 2 and cells[-1] == "Residue")
    names = lines[head][1:-1]
    nfakt = len(names)
    start = next(i for i, cells in enumerate(lines) if len(cells) > 1 and cells[1].endswith("profiles:"))
    contributions = [0.0] * nfakt
    for cells in lines[head + 1:start]:
        for f in range(nfakt):
            contributions[f] += float(cells[1 + f])
    profiles = [0.0] * nfakt
    for cells in lines[start + 2:-1]:
        for f in range(nfakt):
            profiles[f] += float(cells[1 + f])
    amounts = [contributions[f] * profiles[f] for f in range(nfakt)]
    total = sum(amounts)
    return names, [100.0 * a / total for a in amounts]


def main():
    tables = [shares(path) for path in sys.argv[1:]]
    names = tables[0][0]
    for f, name in enumerate(names):
        print(name + "".join("\t%.2f" % t[1][f] for t in tables))
    if len(tables) == 2:
        print("largest difference (percentage points)\t%.3f" % max(abs(a - b) for a, b in zip(tables[0][1], tables[1][1])))


main()
