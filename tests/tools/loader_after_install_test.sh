#!/usr/bin/env bash
# The Wine loader is chosen after the packages are installed. In a copy of
# the scripts, the install step (a stub) makes the machine's 32-bit loader
# start, and the configure step (a stub) writes down the loader its caller
# chose and the one tools/wine-env.sh chooses in it, then stops the command.
#
#   tests/tools/loader_after_install_test.sh BUILD_FOLDER
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(cd "$1" && pwd)/loader-after-install
clone=$work/clone loaders=$work/wine
rm -rf "$work" && mkdir -p "$clone/tools" "$clone/.ci" "$loaders"
trap 'rm -rf "$work"' EXIT
failures=0
cp "$root"/tools/{demo,guide-screenshots,build-and-test,wine-env.sh} "$clone/tools/"
cp "$root/.ci/run" "$clone/.ci/"
printf '#!/bin/sh\n[ -f "%s/installed" ]\n' "$loaders" >"$loaders/wine"
printf '#!/bin/sh\n' >"$loaders/wine64"
printf '#!/bin/sh\ntouch "%s/installed"\n' "$loaders" >"$clone/tools/install-deps"
cat >"$clone/tools/configure" <<'EOF'
#!/usr/bin/env bash
caller=${KORVAN_WINE_LOADER:-none}
. "$(dirname "$0")/wine-env.sh"
echo "${caller##*/} ${KORVAN_WINE_LOADER##*/}" >"$KORVAN_TEST_SEEN"
exit 1
EOF
chmod +x "$loaders"/* "$clone"/tools/* "$clone/.ci/run"

# The command; the caller's environment (fresh; chosen: a shell that sourced
# tools/wine-env.sh before the installation; given: the 64-bit loader set on
# purpose, which is kept); the loaders of configure's caller and its own.
while read -r command environment wanted; do
    rm -f "$loaders/installed" "$work/seen"
    case $environment in
    fresh) settings=() ;;
    chosen) settings=(KORVAN_WINE_LOADER="$loaders/wine64" KORVAN_WINE_LOADER_CHOSEN="$loaders/wine64") ;;
    given) settings=(KORVAN_WINE_LOADER="$loaders/wine64") ;;
    esac
    (cd "$clone" && env -u KORVAN_WINE_LOADER -u KORVAN_WINE_LOADER_CHOSEN -u KORVAN_DEMO_STAGE \
        -u KORVAN_GUIDE_STAGE KORVAN_WINE_DIR="$loaders" KORVAN_TEST_SEEN="$work/seen" \
        "${settings[@]}" timeout 60 ${command//+/ } </dev/null >"$work/out" 2>&1)
    seen=$(cat "$work/seen" 2>/dev/null)
    if [ "$seen" != "${wanted//+/ }" ]; then
        echo "FAIL: ${command//+/ } ($environment): configure saw \"$seen\", not \"${wanted//+/ }\""
        failures=$((failures + 1))
    fi
done <<'EOF'
tools/demo+--unattended fresh wine+wine
tools/demo+--unattended chosen wine+wine
tools/guide-screenshots fresh none+wine
tools/build-and-test fresh none+wine
tools/build-and-test chosen wine64+wine
.ci/run fresh none+wine
tools/build-and-test given wine64+wine64
EOF
[ $failures -eq 0 ] || { echo "$failures check(s) failed" && exit 1; }
echo "the demo, the guide's pictures, build-and-test and CI choose the Wine loader after the installation"
