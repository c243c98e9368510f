#!/usr/bin/env bash
# korvan-cli.exe on Windows 7 opens a script, a log and a trace named in
# letters that no one ANSI code page holds by their names, and its server
# gives that log as /log.csv. The prefix says
# Windows 7 (a set of the build's, made from its template). Windows 7 ignores
# the manifest's UTF-8 code page but Wine honours it, so a copy of the program
# whose manifest asks for en-US's code page (1252) plays it. COM1 is a cable
# with nobody at its other end: the run ends after --wait-start 1 with exit
# status 4, the script loaded, the trace and the log written.
#
#   tests/cli/windows7_names_test.sh BUILD_FOLDER
set -uo pipefail
build=$(cd "$1" && pwd)
. "$(dirname "$0")/../../tools/wine-env.sh"
failures=0
fail() { echo "FAIL: $*" && failures=$((failures + 1)); }
mismatch=$(wine_build_fits "$build") || { echo "FAIL: $mismatch" && exit 1; }

wine_prepare "$build" null 0 && wine_prepare "$build" null win7 || { echo "FAIL: no prefix" && exit 1; }
if [ ! -f "$WINEPREFIX/.korvan-win7" ]; then
    wine winecfg -v win7 </dev/null >/dev/null 2>&1 && touch "$WINEPREFIX/.korvan-win7"
fi
said=$(wine cmd /c ver </dev/null 2>/dev/null | tr -d '\r')
[[ $said == *"Windows 6.1."* ]] || fail "the prefix does not say Windows 7 (6.1): $said"

work=$build/windows7-names
rm -rf "$work" && mkdir -p "$work"
cp "$build/korvan-cli.exe" "$work/"
perl -0777 -pi -e 's{>UTF-8</activeCodePage>}{>en-US</activeCodePage>}' "$work/korvan-cli.exe"
grep -q '>en-US</activeCodePage>' "$work/korvan-cli.exe" || fail "the copy's manifest still asks for UTF-8"
script="Скрипт Łódź.dcs" log="Журнал Łódź.csv" trace="След Łódź.bin"
printf '; Korvan test script\r\n' >"$work/$script"
wine_connect_pairs 1-2 || fail "no cable COM1<->COM2 could be laid (socat)"
trap wine_disconnect_pairs EXIT
# Wine reads the Linux command line in the locale's character set.
(cd "$work" && LC_ALL=C.UTF-8 timeout 60 "$KORVAN_WINE_LOADER" korvan-cli.exe --port COM1 \
    --wait-start 1 --log "$log" --trace "$trace" firmware "$script" </dev/null >out 2>err 8>&- 9>&-)
rc=$?
[ $rc -eq 4 ] || fail "exit status $rc, not 4: $(tr -d '\r' <"$work/err")"
# The files by their names, and none by a name that a code page mangled.
made=$(cd "$work" && LC_ALL=C.UTF-8 ls -1 | grep -vxE 'korvan-cli\.exe|out|err' | LC_ALL=C sort)
[ "$made" = "$(printf '%s\n' "$script" "$log" "$trace" | LC_ALL=C sort)" ] ||
    fail "the folder holds: $(tr '\n' '|' <<<"$made")"
row=$({ tr -d '\r' <"$work/$log"; } 2>/dev/null | sed -n 2p)
[[ $row == *",COM1,firmware,$script,"*",4,Connected instrument is no Korvan module,"* ]] ||
    fail "the log's row does not name the script and exit status 4: $row"

# A served station on that log gives it, byte for byte, as /log.csv.
served=$build/windows7-served.err
(cd "$work" && LC_ALL=C.UTF-8 timeout 60 "$KORVAN_WINE_LOADER" korvan-cli.exe --port COM1 --repeat \
    --serve 0 --log "$log" firmware "$script" </dev/null >/dev/null 2>"$served" 8>&- 9>&-) &
station=$!
port=""
for ((k = 0; k < 300 && ${#port} == 0; ++k)); do
    sleep 0.1
    port=$(tr -d '\r' <"$served" | sed -n 's|^korvan-cli: serving http://127.0.0.1:\([0-9]*\)/$|\1|p')
done
python3 - "$port" "$work/$log" <<'EOF' || fail "the served log; the station said: $(tr -d '\r' <"$served")"
import sys, urllib.request
port, name = sys.argv[1], sys.argv[2]
base = "http://127.0.0.1:" + port
try:
    body = urllib.request.urlopen(base + "/log.csv", timeout=20).read()
finally:
    stop = urllib.request.Request(base + "/api/stop", data=b"{}", method="POST",
                                  headers={"Content-Type": "application/json"})
    urllib.request.urlopen(stop, timeout=20)
with open(name, "rb") as log:
    if body != log.read():
        sys.exit("/log.csv is not the log: %d bytes" % len(body))
EOF
wait $station || fail "the served station ended with $?: $(tr -d '\r' <"$served")"
rm -f "$served"

[ $failures -eq 0 ] || { echo "$failures check(s) failed; the run is in $work" && exit 1; }
rm -rf "$work"
echo "on Windows 7, without the UTF-8 code page, korvan-cli.exe opened \"$script\", \"$log\" and \"$trace\""
