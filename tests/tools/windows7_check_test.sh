#!/usr/bin/env bash
# tools/windows7-check, fed listings as objdump -p writes them: it passes a
# 6.1 header with Windows 7's imports and names each fault of any other; the
# build's own programs pass it.
#
#   tests/tools/windows7_check_test.sh BUILD_FOLDER
set -uo pipefail
check=$(dirname "$0")/../../tools/windows7-check
failures=0
fail() { echo "FAIL: $*" && failures=$((failures + 1)); }

# listing OS SUBSYSTEM DLL:FUNCTION...: objdump -p's text of such a program.
listing() {
    local import dll=""
    printf 'Major%sVersion\t%s\nMinor%sVersion\t%s\n' OSystem "${1%.*}" OSystem "${1#*.}" \
        Subsystem "${2%.*}" Subsystem "${2#*.}"
    printf '\nThe Import Tables (interpreted .idata section contents)\n 000e2000\t000e20b4 00000000\n\n'
    for import in "${@:3}"; do
        [ "${import%%:*}" = "$dll" ] || printf '\tDLL Name: %s\n\tvma:  Hint/Ord Member-Name\n' "${import%%:*}"
        dll=${import%%:*}
        printf '\te25fc\t 1569  %s\n' "${import#*:}"
    done
    printf '\nPE File Base Relocations (interpreted .reloc section contents)\n'
}
plain="KERNEL32.dll:CreateFileW KERNEL32.dll:GetTickCount64 bcrypt.dll:BCryptHashData USER32.dll:DialogBoxParamA"

# The header's versions, the imports beside the plain ones, the check's line
# (by the check's list alone, which is quick; the headers' probe below).
export WINDOWS7_CHECK_HEADERS=no
while IFS='|' read -r os subsystem added said; do
    # shellcheck disable=SC2086 # the imports are words
    out=$(listing "$os" "$subsystem" $plain $added | "$check" --listing demo.exe)
    rc=$?
    [ "$said" = ok ] && said="Windows 7 (6.1), $(wc -w <<<"$plain $added") imports"
    [ $rc -eq $([[ $said == Windows* ]] && echo 0 || echo 1) ] && grep -qxF "demo.exe: $said" <<<"$out" ||
        fail "$os/$subsystem +[$added]: wanted \"$said\", got ($rc): $out"
done <<'EOF'
6.1|6.1||ok
4.0|6.1||its header says MajorOSystemVersion 4, not 6 (Windows 7 is 6.1)
6.0|6.1||its header says MinorOSystemVersion 0, not 1 (Windows 7 is 6.1)
6.1|5.2||its header says MajorSubsystemVersion 5, not 6 (Windows 7 is 6.1)
6.1|6.2||its header says MinorSubsystemVersion 2, not 1 (Windows 7 is 6.1)
6.1|6.1|KERNEL32.dll:GetSystemTimePreciseAsFileTime|imports GetSystemTimePreciseAsFileTime (KERNEL32.dll), which Windows 7 does not export
6.1|6.1|api-ms-win-core-synch-l1-2-0.dll:WaitOnAddress|imports api-ms-win-core-synch-l1-2-0.dll, which Windows 7 does not have
EOF
# Faults add up; a listing whose imports cannot be read does not pass.
# shellcheck disable=SC2086
out=$(listing 5.2 5.2 $plain KERNEL32.dll:CreateFile2 | "$check" --listing two.exe)
[ "$(grep -c '^two.exe: ' <<<"$out")" -eq 5 ] || fail "5.2 and CreateFile2: not 5 faults: $out"
out=$(listing 6.1 6.1 | "$check" --listing none.exe) && fail "a listing without imports passed: $out"

# Programs of both processors, built here, are read by the objdump that
# reads them and held to the same rules; a file that is no such program
# fails with its own line.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo 'int main(void) { return 0; }' >"$work/tiny.c"
windows7=-Wl,--major-os-version,6,--minor-os-version,1,--major-subsystem-version,6,--minor-subsystem-version,1
while IFS='|' read -r processor flags said; do
    program=$work/$processor$([ -n "$flags" ] && echo -7).exe
    # shellcheck disable=SC2086 # the flags are words
    "$processor-w64-mingw32-gcc" -s $flags -o "$program" "$work/tiny.c" || { fail "$processor: no program built"; continue; }
    out=$("$check" "$program")
    rc=$?
    [ $rc -eq $([[ $said == imports* ]] && echo 0 || echo 1) ] && grep -q -- "$said" <<<"$out" ||
        fail "$processor [$flags]: wanted \"$said\", got ($rc): $out"
done <<EOF
i686|$windows7|imports, read as 32-bit x86$
x86_64|$windows7|imports, read as 64-bit x86$
x86_64||its header says MajorSubsystemVersion 5, not 6
EOF
# The build's programs pass; a function that Windows 7 lacks and the
# check's list does not name is found by the Windows headers' version guards
# (one probe of the headers for all three programs).
unset WINDOWS7_CHECK_HEADERS
grep -qw AddScopedPolicyIDAce "$check" && fail "AddScopedPolicyIDAce is on the check's own list"
printf '#define _WIN32_WINNT 0x0602\n#include <windows.h>\nint main(void) { return AddScopedPolicyIDAce(0, 0, 0, 0, 0); }\n' >"$work/win8.c"
# shellcheck disable=SC2086 # the flags are words
i686-w64-mingw32-gcc -s $windows7 -o "$work/win8.exe" "$work/win8.c" || fail "win8: no program built"
out=$("$check" "$1/KORVAN_Setup.exe" "$1/korvan-cli.exe" "$work/win8.exe") &&
    fail "a program importing AddScopedPolicyIDAce passed: $out"
[ "$(grep -c ': Windows 7 (6.1), ' <<<"$out")" -eq 2 ] || fail "the build's programs: $out"
grep -qx "win8.exe: imports AddScopedPolicyIDAce (KERNEL32.dll), which the Windows headers declare for Windows 8 or later only" <<<"$out" ||
    fail "AddScopedPolicyIDAce: $out"
echo 'no program' >"$work/text.exe"
out=$("$check" "$work/text.exe") && fail "a text file passed: $out"
grep -qx "text.exe: objdump cannot read it: not a Windows program for 32-bit or 64-bit x86" <<<"$out" ||
    fail "a text file: $out"

[ $failures -eq 0 ] || { echo "$failures check(s) failed" && exit 1; }
echo "tools/windows7-check passes 6.1 programs with Windows 7's imports and names every fault"
