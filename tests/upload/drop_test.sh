#!/usr/bin/env bash
# Drops onto Vantorel.exe's popup in a Wine virtual desktop against the
# stand-in service: the driver (drop_driver_win.cpp) drags and checks what
# the service received; this script holds the mouse button over the tray
# icon so that the popup shows, then checks the prefix: every copy inside a
# drop folder of its own, none for the shell's file list, old drop folders
# removed at start.
# Usage: drop_test.sh NATIVE_BUILD RUNNER PREFIX INSTALL_DIR STAND_IN_EXE DRIVER_EXE AGENT_EXE
# AGENT_EXE: the agent built with a small cap on items of no given size.
set -u
native=$1 runner=$2 prefix=$3 install_src=$4 stand_in=$5 driver=$6 agent=$7
sim=$native/simulator/localsvc-sim
here=$(dirname "$0")
source "$here/../support/service_test_lib.sh"
source "$here/../support/tray_desktop_lib.sh"

# %TEMP% of the prefix's user (users/NAME/Temp, or AppData/Local/Temp).
temp_dirs() { find "$prefix/drive_c/users" -maxdepth 4 -type d -name Temp 2>/dev/null; }
clean_drops() { temp_dirs | while read -r t; do rm -rf "$t/Vantorel"; done; }
trap 'stop_run; stop_display; clean_drops; _service_test_cleanup' EXIT

sync=$scratch/sync
mkdir -p "$sync" "$scratch/install/jre/bin" "$scratch/files"
cp -r "$install_src"/. "$scratch/install/"
cp "$agent" "$scratch/install/Vantorel.exe"
cp "$stand_in" "$scratch/install/jre/bin/javaw.exe"
printf 'first' > "$scratch/files/a.txt"
printf 'second' > "$scratch/files/b&c.txt"

start_service --keep-running --upload-rate 0 --drive "C=$prefix/drive_c"
start_display || exit 1
export DISPLAY=$display

# Drop folders of earlier runs: one over a week old goes at start; a newer
# one and a folder of another name stay.
"$runner" --prefix "$prefix" --timeout 60 -- cmd /c exit > /dev/null 2>&1
temp=$(temp_dirs | head -n 1)
[ -n "$temp" ] || { echo "no temporary directory in the prefix"; exit 1; }
clean_drops
old=drop-0000000000000001-00000001-00000001 recent=drop-0000000000000002-00000001-00000001
for d in "$old" "$recent" drop-other; do mkdir -p "$temp/Vantorel/$d/inner" && echo x > "$temp/Vantorel/$d/inner/f"; done
touch -d '8 days ago' "$temp/Vantorel/$old" "$temp/Vantorel/drop-other"
touch -d '6 days ago' "$temp/Vantorel/$recent"

# One step of the driver: NAME READY_FILE.
serve() {
    case ${1##*-} in
        # Beside the icon, not on it: a press on the icon is a click.
        hold) xdotool mousemove 600 300 mousemove --sync 990 758 mousedown 1 ;;
        moveto_*) IFS=_ read -r _ x y <<< "${1##*-}"; xdotool mousemove --sync "$x" "$y" ;;
        xdnd_*)
            IFS=_ read -r _ x y <<< "${1##*-}"
            expect "a file manager's drop is taken" \
                python3 "$here/../support/xdnd_drop.py" "$x" "$y" "$scratch/files/b&c.txt" "$scratch/files/a.txt" ;;
        release) xdotool mouseup 1 mousemove 600 300 ;;
    esac
}
driver_args=("$(winpath "$driver")" "$(winpath "$sync")" "$(winpath "$scratch/install")"
             "$(winpath "$scratch/files")" "$(winpath "$scratch/root/cloud")")

# As Windows 7 in a virtual desktop, with its taskbar; as XP without one.
WINEDEBUG=warn+seh "$runner" --prefix "$prefix" --display "$display" --timeout 800 -- \
    explorer /desktop=shell,1024x768 "${driver_args[@]}" > "$scratch/out" 2> "$scratch/err" &
run_pid=$!
serve_steps serve
# A fresh service: the driver counts requests from its own start.
stop_service
start_service --keep-running --upload-rate 0 --drive "C=$prefix/drive_c"
WINEDEBUG=warn+seh "$runner" --prefix "$prefix" --display "$display" --timeout 300 -- \
    "$driver" "${driver_args[@]:1}" xp >> "$scratch/out" 2>> "$scratch/err" &
run_pid=$!
serve_steps serve
tr -d '\r' < "$scratch/out" | grep -v '^figure'
expect "driver checks passed in both runs" test "$(tr -d '\r' < "$scratch/out" | grep -cx '0 failed')" = 2
tr -d '\r' < "$scratch/out" | grep '^figure' | sed 's/^figure /  /'

expect "a drop folder over a week old is removed at start" test ! -e "$temp/Vantorel/$old"
expect "a newer one and a folder of another name stay" test -e "$temp/Vantorel/$recent/inner/f" -a -e "$temp/Vantorel/drop-other"
outside=$(find "$prefix" -name '*MARKER*' | grep -v "^$temp/Vantorel/drop-[0-9a-f-]*/" || true)
expect "no hostile name wrote outside its drop folder" test -z "$outside"
[ -z "$outside" ] || echo "$outside"
# Nine drops of virtual files; the shell's file lists made no copies.
made=$(find "$temp/Vantorel" -mindepth 1 -maxdepth 1 -name 'drop-*' -newer "$scratch/files/a.txt" | wc -l)
expect "one folder per virtual drop, none for file lists ($made)" test "$made" = 9

if [ "$failures" != 0 ]; then
    echo "--- agent debug output"; grep -a 'Drop\|OutputDebugString' "$scratch/err" | grep -v 'loginstate\|progress\|transferstatus\|storage\|/poll\|dldir' | tail -n 40
    echo "--- requests"; grep -v 'loginstate\|dldir\|transferstatus\|progress\|storage\|/poll' "$scratch/access.log" | tail -n 20
fi
finish
