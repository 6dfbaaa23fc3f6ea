#!/usr/bin/env python3
"""Draws a scan's table (pairstat-scan table) into a PNG: the mean against
beta, one curve for each U/t, with error bars that allow for correlation.

    python3 plot.py TABLE PLOT.png
    pairstat-scan table */ | python3 plot.py - PLOT.png

A bar is the run's corrected error, or its standard error where the run is
too short to estimate the correlation (under 20 values); a run of one
accepted pair has no error and is drawn without a bar. Runs that failed, left
no record, or have no finite U/t, beta or mean are left out, and the title
says how many. Needs matplotlib (Debian: python3-matplotlib); draws without a
display.
"""
import csv
import math
import sys


def number(text):
    """The field's number, or None where it is empty or not finite."""
    try:
        x = float(text)
    except ValueError:
        return None
    return x if math.isfinite(x) else None


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: plot.py TABLE PLOT.png   (TABLE - reads standard input)")
    try:
        import matplotlib
    except ImportError:
        sys.exit("plot.py: needs matplotlib (Debian: python3-matplotlib) for " + sys.executable)
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    table = sys.stdin if sys.argv[1] == "-" else open(sys.argv[1], newline="", encoding="utf-8")
    curves, labels, left = {}, {}, 0
    for row in csv.DictReader(table, delimiter="\t", quoting=csv.QUOTE_NONE):
        ut, beta, mean = (number(row[name]) for name in ("ut", "beta", "mean"))
        if row["status"] != "0" or None in (ut, beta, mean):
            left += 1
            continue
        error = number(row["corrected"])
        if error is None:
            error = number(row["error"])
        curves.setdefault(ut, []).append((beta, mean, error or 0.0))
        labels.setdefault(ut, row["ut"])
    if not curves:
        sys.exit("plot.py: no run in the table has a finite mean to draw (%d left out)" % left)

    figure, axes = plt.subplots(figsize=(8, 5), dpi=100)
    for ut in sorted(curves):
        points = sorted(curves[ut])
        axes.errorbar([p[0] for p in points], [p[1] for p in points], yerr=[p[2] for p in points],
                      marker="o", markersize=3, capsize=3, label="U/t = " + labels[ut])
    axes.set_title("mean and its error allowing for correlation; %d run%s left out (failed or no mean)"
                   % (left, "" if left == 1 else "s"), fontsize=10)
    axes.set_xlabel("beta")
    axes.set_ylabel("mean of 1 - a/b")
    axes.legend(loc="upper left", bbox_to_anchor=(1.01, 1))
    figure.savefig(sys.argv[2], bbox_inches="tight")


main()
