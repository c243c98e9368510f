#!/usr/bin/env bash
# tools/i386-run: inside it, a 32-bit x86 program (Wine's 32-bit loader)
# starts through qemu-i386, even where the kernel would start it itself;
# outside, and after it, nothing of it is registered for the machine.
# Skipped (exit status 77) where qemu-user is not installed or the kernel
# gives a user namespace no binfmt_misc of its own.
#
#   tests/tools/i386_run_test.sh
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
run=$root/tools/i386-run
wine32=/usr/lib/wine/wine
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

[ -x /usr/bin/qemu-i386 ] || { echo "SKIP: qemu-user is not installed"; exit 77; }
if ! why=$(timeout 60 "$run" --probe 2>&1); then
    case $why in
    *"no binfmt_misc of its own"* | *"no private user and mount namespace"*)
        echo "SKIP: $why"
        exit 77
        ;;
    esac
    fail "--probe: $why"
fi
[[ $(timeout 10 "$run" 2>&1) == usage:* ]] || fail "without a command it shows no usage line"

# The rule, as the namespace's binfmt_misc holds it.
rule=$(timeout 60 "$run" cat /proc/sys/fs/binfmt_misc/korvan-i386 2>&1)
for line in enabled "interpreter /usr/bin/qemu-i386" "flags: F" \
    "magic 7f454c4601010100000000000000000002000300" "mask fffffffffffefe00fffffffffffffffffeffffff"; do
    grep -qxF "$line" <<<"$rule" || fail "the rule inside lacks \"$line\": $rule"
done
# The command's exit status and arguments pass through.
timeout 60 "$run" sh -c 'exit 7' x
[ $? -eq 7 ] || fail "the command's exit status 7 did not pass through"
[ "$(timeout 60 "$run" printf '%s|' 'a b' c)" = "a b|c|" ] || fail "the arguments did not pass whole"

# Nothing outside: the machine's binfmt_misc (when it is mounted at all)
# holds no rule of ours, during a run and after it.
timeout 60 "$run" sleep 2 &
sleep 1
[ ! -e /proc/sys/fs/binfmt_misc/korvan-i386 ] || fail "the rule is seen outside while a run goes on"
wait
[ ! -e /proc/sys/fs/binfmt_misc/korvan-i386 ] || fail "the rule is left behind for the machine"

# Wine's 32-bit loader starts inside, as a 64-bit process: the emulator,
# which loads its own 64-bit libraries.
if command -v strace >/dev/null; then
    traced=$(timeout 120 "$run" strace -f -e trace=openat "$wine32" --version 2>&1)
    grep -q 'wine-' <<<"$traced" || fail "Wine's 32-bit loader told no version inside: $(tail -3 <<<"$traced")"
    grep -q 'x86_64-linux-gnu/libglib' <<<"$traced" ||
        fail "Wine's 32-bit loader did not start through the emulator"
    ! grep -q 'runs in 32 bit mode' <<<"$traced" || fail "Wine's 32-bit loader ran natively inside"
else
    echo "(strace is not installed: how the loader starts inside is not looked at)"
fi

if [ $failures -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "32-bit programs start through qemu-i386 inside tools/i386-run, and only there"
