#!/bin/sh
# Runs a Windows program under Wine in the given prefix:
#   wine-run.sh PREFIX PROGRAM [ARGS...]
# The prefix is created on first use, with the project's Wine environment.
set -eu
. "$(dirname "$0")/wine-env.sh"
prefix=$1
shift
mkdir -p "$prefix"
WINEPREFIX=$(cd "$prefix" && pwd)
export WINEPREFIX
exec wine "$@"
