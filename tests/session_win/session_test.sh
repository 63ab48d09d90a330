#!/bin/sh
# Capture sessions of RUDIRAVU.exe under Wine, worked through guidriver:
#   session_test.sh PREFIX WINE-RUN RUDIRAVU.exe guidriver.exe ftd2xx.dll ZAVSIM SHIM NATIVE
#                   ARGRECORDER.exe ZAVPRINT.exe
# COM5 is one end of a socat pty pair; the simulator sits on the other end and
# prints the 3-page example at the full line rate when the trigger file
# appears. NATIVE writes the example and renders capture files natively;
# ARGRECORDER stands in for the registered web browser; ZAVPRINT makes the
# signing key and checks the signed capture.
# The Wine server opens the devices; as root it would pass over another
# program's exclusive hold, so Wine runs without CAP_SYS_ADMIN here. Every
# wait is bounded and everything started here is stopped here.
set -u
prefix=$1 winerun=$2 app=$3 driver=$4 ftd2xx=$5 sim=$6 shim=$7 native=$8 recorder=$9 zavprint=${10}
work=$(mktemp -d /tmp/zavsession.XXXXXX)
out=$work/out
socatpid="" simpid="" holderpid="" apppid=""
status=0
key='HKCU\Software\Tellimar\VOVEzera\Settings'
main="Single file"

