#!/usr/bin/env bash
# Installs modrik.exe into a Wine prefix as the media player's stand-in, from
# this source tree: the same as `modrik install` of the package (see
# `modrik --help` and modrik.1), run as build/bin/modrik, which is built when
# missing. Whatever is replaced is kept and put back by
#   scripts/uninstall.sh   (the same as: scripts/install.sh --uninstall)
#
# Usage: scripts/install.sh [INSTALL OPTIONS]     (scripts/install.sh --help lists them)
#        scripts/install.sh --uninstall [UNINSTALL OPTIONS]
# The prefix is --prefix PATH, else $WINEPREFIX, by default ~/.wine.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
command=(install)
if [ "${1:-}" = --uninstall ]; then command=(uninstall); shift; fi

modrik="$here/build/bin/modrik"
if [ ! -x "$modrik" ] || [ ! -f "$here/build/win/modrik.exe" ] || [ ! -f "$here/build/win32/modrik.exe" ]; then
  "$here/scripts/deps.sh" >&2
  cmake -S "$here" -B "$here/build" >/dev/null
  cmake --build "$here/build" -j2 --target modrik_host >/dev/null
fi
exec "$modrik" "${command[@]}" "$@"
