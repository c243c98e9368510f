# Shared shell functions for running our Windows programs under Wine.
# Sourced by tools/wine-run (the test emulator) and tools/demo.
#
# A Wine prefix of ours lives in a folder of its own (the build folder, or the
# demo folder). Its COM ports below are mapped to symlinks in <folder>/ports,
# which we point at one end of a socat pty pair: a null-modem cable between
# two COM ports. A COM number whose link has no target is a port that does not
# exist.
#
# A folder may hold more than one prefix, each with its own ports ("sets"):
# set 0 is <folder>/wineprefix with <folder>/ports, set n is
# <folder>/wineprefix-n with <folder>/ports-n. Each has its own wineserver, so
# two programs in different sets can use the same COM numbers at once.

# The Wine loader that runs here. Wine's 32-bit loader is itself a 32-bit
# Linux program, and some kernels (sandboxes among them) start none: there
# only 64-bit Windows programs run, under the 64-bit loader, and the tests
# are built for 64-bit x86 (tools/configure). The loaders are in
# KORVAN_WINE_DIR (a test plays a machine with loaders of its own).
KORVAN_WINE_DIR=${KORVAN_WINE_DIR:-/usr/lib/wine}

# wine_choose_loader: sets KORVAN_WINE_LOADER (and Wine's WINELOADER) for
# this machine as it is now. A loader set by the caller is taken as given
# (the tests play a machine with it); one that an earlier sourcing of this
# file chose (KORVAN_WINE_LOADER_CHOSEN names it) is chosen anew, since the
# packages may have come since: before wine32 is installed, no 32-bit
# program starts. Run when this file is sourced; a script that installs the
# packages sources it after the installation.
wine_choose_loader() {
    if [ -z "${KORVAN_WINE_LOADER:-}" ] ||
        [ "$KORVAN_WINE_LOADER" = "${KORVAN_WINE_LOADER_CHOSEN:-}" ]; then
        if "$KORVAN_WINE_DIR/wine" --version >/dev/null 2>&1; then
            KORVAN_WINE_LOADER=$KORVAN_WINE_DIR/wine
        else
            KORVAN_WINE_LOADER=$KORVAN_WINE_DIR/wine64
        fi
        KORVAN_WINE_LOADER_CHOSEN=$KORVAN_WINE_LOADER
    else
        KORVAN_WINE_LOADER_CHOSEN=""
    fi
    export KORVAN_WINE_LOADER KORVAN_WINE_LOADER_CHOSEN
    # Wine starts its own helper programs with the loader named here.
    export WINELOADER=$KORVAN_WINE_LOADER
}
wine_choose_loader

# wine_runs_32bit: true when 32-bit Windows programs run on this machine.
wine_runs_32bit() {
    [ "$KORVAN_WINE_LOADER" = "$KORVAN_WINE_DIR/wine" ]
}

# wine_build_bits BUILD: 32 or 64 for a build folder configured with one of
# the mingw-w64 toolchain files (read from its CMake cache), nothing for any
# other folder.
wine_build_bits() {
    case $(sed -n 's/^CMAKE_TOOLCHAIN_FILE:[A-Z]*=//p' "$1/CMakeCache.txt" 2>/dev/null) in
    *i686*) echo 32 ;;
    *x86_64*) echo 64 ;;
    esac
}

# wine_build_fits BUILD: true when BUILD's programs are the ones this machine
# is to run; otherwise false, with one line naming the mismatch and its fix.
# A 32-bit build where no 32-bit program starts fails on every program with
# Wine's "ShellExecuteEx failed: Internal error". A 64-bit build that
# tools/configure chose because no 32-bit program started (it leaves
# .korvan-no-32bit in the folder) is not what runs where they do start; one
# chosen on purpose (KORVAN_TOOLCHAIN, or by hand) is let be.
wine_build_fits() {
    local build=$1
    case $(wine_build_bits "$build") in
    32)
        wine_runs_32bit && return 0
        echo "$build holds 32-bit x86 programs, but this machine starts no 32-bit program (Wine's 32-bit loader does not start): run tools/configure $build, which makes a 64-bit x86 build here"
        return 1
        ;;
    64)
        { [ -f "$build/.korvan-no-32bit" ] && wine_runs_32bit; } || return 0
        echo "$build holds 64-bit x86 programs, configured where no 32-bit program started, but this machine starts 32-bit ones: run tools/configure $build to build them for 32-bit x86, as shipped"
        return 1
        ;;
    esac
    return 0
}

