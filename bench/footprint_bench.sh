#!/usr/bin/env bash
# What the agent costs at rest beyond the requests it must make: Vantorel.exe
# (signed in, idle) and poll-floor.exe (the same requests at the same rhythm,
# nothing else) in one Wine session against the stand-in service, driven by
# footprint-driver.exe. The two take turns in slices (the one not measured
# is stopped, and each round starts with the other one), so that the
# wineserver's time of a slice is the measured program's and the machine's
# other load falls on both alike. Four phases: idle, during an upload, with
# the agent's menu open, and after DROPS drops (the floor sending as many
# upload requests). Prints one line per phase: CPU per second of each
# (process, then wineserver), their ratio, requests per second of each, and
# the private dirty memory and thread count of each process.
# Usage: footprint_bench.sh [--seconds S] [--slice S] [--drops N] NATIVE_BUILD RUNNER TEMPLATE_PREFIX
#                           PREFIX INSTALL_DIR STAND_IN_EXE DRIVER_EXE FLOOR_EXE
#   --seconds: measured time of each program in each phase (60); --slice: length of a turn (3)
set -u
seconds=60 slice=3 drops=100
while [ $# -gt 0 ]; do
    case $1 in
        --seconds) seconds=$2; shift 2 ;;
        --slice) slice=$2; shift 2 ;;
        --drops) drops=$2; shift 2 ;;
        *) break ;;
    esac
done
native=$1 runner=$2 template=$3 prefix=$4 install_src=$5 stand_in=$6 driver=$7 floor=$8
sim=$native/simulator/localsvc-sim
probe=$native/probes/http-probe
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../tests/support/service_test_lib.sh"
source "$here/../tests/support/tray_desktop_lib.sh"

agent_pid= floor_pid= ws_pid=
resume_both() { for p in $agent_pid $floor_pid; do kill -CONT "$p" 2>/dev/null; done; }
trap 'resume_both; stop_run; stop_display; _service_test_cleanup' EXIT

# A prefix of its own, fresh from the test prefix's template.
rm -rf "$prefix"
if [ -f "$template.template.tar" ]; then
    cp "$template.template.tar" "$prefix.template.tar"
    cp "$template.template.tar.id" "$prefix.template.tar.id"
fi
sync=$scratch/sync
mkdir -p "$sync" "$scratch/install/jre/bin" "$scratch/files"
cp -r "$install_src"/. "$scratch/install/"
cp "$stand_in" "$scratch/install/jre/bin/javaw.exe"
cp "$floor" "$scratch/install/poll-floor.exe"
printf 'first' > "$scratch/files/a.txt"
printf 'second' > "$scratch/files/b&c.txt"

rate=1000000
start_service --keep-running --signed-in --upload-rate "$rate" --completed-hold 0
start_display || exit 1
export DISPLAY=$display
# Every process of this session carries the tag: that is how they are found.
# A session of its own: a process group with a stopped member that becomes
# orphaned (its last link to an outside parent exits) is sent SIGHUP by the
# kernel, which ends every Wine process in it.
export VANTOREL_FOOTPRINT_RUN="fp$$.$RANDOM"
setsid "$runner" --prefix "$prefix" --display "$display" --timeout $((seconds * 12 + 900)) -- \
    explorer /desktop=shell,1024x768 "$(winpath "$driver")" "$(winpath "$sync")" "$(winpath "$scratch/install")" \
    "$(winpath "$scratch/install/poll-floor.exe")" "$(winpath "$scratch/files")" "$drops" \
    > "$scratch/out" 2> "$scratch/err" &
run_pid=$!

tagged_program() {  # NAME: the tagged process whose program is NAME (lower case)
    local proc program
    for proc in /proc/[0-9]*; do
        { tr '\0' '\n' < "$proc/environ" | grep -qx "VANTOREL_FOOTPRINT_RUN=$VANTOREL_FOOTPRINT_RUN"; } 2>/dev/null ||
            continue
        # Past the emulator and Wine's loader, where 32-bit code is emulated.
        program=$( { tr '\0' '\n' < "$proc/cmdline"; } 2>/dev/null | awk '
            { name = $0; sub(/.*[\\\/]/, "", name) }
            name ~ /^(qemu-i386.*|wine|wine64|wine-preloader|wine64-preloader)$/ { next }
            { print tolower(name); exit }')
        case $program in $1) echo "${proc#/proc/}"; return 0 ;; esac
    done
    return 1
}
cpu_ticks() { sed 's/.*) //' "/proc/$1/stat" | awk '{ print $12 + $13 }'; }
private_dirty_kib() { awk '/^Private_Dirty:/ { print $2 }' "/proc/$1/smaps_rollup"; }
requests() { curl -s "http://127.0.0.1:9333/sim/state" | python3 -c 'import json,sys; print(json.load(sys.stdin)["requests"])'; }
hz=$(getconf CLK_TCK)

