#!/bin/sh
# Installs the build into a fresh prefix and checks what lands there: the
# program, which runs, and the manual page, which renders without warnings.
#
#   install.sh BUILDDIR SOURCEDIR
set -eu
build=$1
source=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

failed=0
[ -x "$prefix/bin/pairstat" ] || { echo "FAIL: bin/pairstat not installed"; failed=1; }
page=$prefix/share/man/man1/pairstat.1
[ -f "$page" ] || { echo "FAIL: share/man/man1/pairstat.1 not installed"; exit 1; }

run=$(mktemp -d "$prefix/run.XXXXXX")
cp "$source/examples/typical/ttteste.dat" "$source/examples/typical/fname.dat" "$run/"
(cd "$run" && "$prefix/bin/pairstat") >"$prefix/console" || { echo "FAIL: the installed pairstat failed"; failed=1; }
grep -q '   is 2$' "$prefix/console" || { echo "FAIL: unexpected console:"; cat "$prefix/console"; failed=1; }

# The program and its manual page say the same version.
version=$("$prefix/bin/pairstat" --version)
grep -q "^\.TH PAIRSTAT 1 [0-9-]* \"$version\"" "$page" || { echo "FAIL: the manual page does not say $version"; failed=1; }

if command -v groff >/dev/null; then
  warnings=$(groff -ww -man -z "$page" 2>&1)
  [ -z "$warnings" ] || { echo "FAIL: the manual page has warnings:"; echo "$warnings"; failed=1; }
else
  echo "groff missing: the manual page was installed but not checked"
fi
if command -v man >/dev/null; then
  MANWIDTH=80 man -l "$page" 2>&1 | grep -q '^EXIT STATUS' || { echo "FAIL: man -l does not show the page"; failed=1; }
fi
exit $failed