. "$(dirname "$0")/../wine/test_lib.sh"
cleanup() {
    stop_pid "$apppid"
    # The prefix is shared with the other tests: the browser command goes
    # back to what it was (a broken one makes View in their runs show a
    # message they do not expect).
    [ -s "$work/http.reg" ] && wine reg import "$(winpath "$work/http.reg")" >/dev/null 2>&1
    # The settings this test set for its captures go again.
    for value in Pdf PdfPaper Text KeepRaw SignKey; do
        wine reg delete "$key" /v "$value" /f >/dev/null 2>&1
    done
    # Let the Wine server end before the ptys go (see tests/dialogs).
    WINEPREFIX="$prefix" timeout 30 /usr/lib/wine/wineserver -k 2>/dev/null
    WINEPREFIX="$prefix" timeout 30 /usr/lib/wine/wineserver -w 2>/dev/null
    stop_pid "$holderpid"
    stop_pid "$simpid"
    stop_pid "$socatpid"
    [ -L "$prefix/dosdevices/com5" ] && rm -f "$prefix/dosdevices/com5"
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

wine() { timeout 60 $run "$winerun" "$prefix" "$@"; }
drive() { timeout 90 $run "$winerun" "$prefix" "$driver" "$@"; }
fail() {
    echo "FAIL: $*" >&2
    status=1
}
images() { grep -o '<img' "$1" 2>/dev/null | wc -l; }

# The line: a fresh pty pair and the simulator behind it. Extra arguments go
# to the simulator.
line_up() {
    stop_pid "$simpid"
    pty_pair
    "$sim" --port "$work/far5" --print "$work/stream.raw" --trigger "$work/print" \
        --mode-file "$work/mode" "$@" &
    simpid=$!
}

start_app() {
    LD_PRELOAD="$shim" $run "$winerun" "$prefix" "$work/RUDIRAVU.exe" &
    apppid=$!
    drive wait "ZAV Print Utility" 60000 waitfor "$main" 60000 >/dev/null ||
        { echo "the main dialog did not appear" >&2; exit 1; }
}
# Waits (at most 20 s) for the program to end by itself.
app_ended() {
    n=0
    while kill -0 "$apppid" 2>/dev/null; do
        n=$((n + 1))
        if [ $n -gt 100 ]; then
            stop_pid "$apppid"
            apppid=""
            return 1
        fi
        sleep 0.2
    done
    wait "$apppid" 2>/dev/null
    apppid=""
}
# Waits (at most 30 s) until Start is available again.
start_available() {
    n=0
    while [ "$(drive waitfor "$main" enabled 1011 | tr -d '\r')" != 1 ]; do
        n=$((n + 1))
        [ $n -gt 60 ] && return 1
        sleep 0.5
    done
}
status_text() { drive waitfor "$main" text 1003 | tr -d '\r'; }

# One session: Start under NAME, the printout, Stop once all of it is in.
record() {
    drive waitfor "$main" settext 1002 "$1" click 1011 expect 1003 "Waiting for printout" \
        >/dev/null || { fail "$1: Start did not wait for the printout"; return 1; }
    sleep 0.5
    touch "$work/print"
    drive waitfor "$main" expect 1003 "Reading ($size)" 30000 click 1012 >/dev/null ||
        fail "$1: not all $size bytes came: $(status_text)"
    start_available || fail "$1: Start stayed unavailable"
}
# The page bitmap of each capture file named, against the native renderer's.
same_bitmaps() {
    rm -rf "$work/ref"
    mkdir "$work/ref"
    for f in "$@"; do cp "$out/$f.cpt" "$work/ref/"; done
    (cd "$work/ref" && "$native" render *.cpt) || fail "the native renderer failed"
    for f in "$@"; do
        cmp -s "$out/$f.bmp" "$work/ref/$f.bmp" || fail "$f.bmp differs from the native rendering"
    done
}

mkdir -p "$out"
"$native" stream "$work/stream.raw" || exit 1
"$native" stream "$work/long.raw" 120 || exit 1 # 5 s at the full line rate
"$native" stream "$work/five.raw" 5 || exit 1
"$native" stream "$work/two.raw" 2 || exit 1
size=$(wc -c <"$work/stream.raw")
sum=$(md5sum <"$work/stream.raw" | cut -d' ' -f1)
echo normal >"$work/mode"
cp "$app" "$ftd2xx" "$work/"
# Another FTDI device first: the record names the serial number of COM5's.
printf 'device 3 0 0 USB Serial Port\nserial FT3OTHER\ndevice 5 0 0 ZAV Print\nserial FT5ZAV01\n' \
    >"$work/ftd2xx.cfg"
ZAV_FTD2XX_CONFIG=$(winpath "$work/ftd2xx.cfg")
export ZAV_FTD2XX_CONFIG

# A server still running from an earlier program keeps its rights.
WINEPREFIX="$prefix" timeout 60 /usr/lib/wine/wineserver -k 2>/dev/null
WINEPREFIX="$prefix" timeout 60 /usr/lib/wine/wineserver -w 2>/dev/null
wine "$driver" sleep 1 || { echo "Wine does not start" >&2; exit 1; }
wine reg add "$key" /v CaptureFolder /d "$(winpath "$out")" /f >/dev/null 2>&1
wine reg add "$key" /v CaptureFilename /d run /f >/dev/null 2>&1
wine reg add "$key" /v SingleFile /d 0 /f >/dev/null 2>&1
wine reg add "$key" /v KeepRaw /t REG_DWORD /d 0 /f >/dev/null 2>&1
wine reg delete "$key" /v Text /f >/dev/null 2>&1 || true
# The settings the command line remembers too: a PDF on Letter paper.
wine reg add "$key" /v Pdf /d 1 /f >/dev/null 2>&1
wine reg add "$key" /v PdfPaper /d letter /f >/dev/null 2>&1
line_up
start_app

echo "== page mode at the full line rate: three pages, bitmaps and report"
record pages
got=$(cat "$out"/pages???.cpt 2>/dev/null | md5sum | cut -d' ' -f1)
[ "$got" = "$sum" ] || fail "the page files do not hold the printout ($got, not $sum)"
[ -f "$out/pages003.cpt" ] && [ ! -e "$out/pages004.cpt" ] || fail "not three page files"
same_bitmaps pages001 pages002 pages003
[ "$(images "$out/pages.html")" = 3 ] || fail "the report does not show three pages"
[ ! -e "$out/pages.tmp" ] || fail "the temporary capture file stayed"
[ "$(status_text)" = "3 pages: pages.html" ] || fail "the status after Stop: $(status_text)"
(cd "$out" && "$native" text pages001.cpt pages002.cpt pages003.cpt) | cmp -s - "$out/pages.txt" ||
    fail "pages.txt does not hold the words of the three pages"
(cd "$out" && sha256sum -c --quiet --strict pages.sha256) || fail "sha256sum -c pages.sha256 failed"
[ "$(cd "$out" && cut -c67- pages.sha256 | tr '\n' ' ')" = \
    "pages.html pages.pdf pages.txt pages001.bmp pages001.cpt pages002.bmp pages002.cpt pages003.bmp pages003.cpt " ] ||
    fail "pages.sha256 does not name the capture's files: $(cat "$out/pages.sha256")"
grep -q '"program": "RUDIRAVU ' "$out/pages.record.json" || fail "the record does not name the program"
grep -q '"cable_serial": "FT5ZAV01"' "$out/pages.record.json" ||
    fail "the record does not name the cable's serial number: $(grep cable_serial "$out/pages.record.json")"
grep -aq '/MediaBox \[0 0 612 792\]' "$out/pages.pdf" 2>/dev/null &&
    [ "$(grep -ao '/Type /Page ' "$out/pages.pdf" | wc -l)" = 3 ] ||
    fail "Pdf and PdfPaper made no PDF of three Letter pages"

echo "== View opens the report with the registered browser command"
cp "$recorder" "$work/browser.exe"
wine reg export 'HKCR\http\shell\open\command' "$(winpath "$work/http.reg")" /y >/dev/null 2>&1
wine reg add 'HKCR\http\shell\open\command' /ve \
    /d "\"$(winpath "$work/browser.exe")\" -new \"%1\" -nohome" /f >/dev/null 2>&1
# Presses View and shows the command line the browser in folder $1 got.
view_args() {
    drive waitfor "$main" click 1015 >/dev/null
    n=0
    while [ ! -s "$1/args.txt" ] && [ $n -lt 100 ]; do
        n=$((n + 1))
        sleep 0.1
    done
    cat "$1/args.txt" 2>/dev/null
}
want="\"$(winpath "$work/browser.exe")\" -new \"$(winpath "$out/pages.html")\""
got=$(view_args "$work")
[ "$got" = "$want" ] || fail "View started: $got, not: $want"

echo "== View: a \"-\" in the browser's folder is no option; a browser that cannot start is told"
mkdir -p "$work/my-browser"
cp "$recorder" "$work/my-browser/browser.exe"
wine reg add 'HKCR\http\shell\open\command' /ve \
    /d "\"$(winpath "$work/my-browser/browser.exe")\"" /f >/dev/null 2>&1
want="\"$(winpath "$work/my-browser/browser.exe")\" \"$(winpath "$out/pages.html")\""
got=$(view_args "$work/my-browser")
[ "$got" = "$want" ] || fail "View started: $got, not: $want"
wine reg add 'HKCR\http\shell\open\command' /ve \
    /d "\"$(winpath "$work/nowhere/browser.exe")\" \"%1\"" /f >/dev/null 2>&1
drive waitfor "$main" click 1015 \
    waitfor "The web browser could not be started to show $(winpath "$out/pages.html")" 20000 \
    click 1 >/dev/null || fail "a browser that cannot start was not told"

echo "== single-file mode: one capture file"
drive waitfor "$main" click 1007 >/dev/null
record single
got=$(md5sum <"$out/single.cpt" | cut -d' ' -f1)
[ "$got" = "$sum" ] || fail "single.cpt does not hold the printout"
[ ! -e "$out/single001.cpt" ] || fail "page files in single-file mode"
same_bitmaps single
[ "$(images "$out/single.html")" = 1 ] || fail "the single-file report does not show one page"

echo "== Start and Stop with no data: nothing is written or changed, in both modes"
echo old >"$out/empty1.cpt"
drive waitfor "$main" settext 1002 empty1 click 1011 \
    waitfor "File $(winpath "$out/empty1.cpt") already exists; overwrite?" 20000 click 6 \
    waitfor "$main" expect 1003 "Waiting for printout" 20000 sleep 300 click 1012 >/dev/null ||
    fail "empty1: no question about the earlier capture file"
start_available || fail "empty1: Start stayed unavailable"
[ "$(cat "$out/empty1.cpt")" = old ] || fail "no data changed the earlier capture file"
[ ! -e "$out/empty1.html" ] || fail "no data made a report in single-file mode"
[ "$(status_text)" = "No data received: nothing written" ] || fail "no data: $(status_text)"
drive waitfor "$main" click 1007 >/dev/null
drive waitfor "$main" settext 1002 empty0 click 1011 expect 1003 "Waiting for printout" \
    sleep 300 click 1012 >/dev/null
start_available || fail "empty0: Start stayed unavailable"
[ -z "$(cd "$out" && ls empty0* 2>/dev/null)" ] || fail "page mode left files: $(cd "$out" && ls empty0*)"

echo "== Yes to the question: a 5-page capture replaced by a 2-page printout leaves its files only"
# Prints STREAM under NAME; the rest are guidriver steps between Start and the printout.
print_as() {
    local stream=$1 name=$2
    shift 2
    line_up --print "$stream"
    drive waitfor "$main" settext 1002 "$name" click 1011 "$@" \
        waitfor "$main" expect 1003 "Waiting for printout" 20000 >/dev/null ||
        { fail "$name: Start did not wait for the printout"; return 1; }
    sleep 0.5
    touch "$work/print"
    drive waitfor "$main" expect 1003 "Reading ($(wc -c <"$stream"))" 30000 click 1012 \
        >/dev/null || fail "$name: not all of $stream came: $(status_text)"
    start_available || fail "$name: Start stayed unavailable"
}
print_as "$work/five.raw" again
[ -f "$out/again005.cpt" ] || fail "the 5-page capture was not made"
print_as "$work/two.raw" again \
    waitfor "File $(winpath "$out/again.html") already exists; overwrite?" 20000 click 6
got=$(cd "$out" && LC_ALL=C ls again* | tr '\n' ' ')
[ "$got" = "again.html again.pdf again.record.json again.sha256 again.txt again001.bmp again001.cpt again002.bmp again002.cpt " ] ||
    fail "after replacing: $got"
[ "$(grep -ao '/Type /Page ' "$out/again.pdf" | wc -l)" = 2 ] || fail "the 5-page PDF stayed"
[ "$(cat "$out"/again00?.cpt | md5sum)" = "$(md5sum <"$work/two.raw")" ] ||
    fail "the new pages do not hold the 2-page printout"
[ "$(status_text)" = "2 pages: again.html" ] || fail "after replacing: $(status_text)"

# Start under NAME, where FILE already lies: the question names FILE, and No
# starts nothing and leaves FILE as it was.
answer_no() {
    echo old >"$out/$2"
    drive waitfor "$main" settext 1002 "$1" click 1011 \
        waitfor "File $(winpath "$out/$2") already exists; overwrite?" 20000 click 7 \
        >/dev/null || fail "$1: no question about $2"
    sleep 0.5
    [ "$(drive waitfor "$main" enabled 1011 | tr -d '\r')" = 1 ] || fail "$1: Start went unavailable"
    [ "$(status_text)" != "Waiting for printout" ] || fail "$1: a session started after No"
    [ "$(cat "$out/$2")" = old ] || fail "$1: No changed $2"
}
echo "== an existing report: No starts nothing"
answer_no exists exists.html
[ ! -e "$out/exists.tmp" ] || fail "No made a recording"
echo "== a recording kept from an earlier session: the question names it, No keeps it"
answer_no kept kept.tmp
[ ! -e "$out/kept.html" ] || fail "No made a report"

echo "== a port held by another program"
"$sim" --port "$work/com5" --exclusive --mode silent &
holderpid=$!
sleep 0.5
# The earlier capture of that name, asked about and agreed to be replaced,
# stays byte for byte: nothing was recorded.
before=$(cd "$out" && md5sum pages*)
drive waitfor "$main" settext 1002 pages click 1011 \
    waitfor "File $(winpath "$out/pages.html") already exists; overwrite?" 20000 click 6 \
    waitfor "$main" expect 1003 "Cannot open com port: Com5: *" 20000 \
    >/dev/null || fail "a held port did not give \"Cannot open com port: Com5: REASON\": $(status_text)"
start_available || fail "busy: Start stayed unavailable"
[ "$(cd "$out" && md5sum pages*)" = "$before" ] || fail "a held port changed the earlier capture"
stop_pid "$holderpid"
holderpid=""

echo "== Stop while the printout still flows: Start waits for the session's end"
line_up --print "$work/long.raw"
drive waitfor "$main" settext 1002 long click 1011 expect 1003 "Waiting for printout" \
    >/dev/null || fail "long: Start did not wait"
sleep 0.5
touch "$work/print"
sleep 0.5
during=$(drive waitfor "$main" click 1012 sleep 700 enabled 1011 text 1003 | tr -d '\r' |
    tr '\n' '/')
case "$during" in
"0/Stopping at the end of the printout ("[0-9]*" bytes)/") ;;
*) fail "Stop during the flow: $during" ;;
esac
start_available || fail "long: Start stayed unavailable"
case "$(status_text)" in
*" pages: long.html") ;;
*) fail "the status after the session: $(status_text)" ;;
esac
got=$(cat "$out"/long???.cpt 2>/dev/null | md5sum | cut -d' ' -f1)
[ "$got" = "$(md5sum <"$work/long.raw" | cut -d' ' -f1)" ] ||
    fail "the pages of the long printout do not hold all of it"

