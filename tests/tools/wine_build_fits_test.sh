#!/usr/bin/env bash
# A build folder whose programs this machine is not to run stops tools/wine-run
# at once, with one line naming the mismatch and the fix, before any Wine
# prefix is made: 32-bit programs where Wine's 32-bit loader does not start,
# and a 64-bit build that tools/configure chose for want of 32-bit where
# 32-bit programs start. The machine's loader is played by
# KORVAN_WINE_LOADER, which tools/wine-env.sh takes as given.
#
#   tests/tools/wine_build_fits_test.sh BUILD_FOLDER
set -uo pipefail
# The machines played here choose their toolchains themselves: a toolchain
# asked for by the run that started the tests (a 64-bit build made on
# purpose) is not theirs.
unset KORVAN_TOOLCHAIN
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(cd "$1" && pwd)/build-fits-check
rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# fake_build NAME TOOLCHAIN [no-32bit]: a folder as CMake leaves it, as far
# as the check reads it.
fake_build() {
    mkdir -p "$work/$1"
    printf 'CMAKE_BUILD_TYPE:STRING=Release\nCMAKE_TOOLCHAIN_FILE:UNINITIALIZED=%s\n' \
        "$root/cmake/$2" >"$work/$1/CMakeCache.txt"
    [ "${3:-}" != no-32bit ] || touch "$work/$1/.korvan-no-32bit"
}
fake_build b32 mingw-w64-i686.cmake
fake_build b64-chosen mingw-w64-x86_64.cmake no-32bit
fake_build b64-asked mingw-w64-x86_64.cmake
mkdir -p "$work/other"

wine32=/usr/lib/wine/wine
wine64=/usr/lib/wine/wine64

# stops LOADER FOLDER WORDS...: wine-run stops with exit status 1 and one
# line on standard error that holds every word, and makes no prefix.
stops() {
    local loader=$1 folder=$work/$2 out err rc word
    shift 2
    out=$(KORVAN_WINE_LOADER=$loader timeout 60 "$root/tools/wine-run" "$folder" nothing.exe 2>"$work/err")
    rc=$?
    err=$(cat "$work/err")
    [ $rc -eq 1 ] || fail "wine-run on $folder with $loader ended with $rc, not 1"
    [ -z "$out" ] || fail "wine-run on $folder wrote to standard output: $out"
    [ "$(wc -l <"$work/err")" -eq 1 ] || fail "wine-run on $folder wrote not one line: $err"
    for word in "$@"; do
        [[ $err == *"$word"* ]] || fail "wine-run on $folder does not say \"$word\": $err"
    done
    [ ! -e "$folder/wineprefix" ] || fail "wine-run on $folder made a prefix before it stopped"
}
stops $wine64 b32 "wine-run: $work/b32 holds 32-bit x86 programs" "starts no 32-bit program" \
    "run tools/configure $work/b32"
stops $wine32 b64-chosen "wine-run: $work/b64-chosen holds 64-bit x86 programs" \
    "this machine starts 32-bit ones" "run tools/configure $work/b64-chosen"

# fits LOADER FOLDER: the folder's programs are the ones to run.
fits() {
    local said
    said=$(
        KORVAN_WINE_LOADER=$1
        . "$root/tools/wine-env.sh"
        wine_build_fits "$work/$2"
    ) || fail "$2 is taken for a mismatch with $1: $said"
}
fits $wine32 b32
fits $wine64 b64-chosen
fits $wine64 b64-asked
fits $wine32 b64-asked # a 64-bit build chosen on purpose runs where 32-bit ones do
fits $wine32 other     # not one of our configurations: left to Wine
fits $wine64 other

# tools/configure leaves the mark only on a 64-bit build it chose for want of
# 32-bit, and takes it away when it configures the folder otherwise.
configured=$work/configured
KORVAN_WINE_LOADER=$wine64 "$root/tools/configure" "$configured" >"$work/configure.log" 2>&1 ||
    fail "configure failed: $(tail -3 "$work/configure.log")"
[ "$(KORVAN_WINE_LOADER=$wine64 && . "$root/tools/wine-env.sh" && wine_build_bits "$configured")" = 64 ] ||
    fail "configure made no 64-bit build where no 32-bit program starts"
[ -f "$configured/.korvan-no-32bit" ] || fail "configure left no .korvan-no-32bit beside its 64-bit build"
stops $wine32 configured "wine-run: $configured holds 64-bit x86 programs"
KORVAN_WINE_LOADER=$wine64 KORVAN_TOOLCHAIN=$root/cmake/mingw-w64-x86_64.cmake \
    "$root/tools/configure" "$configured" >"$work/configure.log" 2>&1 || fail "configure failed again"
[ ! -f "$configured/.korvan-no-32bit" ] || fail "configure left .korvan-no-32bit on a 64-bit build asked for"
fits $wine32 configured

if [ $failures -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "wine-run stops on both mismatches with one line; matching folders pass"
