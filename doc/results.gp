# Plots the example results file: the mean against beta, with the standard
# error as error bars. Run from the top of the repository:
#   gnuplot doc/results.gp
set terminal pngcairo size 720,450 font ",11"
set output 'results.png'
set title 'pairstat results, U/t = 4'
set xlabel 'beta'
set ylabel 'mean of 1 - a/b'
set key bottom right
set xrange [0.5:8.5]
plot 'examples/scan.dat' using 2:3:4 with yerrorbars pointtype 7 title 'mean +- standard error'
