#!/usr/bin/env bash
# The tray menus of Vantorel.exe in a Wine virtual desktop against the
# stand-in service: the driver (tray_menu_driver_win.cpp) runs the scenario
# and chooses items; this script serves its steps (clicks on the icon with
# xdotool, uploads, the icon read off the screen, screenshots), then checks
# each menu as Wine's menu trace shows it (menu_trace.py). Then the menus in
# Japanese, German and Russian, each in a session of that display language
# with a prefix of its own.
# Usage: tray_menu_test.sh NATIVE_BUILD RUNNER PREFIX INSTALL_DIR STAND_IN_EXE DRIVER_EXE ARTIFACT_DIR
set -u
native=$1 runner=$2 prefix=$3 install_src=$4 stand_in=$5 driver=$6 artifacts=$7
sim=$native/simulator/localsvc-sim
probe=$native/probes/http-probe
here=$(dirname "$0")
source "$here/../support/service_test_lib.sh"
source "$here/../support/tray_desktop_lib.sh"

trap 'stop_run; stop_display; _service_test_cleanup' EXIT

sync=$scratch/sync
shots=$scratch/shots
mkdir -p "$sync" "$shots" "$scratch/install/jre/bin" "$artifacts"
rm -f "$artifacts"/*
cp -r "$install_src"/. "$scratch/install/"
cp "$stand_in" "$scratch/install/jre/bin/javaw.exe"
sim_get() { curl -sS -o /dev/null "http://127.0.0.1:9333/sim/$1"; }

# Uploads slow enough to be seen busy, paused and asked about.
start_service --keep-running --upload-rate 100000 --login-delay 300 --poll-timeout 3000 --completed-hold -1
start_display || exit 1
export DISPLAY=$display
WINEDEBUG=warn+seh,trace+menu,trace+exec "$runner" --prefix "$prefix" --display "$display" --timeout 500 -- \
    explorer /desktop=shell,1024x768 "$(winpath "$driver")" "$(winpath "$sync")" "$(winpath "$scratch/install")" \
    > "$scratch/out" 2> "$scratch/err" &
run_pid=$!

upload() {  # NAME: a file of 4 MB, about 40 s at the service's rate
    head -c 4000000 /dev/urandom > "$scratch/$1.bin"
    printf '%s\n' "$scratch/$1.bin" | "$probe" upload > /dev/null 2>&1
}

# One step of the driver: NAME READY_FILE.
serve() {
    local name=$1 ready=$2
    rest=${name#*-}
    version=${rest%%-*}
    step=${rest#*-}
    case $step in
        # From elsewhere onto the icon: a move to where the pointer
        # already is would never report its end.
        click-left) xdotool mousemove 600 300 mousemove --sync 1013 758 click 1 ;;
        click-right) xdotool mousemove 600 300 mousemove --sync 1013 758 click 3 ;;
        upload) upload "$version" ;;
        signed-in-upload) sim_get "login?state=logged_in"; sleep 1; upload "$version-again" ;;
        icon-*) expect "$version: icon ${step#icon-} on the screen" icon_becomes "$version-$step" "${step#icon-}" 20 ;;
        shot-*)  # the open menus, whose area the driver gives
            read -r x y w h < "$ready"
            shot "$version-$step"
            python3 "$here/../support/tray_screen.py" crop "$shots/$version-$step.xwd" \
                "$artifacts/$version-${step#shot-}.png" "$x" "$y" "$w" "$h"
            colourful=$(python3 "$here/../support/tray_screen.py" colourful "$shots/$version-$step.xwd" \
                "$x" "$y" "$w" "$h")
            if [ "$step" = shot-menu ] && [ "$version" = winxp ]; then
                expect "$version: the menu shows no pictures ($colourful coloured pixels)" test "$colourful" = 0
            elif [ "$step" = shot-menu ]; then
                expect "$version: the menu shows its pictures ($colourful coloured pixels)" test "$colourful" -gt 8
            fi ;;
    esac
}
serve_steps serve
tr -d '\r' < "$scratch/out"
# The session's exit code is the desktop's, not the driver's: its last line counts.
expect "driver checks passed" grep -qx '0 failed' <(tr -d '\r' < "$scratch/out")

python3 "$here/menu_trace.py" "$scratch/err" "$(winpath "$scratch/root")"
expect "every menu as expected in Wine's trace" test $? = 0

# A session's display language is the Unix locale's it starts with (made by
# scripts/bootstrap); the prefix records it, so each has its own.
in_language() {  # LOCALE LABEL TAG
    local pfx=$scratch/prefix-$2
    scratch_prefix "$prefix" "$pfx" || return 1
    sim_get reset
    LC_ALL=$1.UTF-8 LANG=$1.UTF-8 WINEDEBUG=warn+seh,trace+menu "$runner" --prefix "$pfx" --display "$display" \
        --timeout 300 -- explorer /desktop=shell,1024x768 "$(winpath "$driver")" "$(winpath "$sync")" \
        "$(winpath "$scratch/install")" "$2" > "$scratch/out-$2" 2> "$scratch/err-$2" &
    run_pid=$!
    serve_steps serve
    tr -d '\r' < "$scratch/out-$2"
    expect "$2: driver checks passed" grep -qx '0 failed' <(tr -d '\r' < "$scratch/out-$2")
    python3 "$here/menu_trace.py" --language "$scratch/err-$2" "$2" "$here/../../resources/strings/$3.txt"
    expect "$2: the menus in $3" test $? = 0
    rm -rf "$pfx"
}
in_language ja_JP ja ja-JP
in_language de_DE de de-DE
in_language ru_RU ru ru-RU

cp "$scratch/err" "$artifacts/wine-stderr.txt"
if [ "$failures" != 0 ]; then
    echo "--- requests:"; grep -v 'loginstate\|dldir\|transferstatus\|progress\|storage\|/poll' "$scratch/access.log" | tail -n 40
fi
finish
