#!/usr/bin/env python3
"""Draws a scan's table (pairstat-scan table) or its points (pairstat-scan
points) into a PNG: the mean against beta, one curve for each U/t, with error
bars that allow for correlation.

    python3 plot.py TABLE PLOT.png
    pairstat-scan table */ | python3 plot.py - PLOT.png
    pairstat-scan points */ | python3 plot.py - PLOT.png

The header tells the two apart (a table's names folder, points' names runs),
and the columns are read by their names, so a table of an older pairstat,
with fewer columns, draws too.

A table draws one point a run. A bar is the run's corrected error, or its
standard error where the run is too short to estimate the correlation (under
20 values); a run of one accepted pair has no error and is drawn without a
bar. A run whose flags hold short, drift or start has an open marker: its
error, or its mean, is not to be trusted as it stands. Runs that failed, left
no record, or have no finite U/t, beta or mean are left out, and the title
counts them and names the first few by their folders' last names.

Points draw one point for each U/t and beta, the runs there combined, with
the combined corrected error as its bar; a point whose runs disagree
(flagged inconsistent) has an open marker. A point none of whose runs could
be weighed has no mean, and is left out and named as a run is.

A curve is broken where a point of it is left out between two that are drawn.
A left-out run's U/t and beta are its record's; a folder with no record, or a
run that failed before it had them, is placed by the first two numbers of its
ttteste.dat (ten times U/t and ten times beta), read in the folder the table
names, where that file can be read.

Needs matplotlib (Debian: python3-matplotlib); draws without a display.
"""
import csv
import io
import math
import os
import re
import sys

# A table's and points' columns that the drawing reads; the rest may come
# and go.
TABLECOLUMNS = ("folder", "status", "ut", "beta", "mean", "error", "corrected", "flags")
POINTSCOLUMNS = ("ut", "beta", "mean", "error", "corrected", "flags")
# The flags that give a run an open marker in a table, and a point in points.
TABLEMARKED = ("short", "drift", "start")
POINTSMARKED = ("inconsistent",)
NAMED = 3       # the left-out runs or points named in the title
NAMELENGTH = 30  # a longer name is cut, so that the title fits


def number(text):
    """The field's number, or None where it is empty or not finite."""
    try:
        x = float(text)
    except (TypeError, ValueError):
        return None
    return x if math.isfinite(x) else None


def unescape(text):
    """A text field as the run had it: the table writes a tab, a line end and
    a backslash as \\t, \\n and \\\\, other control bytes as \\xNN."""
    named = {"t": "\t", "n": "\n", "\\": "\\"}
    return re.sub(r"\\(x[0-9A-Fa-f]{2}|[tn\\])",
                  lambda m: named.get(m.group(1)) or chr(int(m.group(1)[1:], 16)), text)


# A number of ttteste.dat: an optional sign, digits with or without a point,
# and an optional exponent (E or D, or a sign straight after the digits).
DATANUMBER = re.compile(r"([+-]?(?:[0-9]+\.?[0-9]*|\.[0-9]+))(?:[EeDd]([+-]?[0-9]+)|([+-][0-9]+))?")


def placed(folder):
    """U/t and beta of FOLDER's runs by the first two numbers of its
    ttteste.dat, each divided by ten, as pairstat takes them; None where the
    file can't be read or doesn't start with two plain numbers (a repeat, a
    null or a slash among them, a word)."""
    try:
        data = open(os.path.join(os.fsencode(unescape(folder)), b"ttteste.dat"), "rb")
    except (OSError, ValueError):
        return None
    fields = []
    with data:
        try:
            for k, line in enumerate(data):
                if k == 100 or len(fields) >= 2:
                    break
                text = line.decode("latin-1").rstrip("\r\n").strip(" \t")
                if text:
                    fields += re.split(r"[ \t]*,[ \t]*|[ \t]+", text)[:2 - len(fields)]
        except OSError:
            return None
    values = []
    for field in fields:
        # An empty field is a null (two commas), which keeps a value not read.
        m = DATANUMBER.fullmatch(field)
        if not m:
            return None
        exponent = m.group(2) or m.group(3) or "0"
        values.append(number(m.group(1) + "e" + exponent))
    if len(values) < 2 or None in values:
        return None
    return values[0] / 10.0, values[1] / 10.0


def shown(text):
    """TEXT as the title or legend shows it: cut to NAMELENGTH, bytes that
    are no UTF-8 as a replacement mark, and a $ not taken for mathematics."""
    text = text.encode("utf-8", "surrogateescape").decode("utf-8", "replace")
    if len(text) > NAMELENGTH:
        text = text[:NAMELENGTH - 3] + "..."
    return text.replace("$", r"\$")


def segments(drawn, gaps):
    """The curve of one U/t: its drawn points (beta, mean, bar, marked) in
    order of beta, cut into runs of points between which no beta of GAPS
    lies."""
    drawn = sorted(drawn)
    pieces = [[drawn[0]]]
    for before, point in zip(drawn, drawn[1:]):
        if any(before[0] < g < point[0] for g in gaps):
            pieces.append([])
        pieces[-1].append(point)
    return pieces


