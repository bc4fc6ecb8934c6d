#!/usr/bin/env bash
# Vantorel.exe under Wine against the stand-in service: the signature
# diagnostic, the hidden tray window, a second copy that hands over with one
# showdragdrop request, and the quit request that tells the service to shut
# down before the agent leaves.
# Usage: agent_lifecycle_test.sh SIMULATOR INSTALL_DIR SERVICE_STAND_IN_EXE RUNNER... DRIVER_EXE
set -u
sim=$1
install_src=$2
stand_in=$3
shift 3
driver=("$@")
source "$(dirname "$0")/../support/service_test_lib.sh"

start_service --keep-running --login-state logged_in  # signed in: the pollers ask transferstatus too
mkdir -p "$scratch/install" "$scratch/empty"
cp -r "$install_src"/. "$scratch/install/"
mkdir -p "$scratch/install/jre/bin"
cp "$stand_in" "$scratch/install/jre/bin/javaw.exe"

"${driver[@]}" "$(winpath "$scratch/install")" "$(winpath "$scratch/empty")" > "$scratch/driver.out" 2> "$scratch/driver.err"
rc=$?
tr -d '\r' < "$scratch/driver.out"
expect "driver checks passed" test "$rc" = 0

# No GUI-resource leak check here: Wine's GetGuiResources is a stub that
# always answers 0, so the agent's report could never appear. The report's
# text is tested natively (lifecycle_text_test.cpp).

curl -sS "http://127.0.0.1:9333/sim/log" > "$scratch/log.json"
requests=$(python3 -c "
import json
print(' '.join(e['request'] or e['target'] for e in json.load(open('$scratch/log.json'))))")
count() { tr ' ' '\n' <<<"$requests" | grep -cx "$1"; }
expect "exactly one showdragdrop, from the second copy" test "$(count showdragdrop)" = 1
# one shutdown before the agent starts its service, one for the quit request
expect "two shutdown requests: at start and on quit" test "$(count shutdown)" = 2
# The pollers ask until the process ends, so only the commands keep an order.
commands=$(python3 -c "
import json
print(' '.join(e['request'] for e in json.load(open('$scratch/log.json'))
               if e['request'] not in ('loginstate-user', 'dldir', 'loginstate', 'transferstatus', 'poll',
                                       'storage', 'upload-progress', 'download-progress')))")
expect "the quit request's shutdown came last" test "${commands##* }" = shutdown
for request in loginstate-user dldir loginstate transferstatus poll storage upload-progress download-progress; do
    expect "the pollers asked $request" test "$(count "$request")" -gt 0
done

if [ "$failures" != 0 ]; then
    echo "--- requests: $requests"
    echo "--- driver stderr"; grep -v '^wine-run' "$scratch/driver.err" | tail -c 1500
fi
finish
