#!/usr/bin/env bash
# The four poller threads (built with ThreadSanitizer) for about a minute
# against a stand-in service that is killed, restarted, frozen, made to send
# malformed, empty and slow replies, signs in and out, uploads and sends
# events. Then: no sanitizer report, no crash, and the Agent state agrees
# with the service's own state.
# Usage: poller_soak_test.sh SIMULATOR POLLER_SOAK
set -u
sim=$1
soak=$2
source "$(dirname "$0")/../support/service_test_lib.sh"

api=http://127.0.0.1:9333
options=(--poll-timeout 1500 --login-delay 2000 --logout-delay 1000 --completed-hold -1
         --upload-rate 2000000 --used-space 5368709120 --total-space 10737418240)
ctl() { curl -sS -o /dev/null --get "$api/$1" "${@:2}"; }
force() { ctl sim/force --data-urlencode "request=$1" "${@:2}"; }
event() { ctl sim/event --data-urlencode "type=$1" --data-urlencode "event=$2" --data-urlencode "message=$3"; }
restart() { stop_service; start_service "${options[@]}" "$@"; }

start_service "${options[@]}"
# The window appears 3 s after the pollers start: earlier posts are dropped.
TSAN_OPTIONS="halt_on_error=0 exitcode=66 second_deadlock_stack=1" \
    "$soak" "$scratch/stop" 3000 > "$scratch/soak.out" 2> "$scratch/soak.err" &
soak_pid=$!
started=$SECONDS

sleep 3                                     # signed out
ctl control --data "action=login"           # logging_in for 2 s, then logged_in
sleep 4

# Replies the service never sends, a slow one, and failures.
force storage --data-urlencode 'body={"usedSpace":' --data "times=5"
force upload-progress --data-urlencode 'body=[{"fileCounts":' --data "times=5"
force download-progress --data "body=" --data "times=5"
force dldir --data "body=" --data "times=5"
force loginstate --data "body=" --data "times=3"
force transferstatus --data "status=500" --data "body=oops" --data "times=3"
force poll --data-urlencode "body=<html>not json</html>" --data "times=1"
sleep 3
force storage --data "delay=2500" --data "times=1"
sleep 2

# Events, one per long poll: two shown, one path, two that change nothing.
event UPLOAD COMPLETED "soak one"
event UPLOAD REFRESHED "soak two"
event TIME_OUT COMPLETED "soak none"
event UPLOAD ERRORED ""
event UPLOAD ERRORED 'C:\new\soak "quoted".txt'
curl -sS -o /dev/null "$api/sim/event" --data-binary '{"type":"UPLOAD","event":"PAUSED","message":'
# One event per long poll, a second apart: wait until all were taken.
for _ in $(seq 60); do
    sleep 0.5
    queued=$(curl -sS "$api/sim/state" | python3 -c 'import json,sys; print(json.load(sys.stdin)["events_queued"])')
    [ "$queued" = 0 ] && break
done
sleep 1

# Gone without a word, back after 3 s signed in.
kill -KILL "$sim_pid"; wait "$sim_pid" 2>/dev/null; sim_pid=
sleep 3
restart --login-state logged_in
sleep 2

# An upload of 6 MB at 2 MB/s, during which the service freezes for 3 s and
# is paused for 2.
head -c 6000000 /dev/urandom > "$scratch/big.bin"
curl -sS -o /dev/null "$api/filetransfer" --data-binary "action=upload&cloudpath=&localpath=[\"$scratch/big.bin\"]"
sleep 1
kill -STOP "$sim_pid"; sleep 3; kill -CONT "$sim_pid"
sleep 1
ctl control --data "action=pause" --data "taskid=all"
sleep 2
ctl control --data "action=resume" --data "taskid=all"
sleep 4

# Signed out and in again, then killed once more and back signed in.
ctl control --data "action=logout"
sleep 3
ctl sim/login --data "state=logged_in"
sleep 2
kill -KILL "$sim_pid"; wait "$sim_pid" 2>/dev/null; sim_pid=
sleep 2
restart --login-state logged_in
head -c 3000000 /dev/urandom > "$scratch/small.bin"
curl -sS -o /dev/null "$api/filetransfer" --data-binary "action=upload&cloudpath=&localpath=[\"$scratch/small.bin\"]"

