#!/bin/sh
# Plays one end-to-end run of pairstat.
#
#   play.sh CASE PAIRSTAT
#
# CASE is a folder. Its files are copied into an empty working folder, except:
#   args            the run's arguments, one a line
#   run             a shell script run there in place of plain "$PAIRSTAT"
#                   (for runs that need a limit, a device or several processes,
#                   and for scans, which call "$PAIRSTATSCAN"), with lib.sh
#                   read into it first; its status 77 means it can't set the
#                   run up here: skipped
#   faults          rules for the faults helper, on one line: the run is made
#                   under them (skipped where the helper can't run)
#   expect.status   the exit status (absent: 0)
#   expect.console  what the run writes to standard output (absent: nothing)
#   expect.stderr   what it writes to standard error (absent: nothing)
#   expect.NAME     what file NAME holds after the run
#   novalgrind      why the case can't run under valgrind (with UNDERVALGRIND
#                   set in the environment it is then skipped)
# In what the run leaves, the working folder's absolute name reads FOLDER.
# Every other file left in the working folder must be an input, as it was.
# With BLESS=1 in the environment, a case that differs gets what the run left
# as its expect.* files (status, console and stderr where not the default,
# and each file left that is not an input), to be read before it is kept.
set -u
case=$1
PAIRSTAT=$2
export PAIRSTAT
work=$(cd "$(mktemp -d)" && pwd -P)
got=$(mktemp -d)
trap 'chmod -R u+rwx "$work" 2>/dev/null; rm -rf "$work" "$got"' EXIT
# Stopped by a signal (a timeout, a cancelled job), it still removes them.
trap 'exit 143' TERM
trap 'exit 130' INT HUP

if [ -n "${UNDERVALGRIND:-}" ] && [ -f "$case/novalgrind" ]; then
  echo "skipped under valgrind: $(cat "$case/novalgrind")"
  exit 77
fi
for f in "$case"/* "$case"/.[!.]*; do
  [ -e "$f" ] || continue
  case ${f##*/} in expect.* | run | faults | args | about | novalgrind) ;; *) cp -RL "$f" "$work/" ;; esac
done
set --
[ ! -f "$case/args" ] || while IFS= read -r arg; do set -- "$@" "$arg"; done <"$case/args"
TESTLIB=$(cd "$(dirname "$0")" && pwd -P)/lib.sh
export TESTLIB
if [ -f "$case/run" ]; then
  (cd "$work" && exec sh -c '. "$TESTLIB" && . "$0"' "$case/run")
elif [ -f "$case/faults" ]; then
  # shellcheck disable=SC2046 # the rules are words, never file patterns
  (cd "$work" && . "$TESTLIB" && needfaults && set -f && exec "$faults" $(cat "$case/faults") -- "$PAIRSTAT" "$@")
else
  (cd "$work" && exec "$PAIRSTAT" "$@")
fi >"$got/console" 2>"$got/stderr"
echo $? >"$got/status"
if grep -qx 77 "$got/status" && ! grep -qsx 77 "$case/expect.status"; then
  cat "$got/stderr"  # the run script could not set up its conditions here
  exit 77
fi

failed=0
compare() {  # what, expected file, actual file (which may be missing)
  rm -f "$got/left"
  [ ! -f "$3" ] || sed "s|$work|FOLDER|g" "$3" >"$got/left"
  cmp -s "$2" "$got/left" && return
  echo "FAIL: $1 differs (expected, then got):"
  diff -u "$2" "$got/left" 2>&1 | sed '1,2d'
  failed=1
}
echo 0 >"$got/none.status"
: >"$got/none.console"
: >"$got/none.stderr"
for stream in status console stderr; do
  want=$case/expect.$stream
  [ -f "$want" ] || want=$got/none.$stream
  compare "$stream" "$want" "$got/$stream"
done
for want in "$case"/expect.*; do
  name=${want##*/expect.}
  case $name in status | console | stderr | '*') ;; *) compare "$name" "$want" "$work/$name" ;; esac
done
for f in "$work"/* "$work"/.[!.]*; do
  name=${f##*/}
  [ -e "$f" ] && [ ! -e "$case/expect.$name" ] || continue
  [ -e "$case/$name" ] || { echo "FAIL: the run left an unexpected file $name"; failed=1; continue; }
  [ ! -f "$f" ] || compare "input $name" "$case/$name" "$f"
done
if [ "$failed" = 1 ] && [ "${BLESS:-}" = 1 ]; then
  bless() {  # expected file, what the run left (FOLDER put back)
    sed "s|$work|FOLDER|g" "$2" >"$1"
  }
  had=$(cd "$case" && ls -a | sed -n 's/^expect\.//p')
  rm -f "$case"/expect.*
  grep -qx 0 "$got/status" || cp "$got/status" "$case/expect.status"
  [ ! -s "$got/console" ] || bless "$case/expect.console" "$got/console"
  [ ! -s "$got/stderr" ] || bless "$case/expect.stderr" "$got/stderr"
  for f in "$work"/* "$work"/.[!.]*; do
    name=${f##*/}
    [ -f "$f" ] || continue
    [ ! -e "$case/$name" ] || printf '%s\n' "$had" | grep -qxF "$name" || continue
    bless "$case/expect.$name" "$f"
  done
  echo "blessed: $case"
fi
exit $failed
