#!/usr/bin/env bash
# wine_run_program runs a program once more when Wine's loader itself dies
# of SIGSEGV, and says so; a second such crash, or the program's own exit
# status, is passed on as it is.
#
#   tests/tools/wine_loader_crash_test.sh
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
failures=0
fail() { echo "FAIL: $*" && failures=$((failures + 1)); }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A loader that crashes the first CRASHES times, then prints its arguments
# and exits with the status its first argument names.
cat >"$work/loader" <<'LOADER'
#!/usr/bin/env bash
n=$(cat "$KORVAN_TEST_COUNT" 2>/dev/null || echo 0)
echo $((n + 1)) >"$KORVAN_TEST_COUNT"
[ "$n" -lt "$KORVAN_TEST_CRASHES" ] && kill -SEGV $$
echo "ran $*"
exit "$1"
LOADER
chmod +x "$work/loader"

# crashes|exit status asked|status wanted|runs wanted|told of a crash
while IFS='|' read -r crashes status want runs told; do
    rm -f "$work/count"
    out=$(KORVAN_WINE_LOADER=$work/loader KORVAN_TEST_COUNT=$work/count KORVAN_TEST_CRASHES=$crashes \
        bash -c ". '$root/tools/wine-env.sh' && wine_run_program $status x.exe" 2>"$work/err")
    rc=$?
    [ $rc -eq "$want" ] || fail "$crashes crash(es), status $status: exit $rc, not $want"
    [ "$(cat "$work/count")" -eq "$runs" ] || fail "$crashes crash(es): $(cat "$work/count") runs, not $runs"
    [ "$want" -eq 139 ] || [ "$out" = "ran $status x.exe" ] || fail "$crashes crash(es): output \"$out\""
    [ "$(grep -c "Wine's loader crashed (SIGSEGV)" "$work/err")" -eq "$told" ] ||
        fail "$crashes crash(es): stderr: $(cat "$work/err")"
done <<'TABLE'
0|0|0|1|0
0|3|3|1|0
1|0|0|2|1
2|0|139|2|1
TABLE

[ $failures -eq 0 ] || { echo "$failures check(s) failed" && exit 1; }
echo "wine_run_program runs a program again after one crash of Wine's loader, and only then"
