#!/usr/bin/env bash
# One Vantorel.exe in a Wine virtual desktop for SECONDS against a stand-in
# service that is killed, restarted, frozen, made to answer malformed, empty,
# huge and slow replies, signed in and out in quick turns and flooded with
# events; one fault per round. In each round the driver (soak_driver_win.cpp)
# chooses a menu item, drops a file on the popup and runs Send To, during the
# fault and again once it is over. Checks: the agent never stops, its window
# answers every message, after each fault its tray icon shows the service's
# state within 20 s, what was sent while the service was well was accepted,
# what the service accepted is in its cloud folder byte for byte, and, on a
# run long enough for it, that its handles, threads and private memory grow
# by less than 1 % per ten minutes after a two-minute warm-up. Of the memory,
# what Wine's WinINet keeps for every request (about a hundred bytes, which
# the driver measures in its own process first) is not the agent's.
# Usage: soak_test.sh NATIVE_BUILD RUNNER TEMPLATE_PREFIX PREFIX INSTALL_DIR STAND_IN_EXE DRIVER_EXE SECONDS
set -u
native=$1 runner=$2 template=$3 prefix=$4 install_src=$5 stand_in=$6 driver=$7 soak_seconds=$8
prefix=$(realpath -m "$prefix") driver=$(realpath "$driver")
sim=$native/simulator/localsvc-sim
here=$(cd "$(dirname "$0")" && pwd)
check=$here/soak_check.py
source "$here/../support/service_test_lib.sh"
source "$here/../support/tray_desktop_lib.sh"

# A service left frozen would not hear the stop.
soak_cleanup() {
    [ -n "$sim_pid" ] && kill -CONT "$sim_pid" 2>/dev/null
    [ -n "${flap_pid:-}" ] && kill "$flap_pid" 2>/dev/null
    stop_run
    stop_display
    _service_test_cleanup
}
trap soak_cleanup EXIT

warmup=120
min_growth_span=300
sync=$scratch/sync
shots=$scratch/shots
files=$scratch/files
mkdir -p "$sync" "$shots" "$files" "$scratch/install/jre/bin"
cp -r "$install_src"/. "$scratch/install/"
cp "$stand_in" "$scratch/install/jre/bin/javaw.exe"
install=$(cd "$scratch/install" && pwd -P)

# A fresh prefix of the soak's own, from the build tree's template.
rm -rf "$prefix"
if [ -f "$template.template.tar" ]; then
    ln -f "$template.template.tar" "$prefix.template.tar" 2>/dev/null ||
        cp "$template.template.tar" "$prefix.template.tar"
    cp "$template.template.tar.id" "$prefix.template.tar.id"
fi

api=http://127.0.0.1:9333
sim_get() { curl -sS -o /dev/null --max-time 10 "$api/sim/$1"; }
force() { curl -sS -o /dev/null --max-time 10 --get "$api/sim/force" --data-urlencode "request=$1" "${@:2}"; }
event() {
    curl -sS -o /dev/null --max-time 10 --get "$api/sim/event" --data-urlencode "type=$1" \
        --data-urlencode "event=$2" --data-urlencode "message=$3"
}
# Uploads take well under a second; a finished batch shows "completed" for
# 3 s, then idle.
service_args=(--keep-running --drive "C=$prefix/drive_c" --upload-rate 1000000 --login-delay 400
              --logout-delay 300 --poll-timeout 2000 --completed-hold 3000
              --used-space 5368709120 --total-space 10737418240)
last_seq=0
# Requests of the stopped services, so that the samples count all of the agent's.
requests_before=0
service_requests() {
    curl -sS --max-time 5 "$api/sim/state" |
        python3 -c 'import json,sys; print(json.load(sys.stdin)["requests"])' 2>/dev/null || echo 0
}
count_requests() { requests_before=$((requests_before + $(service_requests))); }
restart_service() { start_service "${service_args[@]}" --login-state logged_in; last_seq=0; }
# The upload requests the service logged so far, kept across its restarts.
collect() { last_seq=$(python3 "$check" collect "$last_seq" "$scratch/uploads.jsonl" || echo "$last_seq"); }

converge_times=()
changed_at=
changed() { changed_at=$(date +%s.%N); }
converge() {  # NAME [ICON]: the icon shows the service's state (ICON) within 20 s of the last change
    local line
    line=$(CONVERGE_SINCE=$changed_at python3 "$check" converge "$1" 20 "$shots" "${@:2}")
    echo "  $line"
    case $line in
        # Gone is looked at when the fault ends, seconds after the kill: no time of its own.
        converged*-gone\ *) ;;
        converged*) converge_times+=("${line##* }") ;;
        *) failures=$((failures + 1)) ;;
    esac
    cases=$((cases + 1))
}

