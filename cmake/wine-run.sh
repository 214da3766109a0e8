#!/bin/sh
# Runs a Windows program under Wine in the given prefix:
#   wine-run.sh PREFIX PROGRAM [ARGS...]
# The prefix is created on first use, with the project's Wine environment,
# and seeded as a Windows installation (seed-windows.sh).
set -eu
here=$(dirname "$0")
. "$here/wine-env.sh"
prefix=$1
shift
mkdir -p "$prefix"
WINEPREFIX=$(cd "$prefix" && pwd)
export WINEPREFIX
if [ ! -e "$WINEPREFIX/.seeded" ]; then
  "$here/seed-windows.sh"
  touch "$WINEPREFIX/.seeded"
fi
# One wineserver that outlives each program by 10 s serves the next test's
# at once, and Wine's services start here on none of the caller's pipes,
# which they would otherwise hold open until they end.
wineserver -p10 </dev/null >/dev/null 2>&1 || true
wine cmd /c exit </dev/null >/dev/null 2>&1 || true
# Now and then Wine's client loses its wineserver as it starts ("wine client
# error:0: recvmsg: Connection reset by peer", seen before the program had
# run): that says nothing of the program, so it runs once more. Its
# stderr is held back until then; stdout passes straight through.
errors=$(mktemp)
trap 'rm -f "$errors"' EXIT
status=0
wine "$@" 2>"$errors" || status=$?
if grep -q '^wine client error:' "$errors"; then
  status=0
  wine "$@" 2>"$errors" || status=$?
fi
cat "$errors" >&2
exit "$status"
