# Draws a scan's table (pairstat-scan table) into a PNG: the mean against
# beta, one curve for each U/t, with error bars that allow for correlation.
#
#   gnuplot -c plot.gp TABLE PLOT.png
#   pairstat-scan table */ | gnuplot -c plot.gp - PLOT.png
#
# A bar is the run's corrected error, or its standard error where the run is
# too short to estimate the correlation (under 20 values); a run of one
# accepted pair has no error and is drawn without a bar. Runs that failed, left
# no record, or have no finite U/t, beta or mean are left out, and the title
# says how many. Points are joined in the table's order, which is by beta
# within each U/t.
if (ARGC != 2) {
    print "usage: gnuplot -c plot.gp TABLE PLOT.png   (TABLE - reads standard input)"
    exit status 64
}
table = ARG1
png = ARG2
# Standard input can be read once; the table is read more than once.
if (table eq '-') {
    table = system('f=$(mktemp) && cat >"$f" && printf %s "$f"')
}
shellword(s) = "'" . s . "'"

# The rows drawn, found by the columns' names: status 0, and U/t, beta and
# mean finite (numbers are written with a leading digit).
columns = 'NR == 1 { for (i = 1; i <= NF; i++) c[$i] = i; next } ' . \
          '{ drawn = $c["status"] == "0" && $c["ut"] ~ /^-?[0-9]/ && $c["beta"] ~ /^-?[0-9]/ && $c["mean"] ~ /^-?[0-9]/ } '
uts = system("awk -F '\t' '" . columns . "drawn { print $c[\"ut\"] }' " . shellword(table) . " | sort -gu")
left = system("awk -F '\t' '" . columns . "!drawn { n++ } END { print n + 0 }' " . shellword(table))

set datafile separator "\t"
set datafile columnheaders
finite(x) = x == x && abs(x) <= 1.7976931348623157e308
drawn(ut) = strcol("status") eq "0" && strcol("ut") eq ut && finite(column("beta")) && finite(column("mean"))
bar(name) = strcol(name) ne "" && finite(column(name))
error = '(bar("corrected") ? column("corrected") : bar("error") ? column("error") : 0)'

if (strstrt(GPVAL_TERMINALS, "pngcairo")) {
    set terminal pngcairo size 800,500 font ",11"
} else {
    set terminal png size 800,500
}
set output png
set title sprintf("mean and its error allowing for correlation; %s run%s left out (failed or no mean)", \
                  left, left eq "1" ? "" : "s")
set xlabel 'beta'
set ylabel 'mean of 1 - a/b'
set key outside right top
set offsets graph 0.03, graph 0.03, graph 0.05, graph 0.05
if (words(uts) == 0) {
    print sprintf("plot.gp: no run in the table has a finite mean to draw (%s left out)", left)
    if (ARG1 eq '-') { system('rm -f ' . shellword(table)) }
    exit status 1
}
plot for [ut in uts] table using (drawn(ut) ? column("beta") : NaN):"mean":@error \
     with yerrorlines pointtype 7 pointsize 0.6 title 'U/t = ' . ut
if (ARG1 eq '-') { system('rm -f ' . shellword(table)) }
