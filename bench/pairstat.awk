# The run's whole job as a short awk script, for comparison only: the same
# pairs, acceptance test, statistics and lines, without the free-format rules.
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
