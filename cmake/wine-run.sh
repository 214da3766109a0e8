#!/bin/sh
# Runs a Windows program under Wine in the given prefix:
#   wine-run.sh PREFIX PROGRAM [ARGS...]
# The prefix is created on first use; Wine's debug channels are silenced and
# its offers to install Mono and Gecko are declined.
set -eu
prefix=$1
shift
mkdir -p "$prefix"
WINEPREFIX=$(cd "$prefix" && pwd)
export WINEPREFIX
export WINEDEBUG=-all
# Code page 1252 for the program, whatever the caller's locale.
export LC_ALL=C.UTF-8
export WINEDLLOVERRIDES="mscoree,mshtml="
exec wine "$@"
