# Sourced by the run scripts of cases about permissions. Root reads and writes
# anything, so as root such a case runs the program as an unprivileged user
# (nobody, by setpriv), or is skipped (status 77) where that can't be done.
# Under valgrind the program is a script that user must read; where the build
# lies in a folder only root may enter (as /root), it can't, and the case is
# skipped there: the plain and sanitizer builds still play it.
asnobody() { setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; }
if [ "$(id -u)" = 0 ]; then
  command -v setpriv >/dev/null || { echo "skipped: needs setpriv to run unprivileged" >&2; exit 77; }
  if [ -n "${UNDERVALGRIND:-}" ] && ! asnobody sh -c 'test -r "$1"' sh "$PAIRSTAT"; then
    echo "skipped under valgrind: an unprivileged user can't read $PAIRSTAT" >&2
    exit 77
  fi
fi
