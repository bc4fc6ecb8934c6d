#!/usr/bin/env bash
# The agent's tray icon code under Wine (tray-check.exe in a virtual
# desktop) as Windows XP, Vista and 7: each picture on screen, kept icon
# handles, the cut tooltip and balloon texts, the popup shown by the icon
# while the left button is held and hidden when it is released, the icon
# gone after removal. Keeps the screenshots in ARTIFACT_DIR.
# Usage: tray_icon_test.sh RUNNER PREFIX INSTALL_DIR TRAY_CHECK_EXE ARTIFACT_DIR
set -u
runner=$1 prefix=$2 install_src=$3 check=$4 artifacts=$5
source "$(dirname "$0")/../support/tray_desktop_lib.sh"

scratch=$(mktemp -d)
run_pid=
cleanup() {
    [ -n "$run_pid" ] && kill "$run_pid" 2>/dev/null && wait "$run_pid" 2>/dev/null
    stop_display
    rm -rf "$scratch"
}
trap cleanup EXIT
failures=0
cases=0
expect() {
    local name=$1
    shift
    cases=$((cases + 1))
    if "$@"; then echo "ok   $name"; else echo "FAIL $name"; failures=$((failures + 1)); fi
}

sync=$scratch/sync
shots=$artifacts
mkdir -p "$sync" "$shots" "$scratch/install"
rm -f "$shots"/*.png "$shots"/*.xwd
cp -r "$install_src"/. "$scratch/install/"
cp "$check" "$scratch/install/tray-check.exe"
winpath() { printf 'Z:%s' "${1//\//\\}"; }

start_display || exit 1
export DISPLAY=$display
WINEDEBUG=warn+seh,trace+tooltips "$runner" --prefix "$prefix" --display "$display" --timeout 400 -- \
    explorer /desktop=shell,1024x768 "$scratch/install/tray-check.exe" "$(winpath "$sync")" \
    > "$scratch/out" 2> "$scratch/err" &
run_pid=$!

for version in win7 vista winxp; do
    for id in 26 21 25 23 24; do
        wait_ready "$version-icon-$id" 120 || break 2
        shot "$version-icon-$id"
        expect "$version: icon $id on screen" test "$(tray_icon_id "$shots/$version-icon-$id.xwd")" = "$id"
        go "$version-icon-$id"
    done
    wait_ready "$version-balloon" 60 || break
    sleep 3  # the shell opens a balloon 2 s after it was asked for
    shot "$version-balloon"
    go "$version-balloon"
    wait_ready "$version-popup-down" 60 || break
    xdotool mousemove --sync 1013 758 mousedown 1
    sleep 1
    shot "$version-popup"
    go "$version-popup-down"
    wait_ready "$version-popup-up" 60 || break
    xdotool mouseup 1
    sleep 1
    go "$version-popup-up"
    wait_ready "$version-removed" 60 || break
    shot "$version-removed"
    expect "$version: no icon after removal" test "$(tray_icon_id "$shots/$version-removed.xwd")" = none
    go "$version-removed"
done
wait "$run_pid"
run_pid=
tr -d '\r' < "$scratch/out"
cp "$scratch/err" "$artifacts/wine-stderr.txt"
expect "tray-check passed every check" grep -qx 'tray-check: done' <(tr -d '\r' < "$scratch/out")

# What the shell made of the texts, from Wine's tooltip trace: one balloon
# per version, title and text cut to 63 and 255 units, the tooltip to 127.
lengths() { grep -o "$1" "$scratch/err" | sed 's/.*L"//; s/"$//' | awk '{ print length($0) }' | sort -u | tr '\n' ' '; }
expect "three balloons, titles cut to 63" test "$(grep -c 'title = L"Title h*"' "$scratch/err")/$(lengths 'title = L"Title h*"')" = "3/63 "
expect "balloon texts cut to 255" test "$(lengths 'add text L"Text x*"')" = "255 "
expect "tooltip cut to 127" test "$(lengths 'L"TTTTTTTTTT*"')" = "127 "
python3 "$(dirname "$0")/../support/tray_screen.py" strip "$artifacts/tray-states.png" \
    "$shots"/win7-icon-{26,21,25,23,24}.xwd
# Two whole screens kept as they were (popup and balloon), the rest dropped.
for f in win7-popup win7-balloon; do python3 "$(dirname "$0")/../support/tray_screen.py" png "$shots/$f.xwd" "$shots/$f.png"; done
rm -f "$shots"/*.xwd
echo "$((cases - failures)) of $cases checks passed"
[ "$failures" = 0 ]
