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
exec wine "$@"
