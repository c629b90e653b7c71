#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs a Windows program under Wine, and only where it cannot reach this machine's serial
# ports: Wine maps every /dev/ttyS* it finds to a COM port by itself, and /dev/ttyS0 is the
# system console here. So every Wine start goes through this script, which runs Wine only
# inside a private mount namespace in which each /dev/ttyS* is /dev/null (it enters one
# itself when needed, and refuses to go on when any of them is still a real device).
#   scripts/windows-wine.sh PROGRAM.exe ARGS...     a Windows program (ctest's emulator)
#   scripts/windows-wine.sh --server ARGS...        wineserver (e.g. -k to end it)
#   scripts/windows-wine.sh --com1 PATH             maps COM1 to PATH (a pty) from now on
# WINEPREFIX must name a private prefix (the build folder's); it is made on first use, with
# COM1 mapped explicitly to /dev/null until --com1 says otherwise.
set -euo pipefail

covered() {
  local t
  for t in /dev/ttyS*; do
    [ -e "$t" ] || continue
    [ "$(stat -L -c %t:%T "$t")" = "1:3" ] || return 1
  done
}

if ! covered; then
  if [ "${PS_WINE_SANDBOX:-}" = 1 ]; then
    echo "windows-wine.sh: a /dev/ttyS* is still a real device; Wine is not started" >&2
    exit 70
  fi
  exec unshare -m --propagation private env PS_WINE_SANDBOX=1 bash -c '
    for t in /dev/ttyS*; do [ -e "$t" ] && mount --bind /dev/null "$t"; done
    exec "$0" "$@"' "$0" "$@"
fi

: "${WINEPREFIX:?windows-wine.sh: set WINEPREFIX to a private prefix (e.g. build-win/wine)}"
case "$WINEPREFIX" in "$HOME/.wine"|"$HOME/.wine/") echo "windows-wine.sh: not the default prefix" >&2; exit 64 ;; esac
export WINEPREFIX WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
unset DISPLAY WAYLAND_DISPLAY
wine=${PS_WINE:-/usr/lib/wine/wine64}
server=${PS_WINESERVER:-/usr/lib/wine/wineserver}
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)

ports_key='HKLM\Software\Wine\Ports'
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  "$wine" wineboot -i >/dev/null 2>&1 || true
  "$wine" reg add "$ports_key" /v COM1 /d /dev/null /f >/dev/null 2>&1
  "$server" -k 2>/dev/null || true   # the port map is read when the server starts
  "$server" -w 2>/dev/null || true
fi

case "${1:-}" in
  --server) shift; exec "$server" "$@" ;;
  --com1)
    "$wine" reg add "$ports_key" /v COM1 /d "$2" /f >/dev/null 2>&1
    "$server" -k 2>/dev/null || true
    "$server" -w 2>/dev/null || true
    # The next server reads the new map; started here, so its own output goes nowhere.
    "$server" -p 60 >/dev/null 2>&1 || true
    exit 0 ;;
esac
exec "$wine" "$@"
