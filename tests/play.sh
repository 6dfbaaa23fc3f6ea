#!/bin/sh
# Plays one end-to-end run of pairstat.
#
#   play.sh CASE PAIRSTAT
#
# CASE is a folder. Its files are copied into an empty working folder, except:
#   args            the run's arguments, one a line
#   run             a shell script run there in place of plain "$PAIRSTAT"
#                   (for runs that need a limit, a device or several processes);
#                   its status 77 means it can't set the run up here: skipped
#   expect.status   the exit status (absent: 0)
#   expect.console  what the run writes to standard output (absent: nothing)
#   expect.stderr   what it writes to standard error (absent: nothing)
#   expect.NAME     what file NAME holds after the run
# After the run, every file in the working folder must either match its
# expect.NAME or be an input left exactly as it was.
set -u
case=$1
PAIRSTAT=$2
export PAIRSTAT
work=$(mktemp -d)
got=$(mktemp -d)
trap 'chmod -R u+rwx "$work" 2>/dev/null; rm -rf "$work" "$got"' EXIT
# Stopped by a signal (a timeout, a cancelled job), it still removes them.
trap 'exit 143' TERM
trap 'exit 130' INT HUP

for f in "$case"/*; do
  name=${f##*/}
  case $name in
    expect.*|run|args) ;;
    *) cp -R "$f" "$work/" ;;
  esac
done

if [ -f "$case/run" ]; then
  (cd "$work" && sh "$case/run") >"$got/console" 2>"$got/stderr"
else
  set --
  if [ -f "$case/args" ]; then
    while IFS= read -r arg; do set -- "$@" "$arg"; done <"$case/args"
  fi
  (cd "$work" && exec "$PAIRSTAT" "$@") >"$got/console" 2>"$got/stderr"
fi
status=$?

want=0
[ -f "$case/expect.status" ] && want=$(cat "$case/expect.status")
if [ "$status" = 77 ] && [ "$want" != 77 ]; then
  # The run script could not set up its conditions on this machine.
  cat "$got/stderr"
  exit 77
fi

failed=0
mismatch() {  # what, expected file, actual file (which may be missing)
  echo "FAIL: $1 differs (expected, then got):"
  diff -u "$2" "$3" 2>&1 | sed '1,2d'
  failed=1
}

if [ "$status" != "$want" ]; then
  echo "FAIL: exit status $status, expected $want"
  failed=1
fi
for stream in console stderr; do
  expected=$case/expect.$stream
  [ -f "$expected" ] || expected=/dev/null
  cmp -s "$expected" "$got/$stream" || mismatch "$stream" "$expected" "$got/$stream"
done
for expected in "$case"/expect.*; do
  name=${expected##*/expect.}
  case $name in status|console|stderr|'*') continue ;; esac
  cmp -s "$expected" "$work/$name" 2>/dev/null || mismatch "$name" "$expected" "$work/$name"
done
for f in "$work"/* "$work"/.[!.]*; do
  [ -e "$f" ] || continue
  name=${f##*/}
  [ -e "$case/expect.$name" ] && continue
  if [ ! -e "$case/$name" ]; then
    echo "FAIL: the run left an unexpected file $name"
    failed=1
  elif [ -f "$f" ] && ! cmp -s "$case/$name" "$f"; then
    mismatch "input $name" "$case/$name" "$f"
  fi
done
exit $failed