echo "== closing the dialog during a capture ends the session"
# The long printout at the full line rate: still flowing when Close comes.
line_up --print "$work/long.raw"
drive waitfor "$main" settext 1002 closed click 1011 expect 1003 "Waiting for printout" \
    >/dev/null || fail "closed: Start did not wait"
sleep 0.5
touch "$work/print"
sleep 1.5
# While Close waits for the session, the dialog still answers and shows why.
closing=$(drive waitfor "$main" click 2 sleep 300 text 1003 | tr -d '\r')
case "$closing" in
"Stopping at the end of the printout ("[0-9]*" bytes)") ;;
*) fail "the dialog did not answer while Close waited: \"$closing\"" ;;
esac
drive waitfor "Thread finished, result 0" 20000 click 1 \
    waitfor "Thank you for using ZAV Print Utility. Have a nice day and goodbye." 20000 \
    click 1 >/dev/null || fail "Close during a capture did not end the thread as told"
app_ended || fail "the program did not end after Close"
got=$(cat "$out"/closed???.cpt 2>/dev/null | wc -c)
[ "$got" -gt 0 ] && cat "$out"/closed???.cpt | cmp -s -n "$got" - "$work/long.raw" ||
    fail "the bytes before Close are not the printout's first $got"

echo "== the cable goes away in the middle of the printout (the setting Text is 0, KeepRaw 1)"
line_up --disconnect-after 6000
echo disconnect >"$work/mode"
wine reg add "$key" /v Text /t REG_DWORD /d 0 /f >/dev/null 2>&1
wine reg add "$key" /v KeepRaw /t REG_DWORD /d 1 /f >/dev/null 2>&1
start_app
drive waitfor "$main" settext 1002 cut click 1011 expect 1003 "Waiting for printout" \
    >/dev/null || fail "cut: Start did not wait"