# The agent's Linux process: the one whose program is Vantorel.exe, running
# in the install folder (its command line is the Windows one, or starts with
# the emulator and Wine's loader where 32-bit code is emulated).
agent_pid=
find_agent() {
    local proc program
    for proc in /proc/[0-9]*; do
        [ "$(readlink "$proc/cwd" 2>/dev/null)" = "$install" ] || continue
        program=$( { tr '\0' '\n' < "$proc/cmdline"; } 2>/dev/null | awk '
            { name = $0; sub(/.*[\\\/]/, "", name) }
            name ~ /^(qemu-i386.*|wine|wine64|wine-preloader|wine64-preloader)$/ { next }
            { print tolower(name); exit }')
        [ "$program" = vantorel.exe ] && { agent_pid=${proc#/proc/}; return 0; }
    done
    return 1
}

faults=(kill malformed freeze flap huge restart empty slow flood)
round=0 fault= fault_since=0 flap_pid= soak_start= driver_pid= calibration_start=0 bytes_per_request=0
head -c 3000000 /dev/urandom > "$scratch/bulk.bin"

at_least() {  # SECONDS since the fault began
    local left=$(($1 - (SECONDS - fault_since)))
    [ "$left" -gt 0 ] && sleep "$left"
}

begin_fault() {
    case $fault in
        kill)  # in the middle of a transfer of the service's own
            python3 "$check" transfers-done 30
            collect
            curl -sS -o /dev/null "$api/filetransfer" \
                --data-binary "action=upload&cloudpath=&localpath=[\"$scratch/bulk.bin\"]"
            sleep 1.2
            count_requests
            { kill -KILL "$sim_pid"; changed; wait "$sim_pid"; } 2>/dev/null; sim_pid= ;;
        restart)
            python3 "$check" transfers-done 30
            collect
            count_requests
            stop_service; changed ;;
        freeze) kill -STOP "$sim_pid" ;;
        malformed)
            force storage --data-urlencode 'body={"usedSpace":' --data times=always
            force upload-progress --data-urlencode 'body=[{"fileCounts":' --data times=always
            force download-progress --data-urlencode 'body={"fileCounts":[1,2' --data times=always
            force dldir --data body_hex=ff00fe0d0a5c5c3f --data times=always
            force loginstate-user --data-urlencode 'body=logged_ou' --data times=always
            force loginstate --data-urlencode 'body=logged_' --data times=always
            force transferstatus --data status=500 --data-urlencode 'body=<html>oops</html>' --data times=always
            force poll --data-urlencode 'body={"type":"UPLOAD","event":"COMPLETED","message":' --data times=3
            curl -sS -o /dev/null "$api/sim/event" --data-binary '{"type":"UPLOAD","event":' ;;
        empty)
            local request
            for request in loginstate-user dldir loginstate transferstatus poll storage upload-progress \
                           download-progress; do
                force "$request" --data body= --data times=always
            done ;;
        huge)  # over the agent's 16 MiB limit, and merely large
            force storage --data-urlencode 'body={"usedSpace":1,' --data size=20000000 --data times=2
            force upload-progress --data-urlencode 'body=[{"fileCounts":{"RUNNING":1},' --data size=3000000 \
                --data times=3
            force poll --data-urlencode 'body={"type":"UPLOAD",' --data endless=1 --data times=1
            force dldir --data-urlencode 'body=C:\very\long\' --data size=1000000 --data times=2
            force loginstate --data body=logged_in --data size=2000000 --data times=2 ;;
        slow)
            force loginstate-user --data delay=3000 --data times=2
            force transferstatus --data delay=2500 --data times=2
            force storage --data-urlencode 'body={"usedSpace":1,"totalSpace":2}' --data size=4000 \
                --data rate=2000 --data times=2
            force upload-progress --data size=10000 --data rate=5000 --data times=1
            force poll --data delay=6000 --data times=1 ;;
        flap)  # signed out, in and out in quick turns, ending signed out
            (
                for state in logged_out logging_in logged_in logging_out logged_in logged_out logging_in; do
                    sim_get "login?state=$state"; sleep 0.6
                done
                curl -sS -o /dev/null --get "$api/control" --data action=logout
                sleep 0.5
                curl -sS -o /dev/null --get "$api/control" --data action=login
                sleep 0.2
                sim_get "login?state=logged_out"
            ) &
            flap_pid=$! ;;
        flood)  # more events than the agent takes in a round, some malformed
            local i kinds=(COMPLETED ERRORED SCHEDULED PAUSED RESUMED CANCELLED REFRESHED)
            for i in $(seq 30); do
                event UPLOAD "${kinds[i % ${#kinds[@]}]}" "flood $round.$i $(printf 'x%.0s' $(seq $((i * 9))))"
            done
            event TIME_OUT COMPLETED "nothing"
            event DOWNLOAD COMPLETED 'C:\Users\Ann Lee\Downloads\report "final".pdf'
            curl -sS -o /dev/null "$api/sim/event" --data-binary '{"type":"UPLOAD","event":"ERRORED","message":'
            curl -sS -o /dev/null "$api/sim/event" --data-binary '[1,2,3]' ;;
    esac
    fault_since=$SECONDS
}

