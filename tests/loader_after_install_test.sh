#!/usr/bin/env bash
# The Wine loader is chosen after the packages are installed: on a machine
# whose 32-bit loader starts only once wine32 is in, tools/demo,
# tools/guide-screenshots, tools/build-and-test and .ci/run configure for
# 32-bit programs, also from a shell that chose the 64-bit loader before the
# installation; a loader the caller sets is kept. Played in a copy of the scripts whose install step (a stub)
# makes the 32-bit loader start, and whose configure step (a stub) writes down
# the loader its caller chose and the one tools/wine-env.sh chooses in it,
# then stops the command.
#
#   tests/loader_after_install_test.sh BUILD_FOLDER
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(cd "$1" && pwd)/loader-after-install
rm -rf "$work"
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

clone=$work/clone
loaders=$work/wine
mkdir -p "$clone/tools" "$clone/.ci" "$loaders"
cp "$root/tools/demo" "$root/tools/guide-screenshots" "$root/tools/build-and-test" \
    "$root/tools/wine-env.sh" "$clone/tools/"
cp "$root/.ci/run" "$clone/.ci/"
# The machine's loaders: the 32-bit one starts once the packages are in.
printf '#!/bin/sh\n[ -f "%s/installed" ] && echo wine-8.0\n' "$loaders" >"$loaders/wine"
printf '#!/bin/sh\necho wine-8.0\n' >"$loaders/wine64"
printf '#!/bin/sh\ntouch "%s/installed"\n' "$loaders" >"$clone/tools/install-deps"
cat >"$clone/tools/configure" <<'EOF'
#!/usr/bin/env bash
caller=${KORVAN_WINE_LOADER:-none}
. "$(dirname "$0")/wine-env.sh"
echo "${caller##*/} ${KORVAN_WINE_LOADER##*/}" >"$KORVAN_TEST_SEEN"
exit 1
EOF
chmod +x "$loaders"/* "$clone"/tools/* "$clone/.ci/run"

# A case a line: the command, the caller's environment (fresh: nothing of
# Wine's; chosen: a shell that sourced tools/wine-env.sh before the
# installation; given: the 64-bit loader set on purpose), and the loaders
# the configure step saw, its caller's ("none": its caller chose none) and
# its own.
while read -r command environment wanted; do
    rm -f "$loaders/installed" "$work/seen"
    case $environment in
    fresh) settings=() ;;
    chosen) settings=(KORVAN_WINE_LOADER="$loaders/wine64" KORVAN_WINE_LOADER_CHOSEN="$loaders/wine64") ;;
    given) settings=(KORVAN_WINE_LOADER="$loaders/wine64") ;;
    esac
    (cd "$clone" && env -u KORVAN_WINE_LOADER -u KORVAN_WINE_LOADER_CHOSEN -u KORVAN_DEMO_STAGE -u KORVAN_GUIDE_STAGE \
        KORVAN_WINE_DIR="$loaders" KORVAN_TEST_SEEN="$work/seen" "${settings[@]}" \
        timeout 60 ${command//+/ } </dev/null >"$work/out" 2>&1)
    seen=$(cat "$work/seen" 2>/dev/null)
    [ "$seen" = "${wanted//+/ }" ] ||
        fail "${command//+/ } ($environment): configure saw \"$seen\", not \"${wanted//+/ }\": $(tail -2 "$work/out")"
done <<'EOF'
tools/demo+--unattended fresh wine+wine
tools/demo+--unattended chosen wine+wine
tools/guide-screenshots fresh none+wine
tools/build-and-test fresh none+wine
tools/build-and-test chosen wine64+wine
.ci/run fresh none+wine
.ci/run chosen wine64+wine
tools/build-and-test given wine64+wine64
EOF

if [ $failures -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "the demo, the guide's pictures, build-and-test and CI choose the Wine loader after the installation"
