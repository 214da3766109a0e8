#!/bin/sh
# Gives the Wine prefix named by WINEPREFIX what a standard installation of
# 64-bit Windows holds there and Wine does not (ksthunk-service.reg). Run it
# with the project's Wine environment (wine-env.sh) after the prefix exists.
set -eu
reg_file=$(cd "$(dirname "$0")" && pwd)/ksthunk-service.reg
wine reg import "Z:$(printf '%s' "$reg_file" | tr / '\\')" >/dev/null 2>&1 ||
  { echo "cannot import $reg_file into $WINEPREFIX" >&2; exit 1; }
