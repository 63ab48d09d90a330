#!/bin/sh
# Runs the Windows serial tests under Wine with real COM ports behind them:
#   run-serialwin.sh PREFIX TEST.exe ZAVSIM LIBPTYMODEM WINE-RUN
# COM5 and COM7 lead to simulated print cables, COM9 and COM12 to nothing (the
# test writes to their far ends itself), COM6 is held by another program.
# The Wine server opens the devices; as root it would pass over another
# program's exclusive hold, so Wine runs without CAP_SYS_ADMIN here. Everything started here is stopped
# here, whatever the outcome.
set -u
prefix=$1 exe=$2 sim=$3 shim=$4 winerun=$5
work=$(mktemp -d /tmp/zavserialwin.XXXXXX)
pids=""
ports="5 6 7 9 12"

cleanup() {
    for p in $pids; do kill "$p" 2>/dev/null; done
    for p in $pids; do wait "$p" 2>/dev/null; done
    for n in $ports; do
        [ -L "$prefix/dosdevices/com$n" ] && rm -f "$prefix/dosdevices/com$n"
    done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

run=""
if [ "$(id -u)" = 0 ] && command -v setpriv >/dev/null; then
    run="setpriv --bounding-set -sys_admin"
    # A server still running from an earlier program keeps its rights.
    WINEPREFIX="$prefix" timeout 60 /usr/lib/wine/wineserver -w 2>/dev/null
fi

# Make the prefix (first use only) before linking ports into it.
$run "$winerun" "$prefix" "$exe" --gtest_list_tests >/dev/null 2>&1

for n in $ports; do
    socat "pty,raw,echo=0,link=$work/com$n" "pty,raw,echo=0,link=$work/far$n" &
    pids="$pids $!"
done
tries=0
for n in $ports; do
    while [ ! -e "$work/com$n" ] || [ ! -e "$work/far$n" ]; do
        tries=$((tries + 1))
        if [ $tries -gt 100 ]; then
            echo "socat did not make its ptys" >&2
            exit 1
        fi
        sleep 0.05
    done
    ln -sfn "$work/com$n" "$prefix/dosdevices/com$n"
done

echo normal >"$work/mode5"
echo normal >"$work/mode7"
"$sim" --port "$work/far5" --mode-file "$work/mode5" --model "-ZP1000A" &
pids="$pids $!"
"$sim" --port "$work/far7" --mode-file "$work/mode7" --model "-ZP2000B" &
pids="$pids $!"
"$sim" --port "$work/com6" --exclusive --mode silent &
pids="$pids $!"

windir="Z:$(printf '%s' "$work" | tr / '\\')\\"
ZAV_SERIAL_DIR="$windir" LD_PRELOAD="$shim" $run "$winerun" "$prefix" "$exe" --gtest_brief=1
rc=$?
exit $rc
