#!/usr/bin/env bash
# Vantorel.exe in a Wine virtual desktop against the stand-in service, as
# Windows 7 (whole flow) and as Vista, XP and 10 (start, a balloon, the popup,
# quit). Watches the tray icon on screen through each change the pollers ask
# for (signed out, signed in, busy, completed, error), the balloons in Wine's
# tooltip trace, the service going away and coming back, a new taskbar, the
# popup while the left button is held over the icon, and the clean exit.
# Then as Windows 10 at 150 % and 200 % display scale, each in a prefix of
# its own: the slot shows the picture drawn for its size, pixel for pixel.
# Usage: tray_agent_test.sh NATIVE_BUILD RUNNER PREFIX INSTALL_DIR STAND_IN_EXE DRIVER_EXE ARTIFACT_DIR
set -u
native=$1 runner=$2 prefix=$3 install_src=$4 stand_in=$5 driver=$6 artifacts=$7
sim=$native/simulator/localsvc-sim
probe=$native/probes/http-probe
source "$(dirname "$0")/../support/service_test_lib.sh"
source "$(dirname "$0")/../support/tray_desktop_lib.sh"

trap 'stop_run; stop_display; _service_test_cleanup' EXIT

sync=$scratch/sync
shots=$scratch/shots
mkdir -p "$sync" "$shots" "$scratch/install/jre/bin" "$artifacts"
rm -f "$artifacts"/*
cp -r "$install_src"/. "$scratch/install/"
cp "$stand_in" "$scratch/install/jre/bin/javaw.exe"
sim_get() { curl -sS -o /dev/null -w '%{http_code}' "http://127.0.0.1:9333/sim/$1"; }

# A finished batch keeps its counts and the "completed" status until the
# next batch, so an error icon is not replaced while the test looks.
service_args=(--keep-running --completed-hold -1 --upload-rate 200000 --login-delay 500 --poll-timeout 3000)
start_service "${service_args[@]}"
start_display || exit 1
export DISPLAY=$display
WINEDEBUG=warn+seh,trace+tooltips "$runner" --prefix "$prefix" --display "$display" --timeout 400 -- \
    explorer /desktop=shell,1024x768 "$(winpath "$driver")" "$(winpath "$sync")" "$(winpath "$scratch/install")" \
    > "$scratch/out" 2> "$scratch/err" &
run_pid=$!

head -c 1000000 /dev/urandom > "$scratch/upload.bin"
# An event message longer than a balloon title holds (63 units).
long_message=report-$(printf 'x%.0s' $(seq 70)).pdf
popup() {  # VERSION: hold the button over the icon, then let it go
    wait_ready "$1-popup-down" 60 || return 1
    xdotool mousemove --sync 1013 758 mousedown 1
    sleep 1
    shot "$1-popup"
    go "$1-popup-down"
    wait_ready "$1-popup-up" 60 || return 1
    xdotool mouseup 1
    sleep 0.8
    go "$1-popup-up"
    xdotool mousemove 500 300
}
ended() {  # VERSION: the icon is gone once the agent has quit
    wait_ready "$1-ended" 90 || return 1
    expect "$1: icon removed at exit" icon_becomes "$1-ended" none 5
    sim_get reset > /dev/null  # the next agent starts with no batch held
    go "$1-ended"
}

drawn() {  # NAME ID SIZE: the slot shows ID's SIZE-pixel picture unscaled
    local got
    got=$(python3 "$(dirname "$0")/../support/tray_screen.py" drawn "$shots/$1.xwd" "$2")
    [ "$got" = "$3" ] || { echo "  slot shows $got, not the $3-px picture"; return 1; }
}
flow_scaled() {  # VERSION SIZE: the slot's own pictures signed in and completed
    wait_ready "$1-started" 120 || return 1
    expect "$1: signed in at start" icon_becomes "$1-signed-in" 21 30
    expect "$1: the $2-px signed-in picture, unscaled" drawn "$1-signed-in" 21 "$2"
    go "$1-started"
    wait_ready "$1-event" 30 || return 1
    head -c 100000 /dev/urandom > "$scratch/$1.bin"
    printf '%s\n' "$scratch/$1.bin" | "$probe" upload > /dev/null
    expect "$1: completed after the upload" icon_becomes "$1-completed" 23 20
    expect "$1: the $2-px completed picture, unscaled" drawn "$1-completed" 23 "$2"
    go "$1-event"
}

flow_win7() {
    wait_ready win7-started 120 || return 1
    expect "win7: signed out at start" icon_becomes win7-signed-out 26 20
    expect "win7: the 16-px signed-out picture, unscaled" drawn win7-signed-out 26 16
    go win7-started

    wait_ready win7-signed-in 30 || return 1
    sim_get "login?state=logging_in" > /dev/null
    expect "win7: signed in after the login" icon_becomes win7-signed-in 21 20
    expect "win7: the 16-px signed-in picture, unscaled" drawn win7-signed-in 21 16
    go win7-signed-in

    wait_ready win7-busy 30 || return 1
    printf '%s\n' "$scratch/upload.bin" | "$probe" upload > /dev/null
    expect "win7: busy while the upload runs" icon_becomes win7-busy 25 10
    go win7-busy

    wait_ready win7-completed 30 || return 1
    expect "win7: completed after the upload" icon_becomes win7-completed 23 20
    go win7-completed

    wait_ready win7-error 30 || return 1
    sim_get "force?request=transferstatus&body=idle&times=always" > /dev/null
    sim_get "event?type=UPLOAD&event=ERRORED&title=Upload&message=$long_message" > /dev/null
    expect "win7: error after an errored transfer" icon_becomes win7-error 24 20
    sleep 3  # the balloon opens 2 s after it is asked for
    shot win7-balloon
    go win7-error

    wait_ready win7-timeout 30 || return 1
    sim_get "event?type=TIME_OUT&event=&message=nothing%20to%20say" > /dev/null
    sleep 4
    go win7-timeout

    wait_ready win7-restart 30 || return 1
    stop_service
    expect "win7: signed out while the service is gone" icon_becomes win7-service-gone 26 20
    start_service "${service_args[@]}" --signed-in
    expect "win7: signed in again with the new service" icon_becomes win7-service-back 21 20
    go win7-restart

    wait_ready win7-deleted 30 || return 1
    expect "win7: icon gone with the old taskbar" icon_becomes win7-deleted none 10
    go win7-deleted
    wait_ready win7-readded 30 || return 1
    expect "win7: icon back for the new taskbar" icon_becomes win7-readded 21 10
    go win7-readded

    popup win7
    ended win7
}

flow_short() {  # VERSION FILES: an upload of that many files, one balloon
    local v=$1 n=$2 i
    wait_ready "$v-started" 120 || return 1
    expect "$v: icon shown at start" icon_becomes "$v-started" 21 20
    go "$v-started"
    wait_ready "$v-event" 30 || return 1
    for i in $(seq "$n"); do
        head -c 100000 /dev/urandom > "$scratch/$v-$i.bin"
        printf '%s\n' "$scratch/$v-$i.bin"
    done | "$probe" upload > /dev/null
    expect "$v: completed after the upload" icon_becomes "$v-completed" 23 20
    sleep 3
    shot "$v-balloon"
    go "$v-event"
    popup "$v"
    ended "$v"
}

if flow_win7 && flow_short vista 2 && flow_short winxp 3 && flow_short win10 4; then
    wait "$run_pid"
    run_pid=
else
    failures=$((failures + 1))
    stop_run
fi
tr -d '\r' < "$scratch/out"
expect "driver checks passed" grep -qx 'tray-agent-driver: done' <(tr -d '\r' < "$scratch/out")

# A display scale is read when the session starts: each scale runs in a fresh
# prefix of its own (from the shared prefix's template), the shared one stays
# at 100 %.
at_scale() {  # PERCENT LOGPIXELS SIZE
    local label=win10-$1 pfx=$scratch/prefix-$1
    scratch_prefix "$prefix" "$pfx" "$2" || return 1
    sim_get reset > /dev/null
    stop_display
    start_display || return 1
    WINEDEBUG=-all "$runner" --prefix "$pfx" --display "$display" --timeout 300 -- \
        explorer /desktop=shell,1024x768 "$(winpath "$driver")" "$(winpath "$sync")" "$(winpath "$scratch/install")" \
        "$label" > "$scratch/out-$1" 2>&1 &
    run_pid=$!
    if flow_scaled "$label" "$3" && ended "$label"; then
        wait "$run_pid"
        run_pid=
    else
        failures=$((failures + 1))
        stop_run
    fi
    tr -d '\r' < "$scratch/out-$1" | grep -E '^(ok|FAIL|tray-agent-driver)'
    expect "$label: driver checks passed" grep -qx 'tray-agent-driver: done' <(tr -d '\r' < "$scratch/out-$1")
    rm -rf "$pfx"
}
at_scale 150 144 24
at_scale 200 192 32

# Balloons as the shell drew them (Wine's tooltip trace): the title is the
# event's message, the text a single space.
balloons() { grep -c "title = L\"$1\"" "$scratch/err"; }
expect "one balloon for the errored transfer, its title cut to 63" test "$(balloons "${long_message:0:63}")" = 1
expect "no balloon for a time-out" test "$(balloons 'nothing to say')" = 0
expect "one balloon as Vista" test "$(balloons '2 files uploaded')" = 1
expect "one balloon as XP" test "$(balloons '3 files uploaded')" = 1
expect "one balloon as 10" test "$(balloons '4 files uploaded')" = 1
expect "tooltip is the product name" grep -q 'add text L"Vantorel"' "$scratch/err"
# Debug lines (OutputDebugStringA as Wine reports them): one line of stars
# per start, and the refresh lines only from the agent that ran as XP (the
# third of four starts).
debug_order=$(grep -o 'OutputDebugStringA "\(\*\**\|OnUpdateNotifyIcon\( End\)\?\)\\n"' "$scratch/err" |
    awk '/\*\*\*/ { stars++; next } { print (stars == 3 ? "xp" : "other") }' | sort | uniq -c | tr -s ' ' | tr '\n' ';')
