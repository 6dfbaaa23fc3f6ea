# Most of a run's work as a short awk script, for the benchmark's comparison
# only: the same pairs, acceptance test and sums, on records of one line each
# and without the free-format rules. Its lines are not the program's: numbers
# have 17 significant digits rather than the shortest text that reads back
# ("4" where pairstat writes 4.0), a run with one accepted pair appends
# nothing, and the results file is appended to without a lock.
# Run in the folder of a run: awk -f pairstat.awk
BEGIN {
    getline name < "fname.dat"
    n = 0
    while (pairs < 1000 && (getline first < "ttteste.dat") > 0 && (getline second < "ttteste.dat") > 0) {
        pairs++
        split(first, f)
        split(second, g)
        if (f[3] != 0) v[++n] = 1.0 - f[3] / g[3]
    }
    printf " number of conf. for and U/t= %.17g and beta= %.17g   is %d\n", g[1] / 10, g[2] / 10, n
    if (n < 2) exit
    s = 0; q = 0
    for (i = 1; i <= n; i++) { s = v[i] + s; q = v[i] * v[i] + q }
    mean = s / n
    sd = sqrt((q - mean * mean * n) / (n - 1))
    printf " Mean : %.17g +- %.17g\n", mean, sd
    printf " %.17g %.17g %.17g %.17g\n", g[1] / 10, g[2] / 10, mean, sd / sqrt(n) >> name
}
