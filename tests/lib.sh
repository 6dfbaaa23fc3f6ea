# What the run scripts share: play.sh reads this file into each before it runs
# it (TESTLIB names it), and into each case run under faults.
#
# skip WHY: the case can't be set up here; status 77, which play.sh and ctest
# take for skipped.
skip() { echo "skipped: $*" >&2; exit 77; }

# needs HELPER: skip unless the helper program TESTHELPERS/HELPER was built.
needs() { [ -x "${TESTHELPERS:-}/$1" ] || skip "needs the $1 helper (TESTHELPERS)"; }

# waitfor CONDITION: returns once the shell command CONDITION succeeds, tried
# every 20 ms; after 10 s it says so on standard error and returns 1.
waitfor() {
  for i in $(seq 500); do eval "$1" && return; sleep 0.02; done
  echo "timed out waiting for: $1" >&2
  return 1
}

# holdlock FILE COMMAND...: the lockholder helper holds the lock on FILE, in
# the background, while COMMAND runs; holdlock returns once it holds it (at
# most 10 s). Skips where the helper was not built.
holdlock() {
  needs lockholder
  held=$(mktemp)
  "$TESTHELPERS/lockholder" "$@" >"$held" &
  waitfor '[ -s "$held" ]'
  rm -f "$held"
}

# The faults helper: "$faults" RULE... -- COMMAND. needfaults skips where it
# can't run (no seccomp user notification).
faults=${TESTHELPERS:-}/faults
needfaults() { "$faults" -- true 2>/dev/null || skip "needs the faults helper (TESTHELPERS) and seccomp"; }

# inscan: the script goes on in a new folder "scan", which goes with all it
# holds when the script ends (play.sh takes a file left behind for a fault).
inscan() {
  top=$PWD
  mkdir scan && cd scan || exit
  trap 'cd "$top" && rm -rf scan' EXIT
}

# The stand-ins for Slurm's sbatch and scontrol, to put first on PATH.
slurm=$(dirname "$TESTLIB")/slurm

# sed "$sub": a submission's folder, named by the time it was made, as
# .pairstat-scan/SUBMISSION.
sub='s|\.pairstat-scan/[0-9]\{8\}-[0-9]\{6\}\.[A-Za-z0-9]\{6\}|.pairstat-scan/SUBMISSION|g'

# point FOLDER BETA [UT]: a folder of two pairs whose data file gives that
# beta and U/t (40 by default: both are ten times their value there),
# appending to ../res.dat.
point() {
  mkdir -p -- "$1"
  printf "'../res.dat'\n" >"$1/fname.dat"
  printf '%s %s 1 0.01\n%s %s 4 0.02\n%s %s 2 0.01\n%s %s 4 0.02\n' "${3:-40}" "$2" "${3:-40}" "$2" \
    "${3:-40}" "$2" "${3:-40}" "$2" >"$1/ttteste.dat"
}

# sharednamespace: skips without root, /dev/fuse or the sharedfs helper;
# else starts the script again as the first process of a mount and process
# namespace of its own, so that however it ends, its mounts and processes end
# with it. (A process namespace gets a /proc of its own, where a sanitizer
# looks up its process by the id it has there.)
sharednamespace() {
  [ -x "${TESTHELPERS:-}/sharedfs" ] || skip "the sharedfs helper was not built (it needs libfuse3 and pkg-config)"
  [ "$(id -u)" = 0 ] && [ -c /dev/fuse ] || skip "mounting sharedfs needs root and /dev/fuse"
  [ "$$" != 1 ] || return 0
  inside="unshare --mount --propagation private --pid --mount-proc --kill-child"
  $inside true 2>/dev/null || skip "cannot make namespaces to mount in (needs unshare, and the right to)"
  exec $inside sh -c '. "$TESTLIB" && . "$0"' "$0"
}

# mountshared MOUNT EVERY [FLUSHMS]: sharedfs serves the folder "shared" at
# MOUNT, made here (EVERY and FLUSHMS as sharedfs takes them), in the
# background; it returns once the mount is there, or fails after 10 seconds.
mountshared() {
  mkdir "$1"
  "$TESTHELPERS/sharedfs" shared "$@" &
  waitfor "mountpoint -q '$1'" || exit 1
}

# asnobody COMMAND...: runs COMMAND as the unprivileged user nobody (by
# setpriv) where the script runs as root, who reads and writes anything; as
# it is otherwise. Skips where that can't be done: without setpriv, or under
# valgrind, where the program is a script that user must read, when the build
# lies in a folder only root may enter (as /root).
asnobody() {
  [ "$(id -u)" = 0 ] || { "$@"; return; }
  command -v setpriv >/dev/null || skip "needs setpriv to run unprivileged"
  nobody="setpriv --reuid=65534 --regid=65534 --clear-groups"
  if [ -n "${UNDERVALGRIND:-}" ] && ! $nobody sh -c 'test -r "$1"' sh "$PAIRSTAT"; then
    skip "under valgrind: an unprivileged user can't read $PAIRSTAT"
  fi
  $nobody "$@"
}