sleep 0.5
touch "$work/print"
# The simulator hangs up after 6000 bytes; the cable itself goes with the pty
# pair (socat keeps COM5 up for as long as it runs).
drive waitfor "$main" expect 1003 "Reading (6000)" 30000 >/dev/null || fail "cut: no data came"
stop_pid "$socatpid"
socatpid=""
drive waitfor "$main" expect 1003 "Cannot read data from queue" 30000 >/dev/null ||
    fail "a pulled cable did not give \"Cannot read data from queue\": $(status_text)"
start_available || fail "cut: Start stayed unavailable"
got=$(cat "$out"/cut???.cpt 2>/dev/null | md5sum | cut -d' ' -f1)
want=$(head -c 6000 "$work/stream.raw" | md5sum | cut -d' ' -f1)
[ "$got" = "$want" ] || fail "the 6000 bytes before the cut are not all in the page files"
[ ! -e "$out/cut.txt" ] || fail "cut.txt was written although the setting Text is 0"
head -c 6000 "$work/stream.raw" | cmp -s - "$out/cut.raw" || fail "cut.raw does not hold the 6000 bytes"
(cd "$out" && sha256sum -c --quiet --strict cut.sha256) || fail "sha256sum -c cut.sha256 failed"
grep -q '"cut.raw"' "$out/cut.record.json" || fail "the record does not list cut.raw"
wine reg delete "$key" /v Text /f >/dev/null 2>&1
wine reg add "$key" /v KeepRaw /t REG_DWORD /d 0 /f >/dev/null 2>&1
drive waitfor "$main" click 2 waitfor "Thank you for using ZAV Print Utility. Have a nice day and goodbye." \
    20000 click 1 >/dev/null