expect "one line of stars per start" test "$(grep -c 'OutputDebugStringA "\*\*\*\*' "$scratch/err")" = 4
only_as_xp() { [[ $debug_order =~ ^\ [0-9]+\ xp\;$ ]]; }
expect "refresh debug lines as XP only" only_as_xp
# Wine cannot say where an icon is; the popup above showed all the same.
expect "as 7 the shell was asked for the icon's place" grep -q 'Shell_NotifyIconGetRect' "$scratch/err"

# Kept for whoever reads the run: the tray in each state, the balloon and
# the popup on the whole screen, Wine's output.
python3 "$(dirname "$0")/../support/tray_screen.py" strip "$artifacts/tray-states.png" \
    "$shots"/win7-{signed-out,signed-in,busy,completed,error}.xwd
# The signed-in icon at each scale, as the screen shows it (not enlarged).
for scale in 100:win7 150:win10-150 200:win10-200; do
    python3 "$(dirname "$0")/../support/tray_screen.py" crop "$shots/${scale#*:}-signed-in.xwd" \
        "$artifacts/tray-icon-${scale%:*}.png" 904 708 120 60
done
for f in win7-balloon win10-balloon win7-popup; do
    python3 "$(dirname "$0")/../support/tray_screen.py" png "$shots/$f.xwd" "$artifacts/$f.png"
done
# The README's pictures: the balloon of a finished upload above the icon, the
# popup where Wine places it.
python3 "$(dirname "$0")/../support/tray_screen.py" crop "$shots/win10-balloon.xwd" "$artifacts/tray-balloon.png" 544 660 480 108
python3 "$(dirname "$0")/../support/tray_screen.py" crop "$shots/win7-popup.xwd" "$artifacts/tray-popup.png" 0 590 1024 178
cp "$scratch/err" "$artifacts/wine-stderr.txt"
if [ "$failures" != 0 ]; then
    echo "--- requests:"; tail -n 20 "$scratch/access.log"
fi
finish
