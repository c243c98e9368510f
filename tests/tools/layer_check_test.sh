#!/usr/bin/env bash
# tools/layer-check passes this checkout and names each include across the
# floors in a copy of it where one was added.
#
#   tests/tools/layer_check_test.sh
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
failures=0
fail() { echo "FAIL: $*" && failures=$((failures + 1)); }

out=$("$root/tools/layer-check" "$root") || fail "this checkout: $out"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The file that gets the include, the header, and what the check says (or
# "ok" for an include that keeps to the floors).
while IFS='|' read -r file header said; do
    rm -rf "$work/tree" && mkdir "$work/tree"
    (cd "$root" && cp -r text serial programming ui station server cli "$work/tree/")
    printf '#include "%s"\n' "$header" >>"$work/tree/$file"
    out=$("$root/tools/layer-check" "$work/tree")
    rc=$?
    if [ "$said" = ok ]; then
        [ $rc -eq 0 ] || fail "$file + $header: refused: $out"
    else
        [ $rc -eq 1 ] && grep -qF "$file:" <<<"$out" && grep -qF "$said" <<<"$out" ||
            fail "$file + $header: wanted \"$said\", got ($rc): $out"
    fi
done <<'TABLE'
station/station.cpp|station_server.h|includes station_server.h (server/), which station/ may not use
station/station.cpp|main_dialog.h|includes main_dialog.h (ui/), which station/ may not use
ui/main_dialog.cpp|station.h|includes station.h (station/), which ui/ may not use
server/station_json.cpp|serial_port.h|includes serial_port.h (serial/), which server/ may not use
server/station_json.cpp|script_store.h|includes script_store.h (programming/), which server/ may not use
server/station_json.cpp|run_face.h|ok
serial/serial_port.cpp|run_face.h|includes run_face.h (programming/), which serial/ may not use
programming/run_frame.cpp|command_line.h|includes command_line.h (cli/), which programming/ may not use
cli/command_line.cpp|station_server.h|ok
TABLE

[ $failures -eq 0 ] || { echo "$failures check(s) failed" && exit 1; }
echo "tools/layer-check keeps every floor to what it may use"