def main():
    if len(sys.argv) != 3:
        print("usage: plot.py TABLE PLOT.png   (TABLE - reads standard input; TABLE is "
              "pairstat-scan table or pairstat-scan points)", file=sys.stderr)
        sys.exit(64)
    try:
        import matplotlib
    except ImportError:
        sys.exit("plot.py: needs matplotlib (Debian: python3-matplotlib) for " + sys.executable)
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from matplotlib.lines import Line2D

    name = sys.argv[1]
    source = "standard input" if name == "-" else name
    # surrogateescape: a folder's name may hold any byte but a line end.
    if name == "-":
        table = io.TextIOWrapper(sys.stdin.buffer, encoding="utf-8", errors="surrogateescape", newline="")
    else:
        try:
            table = open(name, newline="", encoding="utf-8", errors="surrogateescape")
        except OSError as e:
            sys.exit("plot.py: %s: %s" % (name, e.strerror))
    reader = csv.DictReader(table, delimiter="\t", quoting=csv.QUOTE_NONE)
    header = reader.fieldnames
    if header is None:
        sys.exit("plot.py: %s is empty" % source)
    if "folder" in header:
        kind, wanted, flagged = "table", TABLECOLUMNS, TABLEMARKED
    elif "runs" in header:
        kind, wanted, flagged = "points", POINTSCOLUMNS, POINTSMARKED
    else:
        sys.exit("plot.py: %s: the header names neither folder (pairstat-scan table) nor runs "
                 "(pairstat-scan points)" % source)
    missing = [column for column in wanted if column not in header]
    if missing:
        sys.exit("plot.py: %s: the %s's header has no %s" % (source, kind, ", ".join(missing)))

    curves, labels, gaps, left = {}, {}, {}, []
    for row in reader:
        ut, beta, mean = (number(row[column]) for column in ("ut", "beta", "mean"))
        if (kind == "table" and row["status"] != "0") or None in (ut, beta, mean):
            if kind == "table":
                left.append(os.path.basename((row["folder"] or "").rstrip("/")) or "(no folder)")
            else:
                left.append("U/t %s beta %s" % (row["ut"], row["beta"]))
            if kind == "table" and (ut is None or beta is None):
                ut, beta = placed(row["folder"] or "") or (None, None)
            if ut is not None and beta is not None:
                gaps.setdefault(ut, []).append(beta)
            continue
        error = number(row["corrected"])
        if error is None:
            error = number(row["error"])
        marked = any(flag in flagged for flag in (row["flags"] or "").split(","))
        curves.setdefault(ut, []).append((beta, mean, error or 0.0, marked))
        labels.setdefault(ut, row["ut"])
    if not curves:
        sys.exit("plot.py: no %s in %s has a finite mean to draw (%d left out)"
                 % ("run" if kind == "table" else "point", source, len(left)))

    figure, axes = plt.subplots(figsize=(8, 5), dpi=100)
    handles, anymarked = [], False
    for i, ut in enumerate(sorted(curves)):
        colour = "C%d" % (i % 10)
        pieces = segments(curves[ut], gaps.get(ut, []))
        # One line, broken by a NaN where a point is left out.
        xs, ys = [], []
        for piece in pieces:
            xs += [p[0] for p in piece] + [math.nan]
            ys += [p[1] for p in piece] + [math.nan]
        axes.plot(xs[:-1], ys[:-1], color=colour, linewidth=1.2, zorder=2)
        points = [p for piece in pieces for p in piece]
        axes.errorbar([p[0] for p in points], [p[1] for p in points], yerr=[p[2] for p in points],
                      fmt="none", ecolor=colour, elinewidth=1, capsize=3, zorder=2)
        plain = [p for p in points if not p[3]]
        marked = [p for p in points if p[3]]
        anymarked = anymarked or bool(marked)
        axes.plot([p[0] for p in plain], [p[1] for p in plain], linestyle="none", marker="o",
                  markersize=5, color=colour, zorder=3)
        # Open markers over every curve's lines and markers, so that none hides one.
        axes.plot([p[0] for p in marked], [p[1] for p in marked], linestyle="none", marker="o",
                  markersize=5, markerfacecolor="white", markeredgecolor=colour, zorder=4)
        handles.append(Line2D([], [], color=colour, marker="o", markersize=5,
                              label="U/t = " + shown(labels[ut])))
    if anymarked:
        handles.append(Line2D([], [], linestyle="none", marker="o", markersize=5, markerfacecolor="white",
                              markeredgecolor="black",
                              label="warned short, drift or start" if kind == "table"
                              else "runs disagree (inconsistent)"))

    if kind == "table":
        title = "mean of each run and its error allowing for correlation"
        what = "run%s left out (failed, no record, or no finite U/t, beta or mean)" % ("" if len(left) == 1 else "s")
    else:
        title = "runs of each point combined: mean and its error allowing for correlation"
        what = "point%s left out (no run to weigh)" % ("" if len(left) == 1 else "s")
    # The heading, then what was left out and the first of them by name.
    if left:
        more = " and %d more" % (len(left) - NAMED) if len(left) > NAMED else ""
        note = "%d %s:\n%s%s" % (len(left), what, ", ".join(shown(n) for n in left[:NAMED]), more)
    else:
        note = "none left out"
    axes.set_title(title, fontsize=11, pad=36)
    axes.text(0.5, 1.02, note, transform=axes.transAxes, ha="center", va="bottom", fontsize=9)
    axes.set_xlabel("beta")
    axes.set_ylabel("mean of 1 - a/b")
    axes.legend(handles=handles, loc="upper left", bbox_to_anchor=(1.01, 1))
    try:
        figure.savefig(sys.argv[2], bbox_inches="tight")
    except OSError as e:
        sys.exit("plot.py: %s: %s" % (sys.argv[2], e.strerror))


main()
