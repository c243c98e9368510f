#!/usr/bin/env bash
# tools/windows7-check, which the package runs on its programs: fed listings
# as objdump -p writes them, it passes a program whose header says 6.1 and
# whose imports Windows 7 has, and names each fault of one that does not.
# Last, the build's own programs pass it.
#
#   tests/windows7_check_test.sh BUILD_FOLDER
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$1
check=$root/tools/windows7-check
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# listing OS SUBSYSTEM [DLL:FUNCTION...]: objdump -p's text of a program
# with those header versions ("6.1") and imports.
listing() {
    local os=$1 subsystem=$2 import dll=""
    shift 2
    printf 'Magic\t\t\t010b\t(PE32)\nMajorOSystemVersion\t%s\nMinorOSystemVersion\t%s\n' \
        "${os%.*}" "${os#*.}"
    printf 'MajorImageVersion\t0\nMinorImageVersion\t0\n'
    printf 'MajorSubsystemVersion\t%s\nMinorSubsystemVersion\t%s\n' "${subsystem%.*}" "${subsystem#*.}"
    printf '\nThe Import Tables (interpreted .idata section contents)\n'
    printf ' vma:            Hint    Time      Forward  DLL       First\n'
    printf ' 000e2000\t000e20b4 00000000 00000000 000e30a0 000e2358\n\n'
    for import in "$@"; do
        if [ "${import%%:*}" != "$dll" ]; then
            dll=${import%%:*}
            printf '\tDLL Name: %s\n\tvma:  Hint/Ord Member-Name Bound-To\n' "$dll"
        fi
        printf '\te25fc\t 1569  %s\n' "${import#*:}"
    done
    printf '\n 000e2028\t000e20d8 00000000 00000000 000e30d4 000e237c\n\n'
    printf 'PE File Base Relocations (interpreted .reloc section contents)\n'
    printf '\nVirtual Address: 00001000 Chunk size 16 (0xc) Number of fixups 4\n'
}

plain=(KERNEL32.dll:CreateFileW KERNEL32.dll:GetTickCount64 KERNEL32.dll:CancelIoEx
    bcrypt.dll:BCryptHashData USER32.dll:DialogBoxParamA msvcrt.dll:fopen)

# A case a line: the header's versions, the imports added to the plain ones,
# and what the check says: "ok" or the text of its fault line.
while IFS='|' read -r os subsystem added said; do
    # shellcheck disable=SC2086 # the imports are words
    out=$(listing "$os" "$subsystem" "${plain[@]}" $added | "$check" --listing demo.exe)
    rc=$?
    if [ "$said" = ok ]; then
        [ $rc -eq 0 ] && [ "$out" = "demo.exe: Windows 7 (6.1), $((${#plain[@]} + $(wc -w <<<"$added"))) imports" ] ||
            fail "$os/$subsystem +[$added]: refused ($rc): $out"
    else
        [ $rc -eq 1 ] && grep -qxF "demo.exe: $said" <<<"$out" ||
            fail "$os/$subsystem +[$added]: wanted \"$said\", got ($rc): $out"
    fi
done <<'EOF'
6.1|6.1||ok
6.1|6.1|ADVAPI32.dll:RegOpenKeyExA KERNEL32.dll:GetSystemTimeAsFileTime|ok
4.0|6.1||its header says MajorOSystemVersion 4, not 6 (Windows 7 is 6.1)
6.0|6.1||its header says MinorOSystemVersion 0, not 1 (Windows 7 is 6.1)
6.1|5.2||its header says MajorSubsystemVersion 5, not 6 (Windows 7 is 6.1)
6.1|6.2||its header says MinorSubsystemVersion 2, not 1 (Windows 7 is 6.1)
6.1|6.1|KERNEL32.dll:GetSystemTimePreciseAsFileTime|imports GetSystemTimePreciseAsFileTime (KERNEL32.dll), which Windows 7 does not export
6.1|6.1|KERNEL32.dll:SetThreadDescription|imports SetThreadDescription (KERNEL32.dll), which Windows 7 does not export
6.1|6.1|api-ms-win-core-synch-l1-2-0.dll:WaitOnAddress|imports api-ms-win-core-synch-l1-2-0.dll, which Windows 7 does not have
6.1|6.1|libwinpthread-1.dll:pthread_create|imports libwinpthread-1.dll, which Windows 7 does not have
EOF

# Two faults at once are both named.
out=$(listing 5.2 5.2 "${plain[@]}" KERNEL32.dll:CreateFile2 | "$check" --listing two.exe)
[ "$(grep -c '^two.exe: ' <<<"$out")" -eq 5 ] || fail "a 5.2 program importing CreateFile2: not 5 faults: $out"
# A text that is no listing of a program is refused, not passed.
out=$(echo "objdump: demo.exe: file format not recognized" | "$check" --listing none.exe)
[ $? -eq 1 ] || fail "a text without header or imports passed: $out"

# The build's programs, as the package checks them.
out=$("$check" "$build/KORVAN_Setup.exe" "$build/korvan-cli.exe") ||
    fail "the build's programs: $out"

if [ $failures -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "tools/windows7-check passes 6.1 programs with Windows 7's imports and names every fault"