# Steady: every poller has had several cycles since the last change.
sleep 7
curl -sS "$api/sim/state" > "$scratch/state.json"
curl -sS "$api/sim/log" > "$scratch/log.json"
touch "$scratch/stop"
for _ in $(seq 300); do kill -0 "$soak_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$soak_pid" 2>/dev/null && kill -KILL "$soak_pid"
wait "$soak_pid"
rc=$?
echo "soak ran $((SECONDS - started)) s"

expect "the pollers ended cleanly, no sanitizer exit" test "$rc" = 0
expect "no ThreadSanitizer report" bash -c "! grep -q 'ThreadSanitizer' '$scratch/soak.err'"

python3 - "$scratch/state.json" "$scratch/soak.out" "$scratch/log.json" > "$scratch/compare.out" 2>&1 <<'EOF'
import json, sys
state = json.load(open(sys.argv[1]))
lines = open(sys.argv[2], encoding="utf-8").read().splitlines()
got = {}
balloons = []
for line in lines:
    name, _, value = line.partition("=")
    if name == "balloon":
        balloons.append(value)
    else:
        got[name] = value
storage = state["storage"]
used, total = storage["usedSpace"], storage["totalSpace"]
def counts(group):
    return ",".join(str(group[k]) for k in ("RUNNING", "FINISHED", "PAUSED", "ERRORED", "PENDING"))
icons = {"progress": "25", "completed": "23", "paused": "21", "idle": "21"}
checks = [
    ("signed in", got.get("signedIn") == "1"),
    ("download folder", got.get("downloadFolder") == state["dldir_windows"]),
    ("storage line", got.get("storageText") == f"{used * 100 // total}% of {total >> 30} GB used"),
    ("status name", got.get("statusName") == state["transferstatus"]),
    ("tray icon", got.get("trayIconId") == icons.get(state["transferstatus"])),
    ("upload file counts", got.get("uploadFiles") == counts(state["upload"]["fileCounts"])),
    ("upload byte counts", got.get("uploadBytes") == counts(state["upload"]["byteCounts"])),
    ("download file counts", got.get("downloadFiles") == counts(state["download"]["fileCounts"])),
    ("an upload was counted", got.get("uploadFiles", "").split(",")[1:2] != ["0"]),
    ("completed uploads stamped", got.get("lastUploadTime") == "12:00"),
    ("one balloon per shown event",
     all(balloons.count(b) == 1 for b in ("soak one| ", "soak two| ", 'C:\\new\\soak "quoted".txt| '))),
    ("no balloon for TIME_OUT", not any(b.startswith("soak none") for b in balloons)),
    ("the tray icon was refreshed", int(got.get("refreshes", "0")) > 0),
]
asked = {entry["request"] for entry in json.load(open(sys.argv[3]))}
wanted = {"loginstate-user", "dldir", "loginstate", "transferstatus", "poll", "storage",
          "upload-progress", "download-progress"}
checks.append(("the eight requests since the last restart", wanted <= asked))
for name, passed in checks:
    print(("ok   " if passed else "FAIL ") + name)
if not all(passed for _, passed in checks):
    print("--- agent state:", got, "balloons:", balloons)
    print("--- service:", {k: state[k] for k in ("login", "transferstatus", "storage", "upload", "dldir_windows")})
EOF
expect "the comparison ran" test $? = 0
while read -r line; do
    case $line in
        "ok   "*) cases=$((cases + 1)); echo "$line" ;;
        "FAIL "*) cases=$((cases + 1)); failures=$((failures + 1)); echo "$line" ;;
        *) echo "$line" ;;
    esac
done < "$scratch/compare.out"

if [ "$failures" != 0 ]; then
    echo "--- soak stderr (tail)"; grep -v '^{' "$scratch/soak.err" | tail -n 60
fi
finish