# wine PROGRAM [ARGUMENTS...]: runs a Windows program with the loader above.
wine() {
    "$KORVAN_WINE_LOADER" "$@"
}

# The COM numbers our prefixes map: COM1..COM8 as a PC's own, COM12 and COM200
# as USB adapters numbered above COM9, COM20..COM31 for a watch of many ports.
# A run that needs others sets its own list, best with a build folder of its
# own: a prefix that maps other ports is made afresh.
KORVAN_MAPPED_PORTS=${KORVAN_MAPPED_PORTS:-"1 2 3 4 5 6 7 8 12 200 20 21 22 23 24 25 26 27 28 29 30 31"}

# How many port sets a build folder has for its tests: as many cable tests
# run at once. A test mostly waits on its line, so four of them share two
# cores well.
KORVAN_PORT_SETS=${KORVAN_PORT_SETS:-4}

# wine_env FOLDER [SET]: exports the environment of the prefix of SET (0 when
# not given) in FOLDER.
wine_env() {
    local folder=$1 set=${2:-0} suffix=""
    [ "$set" != 0 ] && suffix="-$set"
    export WINEPREFIX="$folder/wineprefix$suffix"
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml=" # no Mono/Gecko prompts; we need neither
    KORVAN_PORTS="$folder/ports$suffix"
    KORVAN_PREFIX_LOCK="$folder/.wine-lock$suffix"
}

# wine_reg_value KEY NAME: the data of a registry value, or nothing.
wine_reg_value() {
    wine reg query "$1" /v "$2" 9>&- 2>/dev/null | tr -d '\r' |
        awk -v name="$2" '$1 == name { sub(/^[ \t]*[^ \t]+[ \t]+[^ \t]+[ \t]+/, ""); print }'
}

# wine_reg_set KEY NAME DATA: sets a string value and reads it back; a write
# that did not take (seen on a prefix that is still settling) is repeated.
wine_reg_set() {
    local try
    for try in 1 2 3 4 5; do
        wine reg add "$1" /v "$2" /d "$3" /f 9>&- >/dev/null 2>&1
        [ "$(wine_reg_value "$1" "$2")" = "$3" ] && return 0
        sleep 1
    done
    echo "wine-env: could not set $1\\$2 in $WINEPREFIX" >&2
    return 1
}

# wine_reg_unset KEY NAME: deletes a value and checks that it is gone.
wine_reg_unset() {
    local try
    for try in 1 2 3 4 5; do
        wine reg delete "$1" /v "$2" /f 9>&- >/dev/null 2>&1
        [ -z "$(wine_reg_value "$1" "$2")" ] && return 0
        sleep 1
    done
    echo "wine-env: could not delete $1\\$2 in $WINEPREFIX" >&2
    return 1
}

# wine_installation: the installed Wine packages, one "name:architecture
# version" a line. A prefix works only with the Wine set-up that made it (one
# made before wine32 was installed cannot start 32-bit programs), so the
# prefix keeps this list of its maker.
wine_installation() {
    dpkg-query -W -f='${db:Status-Abbrev} ${Package}:${Architecture} ${Version}\n' \
        'wine*' 'libwine*' 2>/dev/null | awk '$1 == "ii" { print $2, $3 }' | LC_ALL=C sort
    # A prefix that maps other ports, or that another loader made, is made
    # afresh as well.
    echo "ports: $KORVAN_MAPPED_PORTS"
    echo "loader: $KORVAN_WINE_LOADER"
}

