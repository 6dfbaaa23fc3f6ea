#!/bin/sh
# Installs the build into a fresh prefix and checks what lands there: the
# program, which runs and says the version its manual page gives; pairstat-scan,
# which runs the pairstat installed beside it; the plot scripts; and the
# manual pages, which render without warnings.
#
#   install.sh BUILDDIR SOURCEDIR
set -eu
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$1" --prefix "$prefix" >/dev/null
mkdir "$prefix/run"
cp "$2/examples/typical/ttteste.dat" "$2/examples/typical/fname.dat" "$prefix/run/"
(cd "$prefix/run" && "$prefix/bin/pairstat") | grep -q '   is 2$' || { echo "FAIL: the installed pairstat"; exit 1; }
(cd "$prefix" && env -u PAIRSTAT PATH=/usr/bin:/bin bin/pairstat-scan run run 2>/dev/null) && grep -q '   is 2$' "$prefix/run/console.txt" ||
  { echo "FAIL: the installed pairstat-scan with the pairstat beside it"; exit 1; }
ls "$prefix/share/doc/pairstat/plot.gp" "$prefix/share/doc/pairstat/plot.py" >/dev/null
version=$("$prefix/bin/pairstat" --version)
for page in "$prefix"/share/man/man1/pairstat.1 "$prefix"/share/man/man1/pairstat-scan.1; do
  grep -q "^\.TH [A-Z-]* 1 [0-9-]* \"$version\"" "$page" || { echo "FAIL: $page does not say $version"; exit 1; }
  if command -v groff >/dev/null; then
    warnings=$(groff -ww -man -z "$page" 2>&1)
    [ -z "$warnings" ] || { echo "FAIL: $page has warnings:"; echo "$warnings"; exit 1; }
  fi
  if command -v man >/dev/null; then
    MANWIDTH=80 man -l "$page" 2>&1 | grep -q '^EXIT STATUS' || { echo "FAIL: man -l does not show $page"; exit 1; }
  fi
done
