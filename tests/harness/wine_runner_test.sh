#!/usr/bin/env bash
# Drives harness-probe.exe and thread-probe.exe through the Wine runner and
# checks what the runner promises: exit codes, stdout kept apart, debug output
# readable, faults reported as what they are, threads and windows working (also
# in a Wine virtual desktop), a retried prefix creation, a hard time-out, and
# nothing left running.
# Usage: wine_runner_test.sh RUNNER PREFIX PROBE_EXE THREAD_PROBE_EXE
set -u
runner=$1 prefix=$2 probe=$3 threads=$4
failures=0 cases=0
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

expect() {  # expect NAME CONDITION...
    local name=$1
    shift
    cases=$((cases + 1))
    if ! "$@"; then
        echo "FAIL $name"
        echo "  stdout: $(head -c 400 "$scratch/out")"
        echo "  stderr: $(tail -c 800 "$scratch/err")"
        failures=$((failures + 1))
    fi
}

run() {  # run [RUNNER OPTIONS] -- PROGRAM ARGS: sets rc
    "$runner" --prefix "$prefix" "$@" > "$scratch/out" 2> "$scratch/err"
    rc=$?
}

leftovers() {  # processes of this prefix still alive, its display among them
    local pid found=0
    for pid in $(pgrep -f 'wine|qemu-i386|Xvfb' 2>/dev/null); do
        if { tr '\0' '\n' < "/proc/$pid/environ"; } 2>/dev/null | grep -qx "WINEPREFIX=$prefix"; then
            echo "left running: $pid $({ tr '\0' ' ' < "/proc/$pid/cmdline"; } 2>/dev/null)"
            found=1
        fi
    done
    return $found
}

run -- "$probe" --exit 7
expect "exit code passes through" test "$rc" = 7
expect "program's stdout on stdout" grep -qx $'harness-probe stdout\r' "$scratch/out"
expect "nothing else on stdout" test "$(wc -l < "$scratch/out")" = 1

# Wine 8 reports a program's debug strings on its seh channel.
WINEDEBUG=warn+seh,+debugstr run -- "$probe"
expect "debug output readable on stderr" grep -q 'harness-probe debug line' "$scratch/err"
expect "debug output not on stdout" bash -c "! grep -q 'debug line' '$scratch/out'"
expect "exit 0" test "$rc" = 0

# Wine tells faults apart by the trap number the kernel (or the emulator)
# reports; a wrong one turns a bad pointer into an illegal instruction.
run -- "$probe" --faults
expect "bad write is an access violation at its address" \
    grep -qx $'harness-probe exception c0000005 write 00000010\r' "$scratch/out"
expect "division by zero is an integer divide error" \
    grep -qx $'harness-probe exception c0000094\r' "$scratch/out"

run --timeout 300 -- "$threads"
expect "threads, TLS, events and a message loop work" grep -qx $'thread-probe: ok\r' "$scratch/out"
expect "threaded program exits 0" test "$rc" = 0

# Explorer does not pass the program's exit code on: its output tells.
run --timeout 300 -- explorer /desktop=test,1024x768 "$threads"
expect "the same inside a Wine virtual desktop" grep -qx $'thread-probe: ok\r' "$scratch/out"

# A prefix creation that fails once (as wineboot under emulation has) is
# redone from scratch; the program then runs as usual.
mkdir -p "$scratch/bin"
cat > "$scratch/bin/wine" <<EOF
#!/bin/sh
if [ "\$1" = wineboot ] && [ ! -e "$scratch/failed-once" ]; then
    touch "$scratch/failed-once"
    mkdir -p "\$WINEPREFIX/drive_c"
    echo "wine: could not load kernel32.dll, status c0000135" >&2
    exit 1
fi
exec $(command -v wine) "\$@"
EOF
chmod +x "$scratch/bin/wine"
PATH=$scratch/bin:$PATH run --prefix "$scratch/fresh" -- "$probe" --exit 5
expect "failed prefix creation is retried" test "$rc" = 5
expect "the retry is logged" grep -q 'attempt 1 of 3 failed' "$scratch/err"
expect "the failure's log is shown" grep -q 'could not load kernel32.dll' "$scratch/err"

start=$SECONDS
run --timeout 15 -- "$probe" --hang
expect "time-out gives exit 124" test "$rc" = 124
expect "time-out is prompt" test $((SECONDS - start)) -lt 90
expect "nothing of the prefix left running, nor its display" leftovers

echo "$((cases - failures)) passed, $failures failed"
[[ $failures == 0 ]]
