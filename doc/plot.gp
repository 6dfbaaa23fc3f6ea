# Draws a scan's table (pairstat-scan table) or its points (pairstat-scan
# points) into a PNG: the mean against beta, one curve for each U/t, with
# error bars that allow for correlation.
#
#   gnuplot -c plot.gp TABLE PLOT.png
#   pairstat-scan table */ | gnuplot -c plot.gp - PLOT.png
#   pairstat-scan points */ | gnuplot -c plot.gp - PLOT.png
#
# The header tells the two apart (a table's names folder, points' names
# runs), and the columns are read by their names, so a table of an older
# pairstat, with fewer columns, draws too.
#
# A table draws one point a run. A bar is the run's corrected error, or its
# standard error where the run is too short to estimate the correlation
# (under 20 values); a run of one accepted pair has no error and is drawn
# without a bar. A run whose flags hold short, drift or start has an open
# marker: its error, or its mean, is not to be trusted as it stands. Runs that
# failed, left no record, or have no finite U/t, beta or mean are left out,
# and the title counts them and names the first few by their folders' last
# names.
#
# Points draw one point for each U/t and beta, the runs there combined, with
# the combined corrected error as its bar; a point whose runs disagree
# (flagged inconsistent) has an open marker. A point none of whose runs could
# be weighed has no mean, and is left out and named as a run is.
#
# A curve is broken where a point of it is left out between two that are
# drawn. A left-out run's U/t and beta are its record's; a folder with no
# record, or a run that failed before it had them, is placed by the first two
# numbers of its ttteste.dat (ten times U/t and ten times beta), read in the
# folder the table names, where that file can be read.
#
# Needs awk and a shell besides gnuplot; draws without a display.
if (ARGC != 2) {
    print "usage: gnuplot -c plot.gp TABLE PLOT.png   (TABLE - reads standard input; TABLE is pairstat-scan table or pairstat-scan points)"
    exit status 64
}
png = ARG2