# One turn of WHO (agent or floor): the other stopped, WHO running for a slice.
declare -A ws_ticks requests_made memory threads
turn() {
    local who=$1 pid other w0 r0
    if [ "$who" = agent ]; then pid=$agent_pid other=$floor_pid; else pid=$floor_pid other=$agent_pid; fi
    kill -STOP "$other" 2>/dev/null && kill -CONT "$pid" 2>/dev/null || return 1
    w0=$(cpu_ticks "$ws_pid") r0=$(requests)
    sleep "$slice"
    kill -STOP "$pid"
    ws_ticks[$who]=$((ws_ticks[$who] + $(cpu_ticks "$ws_pid") - w0))
    requests_made[$who]=$((requests_made[$who] + $(requests) - r0))
    memory[$who]=$(private_dirty_kib "$pid")
    threads[$who]=$(ls "/proc/$pid/task" | wc -l)
}

# PHASE: turns until each has run $seconds, then one line of figures.
measure() {
    local phase=$1 rounds=$(((seconds + slice - 1) / slice)) round a0 f0
    ws_ticks=([agent]=0 [floor]=0) requests_made=([agent]=0 [floor]=0)
    # A stopped process uses no CPU: their own totals need no turns.
    a0=$(cpu_ticks "$agent_pid") f0=$(cpu_ticks "$floor_pid")
    for ((round = 0; round < rounds; round++)); do
        if ((round % 2 == 0)); then turn agent && turn floor; else turn floor && turn agent; fi ||
            { echo "$phase: the agent or the floor has ended"; agent_pid=; return 1; }
    done
    local a=$(($(cpu_ticks "$agent_pid") - a0)) f=$(($(cpu_ticks "$floor_pid") - f0))
    resume_both
    python3 - "$phase" "$hz" "$((rounds * slice))" "$a" "${ws_ticks[agent]}" "$f" "${ws_ticks[floor]}" \
        "${requests_made[agent]}" "${requests_made[floor]}" "${memory[agent]}" "${memory[floor]}" \
        "${threads[agent]}" "${threads[floor]}" >> "$scratch/figures" <<'PY'
import sys
phase, hz, span = sys.argv[1], int(sys.argv[2]), float(sys.argv[3])
a, aws, f, fws, ar, fr, am, fm, at, ft = (int(x) for x in sys.argv[4:14])
ms = lambda ticks: ticks * 1000.0 / hz / span
agent, floor = ms(a + aws), ms(f + fws)
print("figure %-10s %6.1f = %5.1f + %5.1f %6.1f = %5.1f + %5.1f %6.3f %6.1f %5.1f %7.2f %6.2f %+6.2f %4d %4d" % (
          phase, agent, ms(a), ms(aws), floor, ms(f), ms(fws), agent / floor if floor else 0,
          ar / span, fr / span, am / 1024, fm / 1024, (am - fm) / 1024, at, ft))
PY
}

load=$(cut -d' ' -f1-3 /proc/loadavg)
serve() {
    local step=${1#*-}
    case $step in
        ready)
            agent_pid=$(tagged_program vantorel.exe) floor_pid=$(tagged_program poll-floor.exe)
            ws_pid=$(tagged_program 'wineserver*')
            if [ -z "$agent_pid" ] || [ -z "$floor_pid" ] || [ -z "$ws_pid" ]; then
                echo "not found: agent '$agent_pid', floor '$floor_pid', wineserver '$ws_pid'"
                return
            fi
            measure idle || return
            # One file that lasts the whole phase at the service's rate.
            truncate -s $((rate * (4 * seconds + 4 * slice + 20))) "$scratch/files/large.bin"
            printf '%s\n' "$scratch/files/large.bin" | "$probe" upload > /dev/null 2>&1
            sleep 2
            measure upload || return
            "$probe" get cancel-all > /dev/null 2>&1
            sleep 2 ;;
        menu) [ -n "$agent_pid" ] && measure menu ;;
        dropped) [ -n "$agent_pid" ] && measure "$drops-drops" ;;
    esac
}
serve_steps serve
load="$load, at the end $(cut -d' ' -f1-3 /proc/loadavg)"

figures=$(cat "$scratch/figures" 2>/dev/null)
tr -d '\r' < "$scratch/out" | grep -v '^figure'
echo "load $load"
echo "figure per second: CPU ms (process + wineserver)                requests      private dirty MiB    threads"
echo "figure phase       agent                floor                ratio  agent floor   agent  floor   diff agent floor"
printf '%s\n' "$figures"
expect "driver checks passed" grep -qx '0 failed' <(tr -d '\r' < "$scratch/out")
expect "figures of all four phases" test "$(printf '%s\n' "$figures" | grep -c '^figure')" = 4
finish
