#!/bin/sh
# zavprint.exe under Wine:
#   zavprint_win_test.sh PREFIX WINE-RUN zavprint.exe ZAVSIM SHIM NATIVE
# Render and finish write into folders with spaces and letters of other
# scripts, by drive letter and on a network share (Wine leads
# \\localhost\lab to the folder that dosdevices/unc/localhost/lab links
# to); the page bitmaps must equal the native renderer's (NATIVE). Then
# capture --watch on COM5, one end of a socat pty pair with the simulator
# behind the other: three printouts with pauses become three whole captures
# in index.html; a pulled cable (socat ended), Ctrl+C (SIGINT, which Wine
# hands to the program as a console Ctrl+C event) and taskkill without /F
# each finish what came.
# Every wait is bounded and everything started here is stopped here.
set -u
prefix=$1 winerun=$2 exe=$3 sim=$4 shim=$5 native=$6
work=$(mktemp -d /tmp/zavprintwin.XXXXXX)
socatpid="" simpid="" watchpid=""
status=0
share="$prefix/dosdevices/unc/localhost"

. "$(dirname "$0")/../wine/test_lib.sh"
cleanup() {
    stop_pid "$watchpid"
    WINEPREFIX="$prefix" timeout 30 /usr/lib/wine/wineserver -k 2>/dev/null
    WINEPREFIX="$prefix" timeout 30 /usr/lib/wine/wineserver -w 2>/dev/null
    stop_pid "$simpid"
    stop_pid "$socatpid"
    [ -L "$prefix/dosdevices/com5" ] && rm -f "$prefix/dosdevices/com5"
    [ -L "$share/lab" ] && rm -f "$share/lab"
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

fail() {
    echo "FAIL: $*" >&2
    status=1
}
# zavprint.exe in the work folder; its line ends without the carriage return.
zavprint() {
    (cd "$work" && timeout 120 $run "$winerun" "$prefix" "$work/zavprint.exe" "$@") >"$work/said"
    rc=$?
    tr -d '\r' <"$work/said"
    return $rc
}
sum() { md5sum | cut -d' ' -f1; }

cp "$exe" "$work/zavprint.exe"
"$native" stream "$work/two.raw" 2 && "$native" stream "$work/three.raw" 3 &&
    "$native" stream "$work/four.raw" 4 && "$native" stream "$work/long.raw" 120 || exit 1
WINEPREFIX="$prefix" timeout 60 /usr/lib/wine/wineserver -k 2>/dev/null
WINEPREFIX="$prefix" timeout 60 /usr/lib/wine/wineserver -w 2>/dev/null
zavprint --version >/dev/null || { echo "Wine does not start" >&2; exit 1; }
mkdir -p "$share" "$work/share"
ln -sfn "$work/share" "$share/lab"

echo "== render: a file and a folder named in Greek and German, with a space"
greek="Μετρήσεις Prüfung"
mkdir -p "$work/$greek"
cp "$work/three.raw" "$work/$greek/Lauf ä.cpt"
out=$(zavprint render "$greek\\Lauf ä.cpt")
[ "$out" = "$greek\\Lauf ä.cpt: wrote $greek\\Lauf ä.bmp" ] || fail "render said: $out"
mkdir -p "$work/ref" && cp "$work/three.raw" "$work/ref/three.cpt"
(cd "$work/ref" && "$native" render three.cpt) || fail "the native renderer failed"
cmp -s "$work/$greek/Lauf ä.bmp" "$work/ref/three.bmp" || fail "the bitmap differs from the native one"

echo "== finish: into a new folder on a network share and by drive letter, with a PDF"
for folder in '\\localhost\lab\Ölmessung 7' "$(winpath "$work/Μετρήσεις")"; do
    zavprint finish "$(winpath "$work/four.raw")" --name "Lauf ñ" --folder "$folder" --pdf \
        >"$work/finish.out" || fail "finish into $folder failed: $(cat "$work/finish.out")"
    case $folder in
    \\\\*) dir="$work/share/Ölmessung 7" ;;
    *) dir="$work/Μετρήσεις" ;;
    esac
    got=$(cat "$dir/Lauf ñ"???.cpt 2>/dev/null | sum)
    [ "$got" = "$(sum <"$work/four.raw")" ] || fail "$folder: the page files do not hold the printout"
    [ -s "$dir/Lauf ñ.pdf" ] && [ "$(grep -c '<img' "$dir/Lauf ñ.html")" = 4 ] ||
        fail "$folder: no PDF or not four pages in the report"
    grep -qF "report: $folder\\Lauf ñ.html" "$work/finish.out" ||
        fail "$folder: the report's name is not said as given: $(cat "$work/finish.out")"
done

echo "== a path longer than the program takes is refused, naming the limit"
long=$(printf 'x%.0s' $(seq 1 1100))
zavprint finish "$(winpath "$work/four.raw")" --name run --folder "C:\\$long" 2>"$work/long.err"
rc=$?
[ $rc = 2 ] && grep -q "at most 1015 bytes" "$work/long.err" || fail "a long folder gave $rc: $(cat "$work/long.err")"
[ ! -e "$prefix/drive_c/$long" ] || fail "a folder was made for the long path"

