# Shell pieces shared by the tests that drive Windows programs under Wine
# on a COM port: sourced after `prefix` and `work` are set.

# As root, Wine runs without the right to change the system's settings.
run=""
if [ "$(id -u)" = 0 ] && command -v setpriv >/dev/null; then
    run="setpriv --bounding-set -sys_admin"
fi

stop_pid() {
    [ -n "$1" ] || return 0
    kill "$1" 2>/dev/null
    wait "$1" 2>/dev/null
}

winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

# A fresh pty pair: COM5 of the prefix on one end ($work/com5), the
# instrument's end at $work/far5; socat's process id in socatpid.
pty_pair() {
    stop_pid "$socatpid"
    rm -f "$work/com5" "$work/far5"
    socat "pty,raw,echo=0,link=$work/com5" "pty,raw,echo=0,link=$work/far5" &
    socatpid=$!
    n=0
    while [ ! -e "$work/com5" ] || [ ! -e "$work/far5" ]; do
        n=$((n + 1))
        [ $n -gt 100 ] && { echo "socat made no ptys" >&2; exit 1; }
        sleep 0.05
    done
    ln -sfn "$work/com5" "$prefix/dosdevices/com5"
}
