#!/usr/bin/env bash
# The agent's upload thread under Wine against the stand-in service: one POST
# per call with exactly the upload body, the body in the debug output, and the
# service really receiving the files.
# Usage: upload_thread_test.sh SIMULATOR CHECK-COMMAND...
set -u
sim=$1
shift
check=("$@")
source "$(dirname "$0")/../support/service_test_lib.sh"
start_service --upload-rate 0

mkdir -p "$scratch/files/Q&A folder"
printf 'one' > "$scratch/files/r$(printf '\xc3\xa9')sum$(printf '\xc3\xa9').txt"
printf 'two' > "$scratch/files/Q&A folder/inner.txt"
for f in "r$(printf '\xc3\xa9')sum$(printf '\xc3\xa9').txt" "Q&A folder"; do
    printf 'Z:%s\n' "${scratch//\//\\}\\files\\$f"
done > "$scratch/paths"

"${check[@]}" --thread < "$scratch/paths" > "$scratch/out" 2> "$scratch/err"
rc=$?
expect "check program ran" test "$rc" = 0

curl -sS "http://127.0.0.1:9333/sim/log" > "$scratch/log.json"
expected=$(expected_upload_body_hex "$scratch/paths")
bodies=$(python3 -c "
import json
for e in json.load(open('$scratch/log.json')):
    print(e['method'], e['target'], e['body_hex'])")
expect "one POST per upload thread, both exact" \
    test "$bodies" = "$(printf 'POST /filetransfer %s\nPOST /filetransfer %s' "$expected" "$expected")"
# the thread writes the body, then the POST writes it once more
debug_count=$(grep -c 'OutputDebugString[AW] "action=upload&cloudpath=&localpath=\[' "$scratch/err")
expect "body written to the debug output twice per upload" test "$debug_count" = 4
curl -sS "http://127.0.0.1:9333/sim/wait?request=filetransfer&count=2&timeout=5000" > /dev/null
for _ in $(seq 100); do
    [ -f "$scratch/root/cloud/Q&A folder/inner.txt" ] && [ -f "$scratch/root/cloud/r$(printf '\xc3\xa9')sum$(printf '\xc3\xa9').txt" ] && break
    sleep 0.1
done
expect "the service received the file" cmp -s "$scratch/files/r$(printf '\xc3\xa9')sum$(printf '\xc3\xa9').txt" \
    "$scratch/root/cloud/r$(printf '\xc3\xa9')sum$(printf '\xc3\xa9').txt"
expect "the service received the folder" cmp -s "$scratch/files/Q&A folder/inner.txt" "$scratch/root/cloud/Q&A folder/inner.txt"

if [ "$failures" != 0 ]; then
    echo "--- check stderr"; grep -v '^wine-run' "$scratch/err" | tail -c 2000
    echo "--- service log"; tail -n 20 "$scratch/access.log"
fi
finish
