#!/bin/sh
# Runs one Windows program under Wine with the build folder's private prefix:
#   wine-run.sh PREFIX PROGRAM.exe [ARGS...]
# The prefix is made on first use (wineboot), under a lock so parallel tests wait.
set -e
prefix=$1
shift
export WINEPREFIX="$prefix" WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winedbg.exe=d}"
WINE=${ZAV_WINE:-/usr/lib/wine/wine64}
mkdir -p "$prefix"
(
    flock 9
    if [ ! -f "$prefix/.zav-ready" ]; then
        "$WINE" wineboot -i >/dev/null 2>&1 || true
        # A crashing test program must end, not wait in an automatic debugger.
        "$WINE" reg delete 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
            /v Debugger /f >/dev/null 2>&1 || true
        /usr/lib/wine/wineserver -w 2>/dev/null || true
        touch "$prefix/.zav-ready"
    fi
) 9>"$prefix.lock"
exec "$WINE" "$@"