# The table is read once, by awk, which writes gnuplot commands into the file
# meta: what the plot says, and the curves to draw as the data block $curves (a
# block of lines "beta mean bar marked" for each U/t, in order of U/t, two
# blank lines between blocks and one where a curve breaks). The table's name
# reaches awk through a file, so that no name needs quoting for the shell.
$prepare << AWK
BEGIN {
    FS = "\t"
    named = 3           # the left-out runs or points named in the title
    namelength = 30     # a longer name is cut, so that the title fits
    getline table < (tmp "/name")
    if (table == "-") table = "/dev/stdin"
    got = getline < table
    if (got < 0) { print "kind = 'unreadable'" > (tmp "/meta"); exit }
    if (got == 0) { print "kind = 'empty'" > (tmp "/meta"); exit }
    for (i = 1; i <= NF; i++) c[$i] = i
    if ("folder" in c) { kind = "table"; need = "folder status ut beta mean error corrected flags"; marks = "short,drift,start" }
    else if ("runs" in c) { kind = "points"; need = "ut beta mean error corrected flags"; marks = "inconsistent" }
    else { print "kind = 'unknown'" > (tmp "/meta"); exit }
    n = split(need, wanted, " ")
    missing = ""
    for (i = 1; i <= n; i++) if (!(wanted[i] in c)) missing = missing (missing == "" ? "" : ", ") wanted[i]
    if (missing != "") { print "kind = " quote(kind) "; missing = " quote(missing) > (tmp "/meta"); exit }
    split(marks, m, ",")
    for (i in m) marked[m[i]] = 1
    while ((got = getline < table) > 0) row()
    if (got < 0) { print "kind = 'unreadable'" > (tmp "/meta"); exit }
    draw()
}
# A number as pairstat writes it, finite: a leading digit (NaN, Infinity and
# an empty field have none).
function finite(s) { return s ~ /^-?[0-9]/ }
function quote(s) { gsub(/'/, "''", s); return "'" s "'" }
function shown(s) { return length(s) > namelength ? substr(s, 1, namelength - 3) "..." : s }
function lastname(s,    parts, k) {
    sub(/\/+$/, "", s)
    k = split(s, parts, "/")
    return k > 0 && parts[k] != "" ? parts[k] : "(no folder)"
}
function row(    ut, beta, mean, bar, key, k, f, flags, name) {
    ut = $c["ut"]; beta = $c["beta"]; mean = $c["mean"]
    if ((kind == "points" || $c["status"] == "0") && finite(ut) && finite(beta) && finite(mean)) {
        bar = finite($c["corrected"]) ? $c["corrected"] : finite($c["error"]) ? $c["error"] : 0
        flag = 0
        k = split($c["flags"], flags, ",")
        for (f = 1; f <= k; f++) if (flags[f] in marked) flag = 1
        key = sprintf("%.17g", ut + 0)
        if (!(key in count)) { keys[++nkeys] = key; label[key] = ut }
        k = ++count[key]
        pbeta[key, k] = beta + 0; ptext[key, k] = beta "\t" mean "\t" bar "\t" flag
        nmarked += flag
        return
    }
    left++
    name = kind == "table" ? lastname($c["folder"]) : "U/t " ut " beta " beta
    if (left <= named) names = names (left > 1 ? ", " : "") shown(name)
    if (!(finite(ut) && finite(beta))) {
        if (kind == "points" || !placed($c["folder"])) return
        ut = placedut; beta = placedbeta
    }
    key = sprintf("%.17g", ut + 0)
    gap[key, ++gaps[key]] = beta + 0
}
# The record's text field as the run had it: a tab, a line end and a
# backslash are written \t, \n and \\, other control bytes \xNN.
function unescape(s,    out, i, ch, next1) {
    if (index(s, "\\") == 0) return s
    out = ""
    for (i = 1; i <= length(s); i++) {
        ch = substr(s, i, 1)
        if (ch == "\\") {
            next1 = substr(s, i + 1, 1)
            if (next1 == "t") { out = out "\t"; i++; continue }
            if (next1 == "n") { out = out "\n"; i++; continue }
            if (next1 == "\\") { out = out "\\"; i++; continue }
            if (next1 == "x" && substr(s, i + 2, 2) ~ /^[0-9A-Fa-f][0-9A-Fa-f]$/) {
                out = out sprintf("%c", 16 * hex(substr(s, i + 2, 1)) + hex(substr(s, i + 3, 1)))
                i += 3
                continue
            }
        }
        out = out ch
    }
    return out
}
function hex(d) { return index("0123456789abcdef", tolower(d)) - 1 }
# U/t and beta of FOLDER's runs (into placedut and placedbeta) by the first
# two numbers of its ttteste.dat, each divided by ten, as pairstat takes
# them; 0 where the file can't be read or doesn't start with two plain
# numbers (a repeat, a null or a slash among them, a word).
function placed(folder,    path, line, t, k, n, got, v, tries) {
    path = unescape(folder) "/ttteste.dat"
    got = 0
    tries = 0
    while (got < 2 && tries++ < 100 && (getline line < path) > 0) {
        sub(/\r$/, "", line)
        gsub(/^[ \t]+|[ \t]+$/, "", line)
        if (line == "") continue
        n = split(line, t, /[ \t]*,[ \t]*|[ \t]+/)
        for (k = 1; k <= n && got < 2; k++) v[++got] = t[k]
    }
    close(path)
    if (got < 2 || !datanumber(v[1])) return 0
    placedut = value / 10
    if (!datanumber(v[2])) return 0
    placedbeta = value / 10
    return 1
}
# A number of ttteste.dat (into value): an optional sign, digits with or
# without a point, and an optional exponent, E or D, or a sign straight after
# the digits; 0 for anything else (an empty field is a null, two commas),
# or a number too large to be finite.
function datanumber(s) {
    if (s !~ /^[+-]?([0-9]+\.?[0-9]*|\.[0-9]+)([EeDd][+-]?[0-9]+|[+-][0-9]+)?$/) return 0
    if (match(s, /[EeDd]/)) s = substr(s, 1, RSTART - 1) "e" substr(s, RSTART + 1)
    else if (match(s, /[0-9.][+-]/)) s = substr(s, 1, RSTART) "e" substr(s, RSTART + 1)
    value = s + 0
    return value >= -1.7976931348623157e308 && value <= 1.7976931348623157e308
}
function draw(    i, j, k, key, t, idx, before, b, g, out) {
    out = tmp "/meta"
    print "$curves << EOD" > out
    # The U/t in order, then each one's points in order of beta.
    for (i = 2; i <= nkeys; i++)
        for (j = i; j > 1 && keys[j - 1] + 0 > keys[j] + 0; j--) { t = keys[j]; keys[j] = keys[j - 1]; keys[j - 1] = t }
    for (i = 1; i <= nkeys; i++) {
        key = keys[i]
        for (k = 1; k <= count[key]; k++) idx[k] = k
        for (k = 2; k <= count[key]; k++)
            for (j = k; j > 1 && pbeta[key, idx[j - 1]] > pbeta[key, idx[j]]; j--) { t = idx[j]; idx[j] = idx[j - 1]; idx[j - 1] = t }
        if (i > 1) printf "\n\n" > out
        for (k = 1; k <= count[key]; k++) {
            b = pbeta[key, idx[k]]
            if (k > 1 && b > before)
                for (g = 1; g <= gaps[key]; g++)
                    if (gap[key, g] > before && gap[key, g] < b) { printf "\n" > out; break }
            print ptext[key, idx[k]] > out
            before = b
        }
    }
    print "EOD" > out
    print "kind = " quote(kind) > out
    print "n = " nkeys + 0 > out
    if (nkeys > 0) {
        printf "array label[%d]\n", nkeys > out
        for (i = 1; i <= nkeys; i++) print "label[" i "] = " quote(label[keys[i]]) > out
    }
    print "left = " left + 0 > out
    print "names = " quote(names) > out
    print "more = " (left > named ? left - named : 0) > out
    print "marked = " nmarked + 0 > out
    close(out)
}
AWK

tmp = system('mktemp -d')
if (tmp eq '') {
    print "plot.gp: no temporary folder could be made"
    exit status 1
}
set print tmp . '/name'
print ARG1
set print tmp . '/prepare.awk'
print $prepare
unset print
prepared = system("awk -v tmp='" . tmp . "' -f '" . tmp . "/prepare.awk' && echo prepared")
if (prepared ne 'prepared') {
    system("rm -rf '" . tmp . "'")
    print "plot.gp: awk could not read the table"
    exit status 1
}
load tmp . '/meta'
system("rm -rf '" . tmp . "'")
source = ARG1 eq '-' ? 'standard input' : ARG1
if (kind eq 'unreadable' || kind eq 'empty' || kind eq 'unknown' || exists('missing')) {
    if (kind eq 'unreadable' || kind eq 'empty') {
        print sprintf("plot.gp: %s %s", source, kind eq 'empty' ? 'is empty' : "can't be read")
    } else {
        if (kind eq 'unknown') {
            print sprintf("plot.gp: %s: the header names neither folder (pairstat-scan table) nor runs (pairstat-scan points)", source)
        } else {
            print sprintf("plot.gp: %s: the %s's header has no %s", source, kind, missing)
        }
    }
    exit status 1
}
if (n == 0) {
    print sprintf("plot.gp: no %s in %s has a finite mean to draw (%d left out)", \
                  kind eq 'table' ? 'run' : 'point', source, left)
    exit status 1
}

if (strstrt(GPVAL_TERMINALS, "pngcairo")) {
    set terminal pngcairo size 900,520 font ",11"
} else {
    set terminal png size 900,520
}
set output png
# Folder names and U/t are shown as they are, without gnuplot's markup.
set termoption noenhanced
plural(k) = k == 1 ? '' : 's'
if (kind eq 'table') {
    heading = 'mean of each run and its error allowing for correlation'
    what = sprintf('%d run%s left out (failed, no record, or no finite U/t, beta or mean)', left, plural(left))
    markedtitle = "warned short, drift or start"
} else {
    heading = 'runs of each point combined: mean and its error allowing for correlation'
    what = sprintf('%d point%s left out (no run to weigh)', left, plural(left))
    markedtitle = "runs disagree (inconsistent)"
}
# The heading, then what was left out and the first of them by name, centred
# over the whole picture.
note = left == 0 ? 'none left out' : \
       sprintf("%s:\n%s%s", what, names, more > 0 ? sprintf(' and %d more', more) : '')
set tmargin 5
set label 1 heading at screen 0.5, screen 0.97 center front
set label 2 note at screen 0.5, screen 0.92 center front font ",10"
set xlabel 'beta'
set ylabel 'mean of 1 - a/b'
# The key in a right margin of its own, so that what it says does not move
# the plot.
set rmargin at screen 0.7
set key at screen 0.72, graph 1 left top Left reverse samplen 2 font ",10"
set offsets graph 0.03, graph 0.03, graph 0.05, graph 0.05
# Lines first, then bars, then markers over them; an open marker is a white
# one with a ring, drawn last so that it shows over the other curves. The key's
# entries are plots of no point (NaN), so that each shows a line with a filled
# marker, or the open marker alone.
plot for [i=1:n] $curves index (i - 1) using 1:2 with lines linecolor i linewidth 1.2 notitle, \
     for [i=1:n] $curves index (i - 1) using 1:2:3 with yerrorbars linecolor i pointsize 0 notitle, \
     for [i=1:n] $curves index (i - 1) using 1:($4 > 0 ? NaN : $2) with points pointtype 7 pointsize 1 linecolor i notitle, \
     for [i=1:n] $curves index (i - 1) using 1:($4 > 0 ? $2 : NaN) with points pointtype 7 pointsize 1 linecolor rgb 'white' notitle, \
     for [i=1:n] $curves index (i - 1) using 1:($4 > 0 ? $2 : NaN) with points pointtype 6 pointsize 1 linecolor i notitle, \
     for [i=1:n] NaN with linespoints pointtype 7 pointsize 1 linecolor i linewidth 1.2 title 'U/t = ' . label[i], \
     for [j=1:(marked > 0)] NaN with points pointtype 6 pointsize 1 linecolor rgb 'black' title markedtitle
