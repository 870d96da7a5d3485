#!/usr/bin/env bash
# Runs a Windows program under Wine, headless, in the build's own prefix
# (OSTREL_WINE_PREFIX, made on first use with the null display driver), and
# exits with the program's status. Usage: run-wine.sh PROGRAM [ARGS...]
set -euo pipefail

WINE=${WINE:-$(command -v wine64 || echo /usr/lib/wine/wine64)}
if [ ! -x "$WINE" ]; then
  echo "run-wine: wine64 not found (Debian's wine64; scripts/install-deps.sh installs it)" >&2
  exit 1
fi
export WINEPREFIX=${OSTREL_WINE_PREFIX:?run-wine: OSTREL_WINE_PREFIX is not set}
export WINEDEBUG=${WINEDEBUG:--all}
# No downloads of Wine's .NET and HTML engines: nothing here needs them.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
unset DISPLAY WAYLAND_DISPLAY

if [ ! -f "$WINEPREFIX/.ostrel-ready" ]; then
  mkdir -p "$WINEPREFIX"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.ostrel-ready" ]; then
      "$WINE" wineboot -i >/dev/null 2>&1
      "$WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
      "$(dirname "$WINE")/wineserver" -w || true
      touch "$WINEPREFIX/.ostrel-ready"
    fi
  ) 9>"$WINEPREFIX.lock"
fi

exec "$WINE" "$@"
