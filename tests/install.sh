#!/bin/sh
# Installs the build into a fresh prefix and checks what lands there: the
# program, which runs and says the version its manual page gives, and the
# manual page, which renders without warnings.
#
#   install.sh BUILDDIR SOURCEDIR
set -eu
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$1" --prefix "$prefix" >/dev/null
page=$prefix/share/man/man1/pairstat.1
mkdir "$prefix/run"
cp "$2/examples/typical/ttteste.dat" "$2/examples/typical/fname.dat" "$prefix/run/"
(cd "$prefix/run" && "$prefix/bin/pairstat") | grep -q '   is 2$' || { echo "FAIL: the installed pairstat"; exit 1; }
version=$("$prefix/bin/pairstat" --version)
grep -q "^\.TH PAIRSTAT 1 [0-9-]* \"$version\"" "$page" || { echo "FAIL: the manual page does not say $version"; exit 1; }
if command -v groff >/dev/null; then
  warnings=$(groff -ww -man -z "$page" 2>&1)
  [ -z "$warnings" ] || { echo "FAIL: the manual page has warnings:"; echo "$warnings"; exit 1; }
fi
if command -v man >/dev/null; then
  MANWIDTH=80 man -l "$page" 2>&1 | grep -q '^EXIT STATUS' || { echo "FAIL: man -l does not show the page"; exit 1; }
fi