app_ended || fail "the program did not end after Close"

echo "== the setting SignKey: a key that cannot be read starts nothing; a key signs the capture"
signed=$work/signed
mkdir -p "$signed"
labkey=$(winpath "$work/lab.key")
wine reg add "$key" /v CaptureFolder /d "$(winpath "$signed")" /f >/dev/null 2>&1
wine reg add "$key" /v SignKey /d "$labkey" /f >/dev/null 2>&1
echo normal >"$work/mode"
line_up
start_app
drive waitfor "$main" settext 1002 signed click 1011 \
    expect 1003 "Capture not started: signing key $labkey: cannot read the key file" 20000 \
    >/dev/null || fail "a missing key did not refuse the capture: $(status_text)"
[ "$(drive waitfor "$main" enabled 1011 | tr -d '\r')" = 1 ] || fail "a missing key left Start unavailable"
[ -z "$(ls "$signed")" ] || fail "a missing key left files: $(ls "$signed")"
wine "$zavprint" keygen "$labkey" >/dev/null 2>&1 || fail "zavprint keygen made no key"
record signed
(cd "$signed" && sha256sum -c --quiet --strict signed.sha256) || fail "sha256sum -c signed.sha256 failed"
wine "$zavprint" verify --key "$labkey.pub" "$(winpath "$signed")" >"$work/verify.txt" 2>&1 ||
    fail "verify --key does not pass the signed capture: $(cat "$work/verify.txt")"
drive waitfor "$main" click 2 waitfor "Thank you for using ZAV Print Utility. Have a nice day and goodbye." \
    20000 click 1 >/dev/null
app_ended || fail "the program did not end after Close"

[ $status = 0 ] && echo "all session checks passed"
exit $status
