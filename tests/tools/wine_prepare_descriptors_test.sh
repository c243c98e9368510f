#!/usr/bin/env bash
# wine_prepare leaves nothing of its caller's behind: run while the caller
# holds a lock on a descriptor, it starts its persistent wineserver (and
# Wine's services) without that descriptor, so the lock is free as soon as
# the caller closes it, not minutes later when the server ends.
#
#   tests/tools/wine_prepare_descriptors_test.sh BUILD_FOLDER
#
# It uses a prefix of its own, BUILD_FOLDER/descriptor-check, made on the
# first run, and ends that prefix's wineserver before and after.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
. "$root/tools/wine-env.sh"
folder=$(cd "$1" && pwd)/descriptor-check
mkdir -p "$folder"
wine_env "$folder"

end_server() {
    if [ -d "$WINEPREFIX" ]; then
        wineserver -k >/dev/null 2>&1 || true
        timeout 60 wineserver -w >/dev/null 2>&1 || true
    fi
}
end_server # wine_prepare must start the server itself
trap end_server EXIT

lock=$folder/.caller-lock
exec 5>"$lock"
flock -w 10 5
wine_prepare "$folder" null || { echo "FAIL: wine_prepare could not set up $WINEPREFIX"; exit 1; }
exec 5>&-

if ! flock -n "$lock" true; then
    echo "FAIL: the caller's lock is still held after wine_prepare returned, by:"
    for pid in $(pgrep -f 'wine' || true); do
        ls -l "/proc/$pid/fd" 2>/dev/null | grep -qF "$lock" && ps -o pid=,args= -p "$pid"
    done
    exit 1
fi
# The check means something only when a persistent server runs now.
server=""
for pid in $(pgrep wineserver || true); do
    { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" &&
        server=$pid
done
[ -n "$server" ] || { echo "FAIL: no wineserver runs for $WINEPREFIX after wine_prepare"; exit 1; }
echo "the lock is free; the wineserver ($server) holds descriptors: $(ls "/proc/$server/fd" | sort -n | tr '\n' ' ')"
