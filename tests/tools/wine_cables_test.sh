#!/usr/bin/env bash
# The harness's cables and prefixes: a second wine_connect_pairs adds its
# cables to the first one's, and a prefix whose COM ports lead into another
# folder (a build folder copied or moved) is known as such. No Wine runs.
#
#   tests/tools/wine_cables_test.sh SCRATCH_FOLDER
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
. "$root/tools/wine-env.sh"
scratch=$(mkdir -p "$1" && cd "$1" && pwd)/cables-check
rm -rf "$scratch"
mkdir -p "$scratch/ports"
KORVAN_PORTS=$scratch/ports
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
trap wine_disconnect_pairs EXIT

wine_connect_pairs 1-2 || fail "the first cable could not be laid"
wine_connect_pairs 3-4 || fail "the second cable could not be laid"
for n in 1 2 3 4; do
    [ -e "$KORVAN_PORTS/com$n" ] || fail "COM$n has no cable after the second call"
done
# Bytes go through the first cable still.
exec 5<>"$KORVAN_PORTS/com2"
stty -F "$KORVAN_PORTS/com2" raw -echo
printf 'ping' >"$KORVAN_PORTS/com1"
got=$(timeout 5 head -c 4 <&5 || true)
exec 5>&-
[ "$got" = ping ] || fail "COM1 -> COM2 carried \"$got\""
wine_disconnect_pairs

mkdir -p "$scratch/prefix"
printf '[Software\\\\Wine\\\\Ports]\n"COM1"="%s/old/ports/com1"\n' "$scratch" >"$scratch/prefix/system.reg"
wine_leads_into "$scratch/prefix" "$scratch/old/ports" ||
    fail "a prefix is not known to lead into its own folder"
if wine_leads_into "$scratch/prefix" "$scratch/new/ports"; then
    fail "a prefix that leads into another folder is taken as this one's"
fi
rm -rf "$scratch"
[ "$failures" = 0 ] && echo "cables and prefixes: as they should be"
exit "$failures"
