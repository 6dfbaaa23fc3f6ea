# What the run scripts share: play.sh reads this file into each before it runs
# it (TESTLIB names it), and into each case run under faults.
#
# skip WHY: the case can't be set up here; status 77, which play.sh and ctest
# take for skipped.
skip() { echo "skipped: $*" >&2; exit 77; }

# needs HELPER: skip unless the helper program TESTHELPERS/HELPER was built.
needs() { [ -x "${TESTHELPERS:-}/$1" ] || skip "needs the $1 helper (TESTHELPERS)"; }

# The faults helper: "$faults" RULE... -- COMMAND. needfaults skips where it
# can't run (no seccomp user notification).
faults=${TESTHELPERS:-}/faults
needfaults() { "$faults" -- true 2>/dev/null || skip "needs the faults helper (TESTHELPERS) and seccomp"; }

# point FOLDER BETA [UT]: a folder of two pairs at that beta (U/t 40, or UT),
# appending to ../res.dat.
point() {
  mkdir -p -- "$1"
  printf "'../res.dat'\n" >"$1/fname.dat"
  printf '%s %s 1 0.01\n%s %s 4 0.02\n%s %s 2 0.01\n%s %s 4 0.02\n' "${3:-40}" "$2" "${3:-40}" "$2" \
    "${3:-40}" "$2" "${3:-40}" "$2" >"$1/ttteste.dat"
}

# mountshared MOUNT...: sharedfs serves the folder "shared" at each MOUNT
# (EVERY and FLUSHMS as given in SHAREDFS, "0" by default), within a mount and
# process namespace of the script's own, so that however it ends, its mounts
# and processes end with it; the script is started again inside it first.
# Skips without root, /dev/fuse or the sharedfs helper.
mountshared() {
  [ -x "${TESTHELPERS:-}/sharedfs" ] || skip "the sharedfs helper was not built (it needs libfuse3 and pkg-config)"
  [ "$(id -u)" = 0 ] && [ -c /dev/fuse ] || skip "mounting sharedfs needs root and /dev/fuse"
  # A process namespace gets a /proc of its own, where a sanitizer looks up
  # its process by the id it has there.
  if [ "$$" != 1 ]; then
    inside="unshare --mount --propagation private --pid --mount-proc --kill-child"
    $inside true 2>/dev/null || skip "cannot make namespaces to mount in (needs unshare, and the right to)"
    exec $inside sh -c '. "$TESTLIB" && . "$0"' "$0"
  fi
  for m in "$@"; do
    mkdir "$m"
    # shellcheck disable=SC2086 # the options are words
    "$TESTHELPERS/sharedfs" shared "$m" ${SHAREDFS:-0} &
    for i in $(seq 100); do mountpoint -q "$m" && continue 2; sleep 0.05; done
    echo "sharedfs did not mount $m within 5 seconds" >&2
    exit 1
  done
}