# The line: a fresh pty pair, COM5, and the simulator behind it.
line_up() {
    stop_pid "$simpid"
    pty_pair
    "$sim" --port "$work/far5" --trigger "$work/print" "$@" &
    simpid=$!
}
# Waits (at most $2 s) until the watch's log holds $1 $3 times (default once).
logged() {
    n=0
    while [ "$(grep -cF "$1" "$work/watch.log")" -lt "${3:-1}" ]; do
        n=$((n + 1))
        [ $n -gt $(($2 * 10)) ] && return 1
        sleep 0.1
    done
}
# The watch on COM5 into a folder of the share, its log in watch.log.
start_watch() {
    (cd "$work" && LD_PRELOAD="$shim" exec $run "$winerun" "$prefix" "$work/zavprint.exe" \
        capture --watch --port COM5 --folder '\\localhost\lab\Μετρήσεις Watch' --name lab \
        --idle-stop 1 </dev/null >/dev/null 2>"$work/watch.log") &
    watchpid=$!
}
# Waits (at most 30 s) for the watch to end by itself; its exit status.
watch_ended() {
    n=0
    while kill -0 "$watchpid" 2>/dev/null && [ $n -lt 300 ]; do
        n=$((n + 1))
        sleep 0.1
    done
    wait "$watchpid"
    ended=$?
    watchpid=""
    return $ended
}
# Each capture's page files joined, one sum a line, sorted.
capture_sums() {
    for html in "$1"/lab-*.html; do
        cat "${html%.html}"???.cpt | sum
    done | sort
}

echo "== capture --watch on COM5: three printouts with pauses, each whole"
watchdir="$work/share/Μετρήσεις Watch"
printf '%s\n' "$work/two.raw" "$work/three.raw" "$work/four.raw" >"$work/playlist"
line_up --playlist "$work/playlist" --gap 2500
start_watch
logged "cable found: COM5" 60 || fail "the watch did not open COM5: $(cat "$work/watch.log")"
touch "$work/print"
logged "saved lab-" 60 3 || fail "not three printouts saved: $(cat "$work/watch.log")"
want=$(for f in two three four; do sum <"$work/$f.raw"; done | sort)
[ "$(capture_sums "$watchdir")" = "$want" ] || fail "the captures do not hold the three printouts"
[ "$(grep -c 'data-name=' "$watchdir/index.html")" = 3 ] || fail "index.html does not list three"

echo "== a pulled cable ends the printout in progress; what came is a capture"
line_up --rate 20000 --print "$work/long.raw"
logged "cable lost: COM5" 30 || fail "the watch did not see the first line go"
logged "cable found: COM5" 30 2 || fail "the watch did not find the new line"
touch "$work/print"
sleep 3
stop_pid "$socatpid"
socatpid=""
logged "cable lost: COM5" 30 2 || fail "the pulled cable was not seen: $(cat "$work/watch.log")"
logged "saved lab-" 60 4 || fail "what came before the cable went was not saved"
newest=$(ls -t "$watchdir"/lab-*.html | head -1)
size=$(cat "${newest%.html}"???.cpt | wc -c)
[ "$size" -gt 20000 ] || fail "only $size bytes were kept of the printout"
[ "$(cat "${newest%.html}"???.cpt | sum)" = "$(head -c "$size" "$work/long.raw" | sum)" ] ||
    fail "the capture is not the start of the printout"

echo "== Ctrl+C during a printout finishes it and ends the watch with status 0"
line_up --rate 20000 --print "$work/long.raw"
logged "cable found: COM5" 30 3 || fail "the watch did not find the line again"
touch "$work/print"
sleep 3
kill -INT "$watchpid"
watch_ended
rc=$?
[ $rc = 0 ] || fail "the watch ended with $rc after Ctrl+C: $(cat "$work/watch.log")"
grep -qF "stopped" "$work/watch.log" || fail "the watch did not say it stopped"
[ "$(grep -c 'saved lab-' "$work/watch.log")" = 5 ] || fail "the printout in progress was not saved"
newest=$(ls -t "$watchdir"/lab-*.html | head -1)
size=$(cat "${newest%.html}"???.cpt | wc -c)
[ "$size" -gt 20000 ] &&
    [ "$(cat "${newest%.html}"???.cpt | sum)" = "$(head -c "$size" "$work/long.raw" | sum)" ] ||
    fail "the capture after Ctrl+C is not the start of the printout ($size bytes)"
ls "$watchdir" | grep -q 'recording.raw' && fail "a recording was left: $(ls "$watchdir")"
[ "$(grep -c 'data-name=' "$watchdir/index.html")" = 5 ] || fail "index.html does not list five"

echo "== taskkill (without /F) finishes the printout in progress and ends the watch"
line_up --rate 20000 --print "$work/long.raw"
start_watch
logged "cable found: COM5" 60 || fail "the watch did not open COM5 again"
touch "$work/print"
sleep 3
timeout 60 $run "$winerun" "$prefix" taskkill /IM zavprint.exe >"$work/taskkill.out" 2>&1 ||
    fail "taskkill failed: $(cat "$work/taskkill.out")"
watch_ended
rc=$?
[ $rc = 0 ] && grep -qF "stopped" "$work/watch.log" && grep -qF "saved lab-" "$work/watch.log" ||
    fail "taskkill did not finish the printout ($rc): $(cat "$work/watch.log")"
[ "$(grep -c 'data-name=' "$watchdir/index.html")" = 6 ] || fail "index.html does not list six"

[ $status = 0 ] && echo "zavprint.exe under Wine: good"
[ $status = 0 ] || { echo "the watch's log:"; cat "$work/watch.log"; }
exit $status
