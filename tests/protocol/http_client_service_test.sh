#!/usr/bin/env bash
# The HTTP client from outside, against the stand-in service on 127.0.0.1:9333:
# what arrives (user agent, headers, exact body bytes), what comes back (text
# decoding, error bodies, the reply cap) and a service that stops listening.
# Runs the native http-probe, or http-probe.exe under Wine, once, in batch
# mode: every program start under the emulator costs seconds.
# Usage: http_client_service_test.sh SIMULATOR PROBE-COMMAND...
set -u
sim=$1
shift
probe=("$@")
windows=no
[[ "${probe[*]}" == *.exe* ]] && windows=yes
source "$(dirname "$0")/../support/service_test_lib.sh"

as_program_path() {  # the path as the probe sees it: Wine maps / to Z:
    if [ $windows = yes ]; then printf 'Z:%s' "${1//\//\\}"; else printf '%s' "$1"; fi
}

out() { cat "$scratch/b/$1.out"; }
rc() { cat "$scratch/b/$1.rc" 2>/dev/null || echo missing; }
size() { wc -c < "$scratch/b/$1.out"; }

# The log entry of the Nth service request (0-based), as a Python expression over `e`.
logged() {
    python3 -c "import json,sys; e=json.load(open('$scratch/log.json'))[$1]; print($2)"
}
header() {  # header N NAME
    logged "$1" "'\n'.join(v for k,v in e['headers'] if k.lower()=='$2'.lower())"
}

start_service --signed-in --upload-rate 0

# A file to upload, with a non-ASCII name and an ampersand.
name="caf$(printf '\xc3\xa9') & co.txt"
mkdir -p "$scratch/files" "$scratch/b"
printf 'first file\n' > "$scratch/files/$name"
as_program_path "$scratch/files/$name" > "$scratch/b/upload.in"
printf 'C:\\x\n' > "$scratch/b/upload2.in"
expected_body=$(expected_upload_body_hex "$scratch/b/upload.in")

endless_rate=50000000
[ $windows = yes ] && endless_rate=1000000
# Requests to /sim/ set up the next reply; they are not in the service's log.
force="http://127.0.0.1:9333/sim/force?request"
cat > "$scratch/batch" <<BATCH
storage get storage
f1 get $force=dldir&body_hex=636166c3a920e92041
text text dldir
f2 get $force=storage&status=500&body=oops
e500 get storage
f3 get $force=storage&status=404&body=
e404 get storage
f4 get $force=storage&size=16777216&body=x
cap get storage
f5 get $force=storage&size=16777217&body=x
over get storage
f6 get $force=storage&endless=1&rate=$endless_rate&body=endless
endless get storage
upload upload
settle sleep 1000
log get http://127.0.0.1:9333/sim/log
bye get shutdown
pause sleep 3000
gone get storage
upload2 upload
BATCH
"${probe[@]}" batch "$(as_program_path "$scratch/b")" < "$scratch/batch" > "$scratch/probe.out" 2> "$scratch/probe.err"
probe_rc=$?
# The batch ended with the shutdown command; a service still running after
# that is stopped here (and the checks below tell what went wrong).
for _ in $(seq 100); do kill -0 "$sim_pid" 2>/dev/null || break; sleep 0.1; done
stop_service
cp "$scratch/b/log.out" "$scratch/log.json" 2>/dev/null

expect "probe ran every line" test "$probe_rc" = 0

# A GET carries the agent's user agent and form header; the reply comes back whole.
expect "GET storage succeeds" test "$(rc storage)" = 0
expect "storage reply delivered" grep -q '"totalSpace"' "$scratch/b/storage.out"
expect "GET target as written" test "$(logged 0 "e['method'] + ' ' + e['request']")" = "GET storage"
expect "GET user agent" test "$(header 0 User-Agent)" = "ZozeviRivudaDuviv"
expect "GET content type" test "$(header 0 Content-Type)" = "application/x-www-form-urlencoded"

# Text: UTF-8 decoded, a stray byte widened to one unit (read back here as UTF-8).
expect "text GET succeeds" test "$(rc text)" = 0
expect "UTF-8 decoded, stray byte kept" test "$(od -An -tx1 "$scratch/b/text.out" | tr -d ' \n')" = "636166c3a920c3a92041"

# Error replies count as replies.
expect "500 body delivered" test "$(rc e500):$(out e500)" = "0:oops"
expect "empty 404 reply is still a reply" test "$(rc e404):$(size e404)" = "0:0"

# The reply cap: exactly 16 MiB passes, one byte more is refused whole. The
# endless reply trickles under Wine (1 MB/s): Wine's client drains whatever is ready when
# a handle closes, so a sender faster than the emulated reader would hold it
# there for as long as it sends.
expect "16 MiB reply delivered" test "$(rc cap):$(size cap)" = "0:16777216"
expect "16 MiB + 1 refused, nothing delivered" test "$(rc over):$(size over)" = "1:0"
expect "endless reply cut off" test "$(rc endless):$(size endless)" = "1:0"

# A POST: the upload body as UTF-8, its byte count, and the form header.
post=$(python3 -c "
import json
log=json.load(open('$scratch/log.json'))
print([i for i,e in enumerate(log) if e['method']=='POST'][0])" 2>/dev/null || echo 0)
expect "POST sent" test "$(rc upload)" = 0
expect "POST target" test "$(logged "$post" "e['method'] + ' ' + e['target']")" = "POST /filetransfer"
expect "POST body is the UTF-8 upload body" test "$(logged "$post" "e['body_hex']")" = "$expected_body"
expect "POST byte count is the UTF-8 length" test "$(header "$post" Content-Length)" = "$((${#expected_body} / 2))"
expect "POST content type" test "$(header "$post" Content-Type)" = "application/x-www-form-urlencoded;charset=UTF-8;"
expect "POST user agent" test "$(header "$post" User-Agent)" = "ZozeviRivudaDuviv"
expect "body written to the debug output" grep -q 'localpath=' "$scratch/probe.err"
expect "the service uploaded the file" cmp -s "$scratch/files/$name" "$scratch/root/cloud/$name"

# Nothing listening: false, and the error code in the debug output.
expect "no service: GET fails" test "$(rc gone):$(size gone)" = "1:0"
# Wine shows each debug string on its own line, quoted and escaped.
if [ $windows = yes ]; then
    debug=$(sed -n 's/.*OutputDebugString[AW] "\(.*\)"$/\1/p' "$scratch/probe.err" | tr -d '\n')
    # ERROR_INTERNET_CANNOT_CONNECT, as Windows reports a refused connection
    expect "no service: error code reported" grep -Fq 'InternetOpenUrl error: 12029\n' <<<"$debug"
else
    expect "no service: error code reported" grep -Eq 'InternetOpenUrl error: [0-9]+$' "$scratch/probe.err"
fi
expect "no service: POST fails" test "$(rc upload2)" = 1

if [ "$failures" != 0 ]; then
    echo "--- probe stderr"; grep -v '^wine-run' "$scratch/probe.err" | tail -c 2000
    echo "--- service log"; tail -n 30 "$scratch/access.log"
fi
finish
