# Plots a results file: the mean against beta with the standard error as
# error bars, one curve for each U/t, each sorted by beta (runs append their
# lines in the order they finish). Run from the top of the repository:
#   gnuplot doc/results.gp
# The bars assume independent values: a run whose values are correlated has
# bars too short, and says so in its warning.
set terminal pngcairo size 720,450 font ",11"
set output 'results.png'
set title 'pairstat results'
set xlabel 'beta'
set ylabel 'mean of 1 - a/b'
set key bottom right
set xrange [0.5:8.5]
file = 'examples/scan.dat'
uts = system(sprintf("awk '{ print $1 }' %s | sort -gu", file))
plot for [ut in uts] sprintf("< awk '$1 == %s' %s | sort -g -k2,2", ut, file) \
       using 2:3:4 with yerrorlines pointtype 7 title 'U/t = '.ut