# wine_close_descriptors [KEEP...]: closes every descriptor of this (sub)shell
# above 2 but those named, so that what it starts next keeps nothing of its
# caller's: no lock, no pipe, no file.
wine_close_descriptors() {
    local fd keep=" $* "
    for fd in /proc/$BASHPID/fd/*; do
        fd=${fd##*/}
        if [ "$fd" -gt 2 ] && [[ $keep != *" $fd "* ]]; then
            eval "exec $fd>&-"
        fi
    done
}

# wine_leads_into PREFIX PORTS: whether the prefix's COM ports lead into
# the folder PORTS. A build folder copied or moved elsewhere keeps prefixes
# whose ports lead into the folder it came from.
wine_leads_into() {
    local mapped
    mapped=$(awk -F'"' '$2 == "COM1" { print $4; exit }' "$1/system.reg" 2>/dev/null)
    [ -n "$mapped" ] && [ "$(realpath -m "${mapped%/*}")" = "$(realpath -m "$2")" ]
}

# wine_prepare FOLDER GRAPHICS [SET]: creates the prefix of SET on first use
# (under a lock, since several test processes may start at once) and starts a
# persistent wineserver. GRAPHICS is "null" for headless windows or "x11" for
# a screen. A prefix made by another Wine installation, or left half made, is
# made afresh. Non-zero when the prefix could not be set up.
# The wineserver and Wine's services outlive the call by minutes: they are
# started with the standard descriptors only, none of them the caller's, so a
# lock or a pipe of the caller's is released when the caller lets go of it.
wine_prepare() {
    local folder=$1 graphics=${2:-null} set=${3:-0} installation
    wine_env "$folder" "$set"
    mkdir -p "$folder" "$KORVAN_PORTS"
    installation=$(wine_installation)
    (
        wine_close_descriptors 9
        flock 9
        if [ -f "$WINEPREFIX/.korvan-ready" ] &&
            [ "$(cat "$WINEPREFIX/.korvan-wine" 2>/dev/null)" != "$installation" ]; then
            echo "wine-env: $WINEPREFIX was made by another Wine installation: making it afresh" >&2
            rm -f "$WINEPREFIX/.korvan-ready"
        fi
        if [ -f "$WINEPREFIX/.korvan-ready" ] && ! wine_leads_into "$WINEPREFIX" "$KORVAN_PORTS"; then
            echo "wine-env: the COM ports of $WINEPREFIX lead into another folder (a build folder copied or moved): making it afresh" >&2
            rm -f "$WINEPREFIX/.korvan-ready"
        fi
        if [ ! -f "$WINEPREFIX/.korvan-ready" ]; then
            if [ -d "$WINEPREFIX" ]; then
                wineserver -k 9>&- >/dev/null 2>&1
                wineserver -w 9>&- >/dev/null 2>&1
                rm -rf "$WINEPREFIX"
            fi
            if [ "$set" != 0 ] &&
                [ "$(cat "$folder/wineprefix-template/.korvan-wine" 2>/dev/null)" = "$installation" ] &&
                wine_leads_into "$folder/wineprefix-template" "$folder/ports"; then
                wine_clone_prefix "$folder" || exit 1
            else
                wine wineboot -i </dev/null >/dev/null 2>&1 9>&-
                wineserver -w
                local n
                for n in $KORVAN_MAPPED_PORTS; do
                    wine_reg_set 'HKLM\Software\Wine\Ports' "COM$n" "$KORVAN_PORTS/com$n" || exit 1
                done
                # The port mapping takes effect on the next server start.
                wineserver -k
                wineserver -w
                echo "$installation" >"$WINEPREFIX/.korvan-wine"
                touch "$WINEPREFIX/.korvan-ready"
                [ "$set" = 0 ] && wine_keep_template "$folder"
            fi
        fi
        if [ "$(cat "$WINEPREFIX/.korvan-graphics" 2>/dev/null)" != "$graphics" ]; then
            if [ "$graphics" = null ]; then
                wine_reg_set 'HKCU\Software\Wine\Drivers' Graphics null || exit 1
            else
                wine_reg_unset 'HKCU\Software\Wine\Drivers' Graphics || exit 1
            fi
            wineserver -w
            echo "$graphics" >"$WINEPREFIX/.korvan-graphics"
        fi
        # Keep the server alive between processes: each start then takes ~0.15 s.
        # Its output goes nowhere, so it holds no caller's pipe open.
        wineserver -p300 </dev/null >/dev/null 2>&1 9>&- || true
    ) 9>"$KORVAN_PREFIX_LOCK" </dev/null
}

# The folders of a prefix that hold Wine's own programs and libraries: some
# 1.2 GB that no program of ours writes to. A prefix made from the template
# shares them with it (hard links); everything else is a copy of its own.
KORVAN_SHARED_PREFIX_FOLDERS="drive_c/windows/system32 drive_c/windows/syswow64 drive_c/windows/winsxs"

# wine_keep_template FOLDER: keeps the prefix of set 0, just made (its ports
# mapped, its server ended), as the template of the other sets' prefixes:
# making one from it takes seconds, where Wine's own set-up takes some 20 s
# of both cores. (wine_prepare holds set 0's lock.)
wine_keep_template() {
    local folder=$1 template=$1/wineprefix-template
    rm -rf "$template" "$template.making"
    wine_copy_prefix "$WINEPREFIX" "$template.making" && mv "$template.making" "$template"
}

# wine_copy_prefix FROM TO: a prefix copied, its shared folders linked.
wine_copy_prefix() {
    local from=$1 to=$2 shared excluded=()
    for shared in $KORVAN_SHARED_PREFIX_FOLDERS; do
        excluded+=("--exclude=./$shared")
    done
    mkdir -p "$to" &&
        tar -C "$from" "${excluded[@]}" -cf - . | tar -C "$to" -xf - || return 1
    for shared in $KORVAN_SHARED_PREFIX_FOLDERS; do
        if [ -d "$from/$shared" ]; then
            cp -al "$from/$shared" "$to/${shared%/*}/" || return 1
        fi
    done
}

# wine_clone_prefix FOLDER: makes the prefix of wine_env's set from
# FOLDER's template, its COM ports mapped to the set's own links: in the
# registry, and in the links Wine keeps of them in dosdevices.
wine_clone_prefix() {
    local folder=$1 making=$WINEPREFIX.making link target
    rm -rf "$making"
    wine_copy_prefix "$folder/wineprefix-template" "$making" || return 1
    local from="\"$folder/ports/" to="\"$KORVAN_PORTS/"
    # Plain text in, plain text out: no pattern of sed's.
    awk -v from="$from" -v to="$to" '{
        while ((at = index($0, from)) > 0) {
            $0 = substr($0, 1, at - 1) to substr($0, at + length(from))
        }
        print
    }' "$making/system.reg" >"$making/system.reg.new" &&
        mv "$making/system.reg.new" "$making/system.reg" || return 1
    for link in "$making"/dosdevices/com*; do
        target=$(readlink "$link")
        case $target in
        "$folder/ports/"*) ln -sfn "$KORVAN_PORTS/${target##*/}" "$link" ;;
        esac
    done
    rm -f "$making/.korvan-graphics"
    mv "$making" "$WINEPREFIX"
}

# wine_own_fonts: puts Wine's own fonts (the package fonts-wine: "MS Sans
# Serif", Tahoma, Marlett...) into the Fonts folder of the prefix of
# wine_env, where Wine finds them; it does not look in /usr/share/wine/fonts
# by itself here. A dialog then draws the same whatever fonts the machine
# has, for the screenshots. Non-zero when fonts-wine is missing.
wine_own_fonts() {
    local fonts=$WINEPREFIX/drive_c/windows/Fonts
    [ -f /usr/share/wine/fonts/sserife.fon ] || {
        echo "wine-env: Wine's fonts (fonts-wine) are missing in /usr/share/wine/fonts" >&2
        return 1
    }
    mkdir -p "$fonts" && cp -u /usr/share/wine/fonts/* "$fonts/"
}

# wine_run_program PROGRAM [ARGUMENTS...]: runs a Windows program and passes
# its output and exit code on. Wine starts helper processes (services, the
# desktop) that outlive the program and inherit its output: the output goes
# through files, so a caller reading a pipe sees its end when the program ends.
wine_run_program() {
    local out err rc try
    out=$(mktemp) err=$(mktemp)
    for try in 1 2; do
        # The program's helpers must not inherit our lock descriptors either.
        wine "$@" </dev/null >"$out" 2>"$err" 8>&- 9>&-
        rc=$?
        # A Windows program's own faults are exceptions inside Wine, which
        # end it with an exception's status; the loader process itself dying
        # of SIGSEGV is Wine's fault (seen, rarely, as a process ends under
        # load, after the program had said all it had to say). Once, the
        # program runs again; the crash is told on standard error.
        [ $rc -eq 139 ] && [ $try -eq 1 ] || break
        echo "wine-run: Wine's loader crashed (SIGSEGV) outside the program; running it again: $*" >&2
    done
    cat "$out"
    cat "$err" >&2
    rm -f "$out" "$err"
    return $rc
}

# wine_sample_script FILE: the sample firmware script of the demo, the
# guide's pictures and the package's check: 4 KiB of deterministic bytes
# behind a comment line, all byte values among them. It is not a real
# firmware; the simulated module takes it.
wine_sample_script() {
    local bytes="; Korvan demo script: sample bytes for the simulated module, not a firmware\r\n"
    local i x=20240611 byte
    for ((i = 0; i < 4096; i++)); do
        x=$(((x * 1103515245 + 12345) & 0x7fffffff))
        printf -v byte '\\x%02x' $(((x >> 16) & 255))
        bytes+=$byte
    done
    printf '%b' "$bytes" >"$1"
}

# Process ids of the socat pairs that wine_connect_pairs started, and the
# COM numbers of their cables.
KORVAN_SOCAT_PIDS=""
KORVAN_CABLED_PORTS=" "

# wine_connect_pairs "1-2,3-4": connects each named pair of COM numbers by a
# fresh null-modem cable and removes the links of every other COM number of
# the prefix but those of the cables that this shell laid before (a second
# call adds its cables to the first one's). Returns non-zero when a cable
# could not be laid within five seconds.
wine_connect_pairs() {
    local pairs=$1 n a b i
    for n in $KORVAN_MAPPED_PORTS; do
        [[ $KORVAN_CABLED_PORTS == *" $n "* ]] || rm -f "$KORVAN_PORTS/com$n"
    done
    for pair in ${pairs//,/ }; do
        a=${pair%-*}
        b=${pair#*-}
        rm -f "$KORVAN_PORTS/com$a" "$KORVAN_PORTS/com$b"
        KORVAN_CABLED_PORTS="$KORVAN_CABLED_PORTS$a $b "
        socat "pty,raw,echo=0,link=$KORVAN_PORTS/com$a" "pty,raw,echo=0,link=$KORVAN_PORTS/com$b" 8>&- 9>&- &
        KORVAN_SOCAT_PIDS="$KORVAN_SOCAT_PIDS $!"
        for i in $(seq 500); do
            [ -e "$KORVAN_PORTS/com$a" ] && [ -e "$KORVAN_PORTS/com$b" ] && break
            sleep 0.01
        done
        [ -e "$KORVAN_PORTS/com$a" ] && [ -e "$KORVAN_PORTS/com$b" ] || return 1
    done
    return 0
}

# wine_disconnect_pairs: ends the cables of wine_connect_pairs.
wine_disconnect_pairs() {
    local pid
    for pid in $KORVAN_SOCAT_PIDS; do kill "$pid" 2>/dev/null; done
    for pid in $KORVAN_SOCAT_PIDS; do wait "$pid" 2>/dev/null; done
    KORVAN_SOCAT_PIDS=""
    KORVAN_CABLED_PORTS=" "
}
