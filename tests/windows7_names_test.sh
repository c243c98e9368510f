#!/usr/bin/env bash
# korvan-cli.exe on Windows 7 takes names beyond the system's code page whole:
# the script, the --log and the --trace file, named in Cyrillic and Polish
# letters, which no one ANSI code page holds, reach the file system as given.
#
# The run is in a Wine prefix of its own that says Windows 7 (made from the
# build's template prefix, as the port sets are). Windows 7 knows nothing of
# the manifest's UTF-8 code page, but Wine honours it whatever version it
# plays; so the program runs as a copy whose manifest asks for the code page
# of en-US (1252) instead: its 8-bit calls then work as on a Western Windows
# 7. The port COM1 opens on a cable with nobody at its other end, so the run
# ends after --wait-start 1 with exit status 4, having loaded the script and
# written the trace and the log.
#
#   tests/windows7_names_test.sh BUILD_FOLDER
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
. "$root/tools/wine-env.sh"
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
mismatch=$(wine_build_fits "$build") || { echo "FAIL: $mismatch"; exit 1; }

# The prefix: the template comes with set 0's prefix; then the set "win7".
wine_prepare "$build" null 0 || { echo "FAIL: set 0's prefix in $build could not be set up"; exit 1; }
wine_prepare "$build" null win7 || { echo "FAIL: the Windows 7 prefix could not be set up"; exit 1; }
if [ ! -f "$WINEPREFIX/.korvan-win7" ]; then
    wine winecfg -v win7 </dev/null >/dev/null 2>&1
    touch "$WINEPREFIX/.korvan-win7"
fi
said=$(wine cmd /c ver </dev/null 2>/dev/null | tr -d '\r')
[[ $said == *"Windows 6.1."* ]] || fail "the prefix does not say Windows 7 (6.1): $said"

work=$build/windows7-names
rm -rf "$work"
mkdir -p "$work"
program=$work/korvan-cli.exe
cp "$build/korvan-cli.exe" "$program"
# The same number of bytes, so the resource stays whole.
perl -0777 -pi -e 's{>UTF-8</activeCodePage>}{>en-US</activeCodePage>}' "$program"
[ "$(grep -c '>en-US</activeCodePage>' "$program")" = 1 ] ||
    fail "the copy's manifest does not ask for en-US's code page"

script="Скрипт Łódź.dcs"
log="Журнал Łódź.csv"
trace="След Łódź.bin"
printf '; Korvan test script\r\n' >"$work/$script"
wine_connect_pairs 1-2 || fail "no cable COM1<->COM2 could be laid (socat)"
trap wine_disconnect_pairs EXIT
# Wine reads the Linux command line in the locale's character set: UTF-8.
(cd "$work" && LC_ALL=C.UTF-8 timeout 60 "$KORVAN_WINE_LOADER" korvan-cli.exe --port COM1 \
    --wait-start 1 --log "$log" --trace "$trace" firmware "$script" \
    </dev/null >"$work/out" 2>"$work/err" 8>&- 9>&-)
rc=$?
[ $rc -eq 4 ] || fail "exit status $rc, not 4 (2: the script was not loaded; 1: the log or the trace could not be opened): $(tr -d '\r' <"$work/err")"

# The files by their names, and no other one (a name mangled by a code page).
made=$(cd "$work" && LC_ALL=C.UTF-8 ls -1 | grep -vxE 'korvan-cli\.exe|out|err' | LC_ALL=C sort)
wanted=$(printf '%s\n' "$script" "$log" "$trace" | LC_ALL=C sort)
[ "$made" = "$wanted" ] || fail "the folder holds [$(tr '\n' '|' <<<"$made")], not [$(tr '\n' '|' <<<"$wanted")]"
row=$(tr -d '\r' <"$work/$log" 2>/dev/null | sed -n 2p)
[[ $row == *",COM1,firmware,$script,"*",4,Connected instrument is no Korvan module,"* ]] ||
    fail "the log's row does not name the script and exit status 4: $row"

if [ $failures -ne 0 ]; then
    echo "$failures check(s) failed; the run is in $work"
    exit 1
fi
rm -rf "$work"
echo "on Windows 7, without the UTF-8 code page, korvan-cli.exe opened \"$script\", \"$log\" and \"$trace\" by their names"