end_fault() {
    case $fault in
        kill|restart)
            at_least 4
            converge "$round-$fault-gone" 26
            restart_service; changed ;;
        freeze) at_least 4; kill -CONT "$sim_pid"; changed ;;
        malformed|empty|huge|slow) at_least 4; sim_get force/clear; changed ;;
        flap)
            wait "$flap_pid"; flap_pid=; changed
            converge "$round-flap-signed-out"
            sim_get "login?state=logging_in"; changed ;;
        flood) changed ;;
    esac
}

# One step of the driver: NAME READY_FILE.
serve() {
    local name=$1 ready=$2 step=${1#*-} go=$sync/$1.go
    case $step in
        calibrate-begin|calibrate-end)  # the driver's private memory around its requests
            local proc
            for proc in /proc/[0-9]*; do
                tr '\0' '\n' < "$proc/cmdline" 2>/dev/null | head -n 1 | grep -qi 'soak-driver\.exe$' &&
                    driver_pid=${proc#/proc/}
            done
            read -r _ _ private < <(python3 "$check" process "$driver_pid" 2>/dev/null || echo "0 0 0")
            if [ "$step" = calibrate-begin ]; then
                calibration_start=$private
                # Enough for the heap's steps to count little (about 1 MiB);
                # none when the growth is not checked.
                if [ "$soak_seconds" -ge $((warmup + min_growth_span)) ]; then
                    printf 10000 > "$go.tmp"
                else
                    printf 0 > "$go.tmp"
                fi
                mv "$go.tmp" "$go"
            elif [ "$(cat "$ready")" -gt 0 ]; then
                bytes_per_request=$(( (private - calibration_start) * 1024 / $(cat "$ready") ))
                [ "$bytes_per_request" -ge 0 ] || bytes_per_request=0
                echo "  Wine's WinINet keeps $bytes_per_request bytes per request" \
                    "($calibration_start -> $private KiB private dirty over $(cat "$ready") requests)"
            fi ;;
        started)
            find_agent || echo "  the agent's process was not found"
            changed; converge signed-out-at-start
            sim_get "login?state=logging_in"; changed
            converge signed-in
            soak_start=$SECONDS ;;
        round)
            if [ $((SECONDS - soak_start)) -ge "$soak_seconds" ]; then
                printf stop > "$go.tmp"
            else
                fault=${faults[round % ${#faults[@]}]}
                round=$((round + 1))
                echo "round $round at $((SECONDS - soak_start)) s: $fault"
                begin_fault
                printf '%s' "$fault" > "$go.tmp"
            fi
            mv "$go.tmp" "$go" ;;
        heal)  # the state after the fault, then a change the agent must follow
            end_fault
            converge "$round-$fault"
            curl -sS -o /dev/null "$api/filetransfer" \
                --data-binary "action=upload&cloudpath=&localpath=[\"$scratch/bulk.bin\"]"
            changed; converge "$round-$fault-busy" 25 ;;
        sample|end)
            [ "$step" = end ] && python3 "$check" transfers-done 60
            collect
            local handles working_set threads pool private
            read -r handles working_set < "$ready"
            read -r threads pool private < <(python3 "$check" process "$agent_pid" 2>/dev/null || echo "0 0 0")
            echo "$((SECONDS - soak_start)) $handles $threads $private $working_set $pool" \
                "$((requests_before + $(service_requests)))" >> "$scratch/samples"
            { echo "$((SECONDS - soak_start)):"; cat /proc/"$agent_pid"/task/*/comm 2>/dev/null | sort | uniq -c; } \
                >> "$scratch/threads"
            echo "  sample: $handles handles, $threads threads (and $pool of Wine's pool), $private KiB private dirty," \
                "$working_set KiB working set" ;;
        # From elsewhere onto the icon: a move to where the pointer already
        # is would never report its end.
        click-left) xdotool mousemove 600 300 mousemove --sync 1013 758 click 1 ;;
        # Beside the icon, not on it: a press on the icon is a click.
        hold) xdotool mousemove 600 300 mousemove --sync 990 758 mousedown 1 ;;
        moveto_*) IFS=_ read -r _ x y <<< "$step"; xdotool mousemove --sync "$x" "$y" ;;
        release) xdotool mouseup 1 mousemove 600 300 ;;
    esac
}

# serve_steps with a limit: a driver that makes no step for 5 minutes hangs
# (its longest wait, for a Send To run, is 150 s).
serve_watched() {
    local ready name last=$SECONDS
    while kill -0 "$run_pid" 2>/dev/null; do
        for ready in "$sync"/*.ready; do
            [ -e "$ready" ] || continue
            name=$(basename "$ready" .ready)
            [ -e "$sync/$name.go" ] && continue
            serve "$name" "$ready"
            touch "$sync/$name.go"
            last=$SECONDS
        done
        if [ $((SECONDS - last)) -gt 300 ]; then
            echo "FAIL the driver made no step for 300 s, after $(ls "$sync" | tail -n 1)"
            failures=$((failures + 1)) cases=$((cases + 1))
            stop_run
            return
        fi
        sleep 0.1
    done
    wait "$run_pid"
    run_pid=
}

restart_service
sim_get "login?state=logged_out"
start_display || exit 1
export DISPLAY=$display
started=$SECONDS
WINEDEBUG=warn+seh "$runner" --prefix "$prefix" --display "$display" --timeout $((soak_seconds + 900)) -- \
    explorer /desktop=shell,1024x768 "$(winpath "$driver")" "$(winpath "$sync")" "$(winpath "$scratch/install")" \
    "$(winpath "$files")" > "$scratch/out" 2> "$scratch/err" &
run_pid=$!
serve_watched
echo "the soak ran $((SECONDS - soak_start)) s of faults in $round rounds, $((SECONDS - started)) s in all"

tr -d '\r' < "$scratch/out" | grep -v '^upload ' | grep -v '^figure' | grep -v '^ok ' || true
tr -d '\r' < "$scratch/out" > "$scratch/out.txt"
# The session's exit code is the desktop's, not the driver's: its last line counts.
expect "driver checks passed ($(grep -c '^ok ' "$scratch/out.txt") checks)" grep -qx '0 failed' "$scratch/out.txt"
expect "at least two rounds of faults ran" test "$round" -ge 2
expect "no unhandled exception" bash -c "! grep -a -i 'unhandled\|wine: .*fault' '$scratch/err'"

python3 "$check" uploads "$scratch/out.txt" "$scratch/uploads.jsonl" "$files" "$scratch/root/cloud" \
    > "$scratch/uploads.out"
expect "the upload accounting ran" test $? -le 1
python3 "$check" growth "$scratch/samples" "$warmup" "$min_growth_span" 1 "$bytes_per_request" \
    > "$scratch/growth.out"
expect "the growth figures were read" test $? -le 1
while read -r line; do
    case $line in
        "ok   "*) cases=$((cases + 1)); echo "$line" ;;
        "FAIL "*) cases=$((cases + 1)); failures=$((failures + 1)); echo "$line" ;;
        *) echo "$line" ;;
    esac
done < <(cat "$scratch/uploads.out" "$scratch/growth.out")
grep '^figure' "$scratch/out.txt"
if [ ${#converge_times[@]} -gt 0 ]; then
    printf '%s\n' "${converge_times[@]}" | sort -n | awk '
        { t[NR] = $1 } END { printf "figure converged %d times, median %.1f s, slowest %.1f s\n", NR, t[int((NR + 1) / 2)], t[NR] }'
fi
echo "samples (seconds, handles, threads, private dirty KiB, working set KiB, Wine's pool threads, requests):"
sed 's/^/  /' "$scratch/samples" 2>/dev/null

if [ "$failures" != 0 ]; then
    echo "--- agent debug output and Wine's errors (tail)"
    grep -a -v 'OutputDebugStringA "\(InternetOpenUrl\|{\|\\n\)' "$scratch/err" | tail -n 40
fi
# Kept for whoever reads the run.
if [ -n "${SOAK_ARTIFACTS:-}" ]; then
    mkdir -p "$SOAK_ARTIFACTS"
    rm -f "$SOAK_ARTIFACTS"/*
    cp "$scratch/err" "$scratch/out.txt" "$scratch/samples" "$scratch/threads" "$scratch/uploads.jsonl" \
        "$shots"/not-converged-* \
        "$SOAK_ARTIFACTS/" 2>/dev/null
fi
finish
