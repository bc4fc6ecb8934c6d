#!/usr/bin/env bash
# Pasmiro.exe and Stolvane.exe under Wine against the stand-in service, in one
# driver run: the quit tool with and without an agent, the Send To tool
# starting the agent from its own folder while the service only starts
# listening seconds later, sending at once to a running agent, sending
# nothing without paths, and not repeating a request the service refused.
# Usage: tools_test.sh SIMULATOR INSTALL_DIR SERVICE_STAND_IN_EXE RUNNER... DRIVER_EXE
set -u
sim=$1
install_src=$2
stand_in=$3
shift 3
driver=("$@")
source "$(dirname "$0")/../support/service_test_lib.sh"

sync=$scratch/sync
mkdir -p "$sync" "$scratch/install/jre/bin" "$scratch/lonely" "$scratch/hanging"
cp -r "$install_src"/. "$scratch/install/"
cp "$stand_in" "$scratch/install/jre/bin/javaw.exe"
cp "$install_src/Pasmiro.exe" "$scratch/lonely/"
cp "$install_src/Pasmiro.exe" "$scratch/hanging/"
cp "$stand_in" "$scratch/hanging/Vantorel.exe"

# Names with what the body escapes (backslash, "&") and what it does not
# (commas, spaces, "%", "+", "=", non-ASCII).
e=$(printf '\xc3\xa9')
mkdir -p "$scratch/files/Q&A, notes"
printf 'one' > "$scratch/files/r${e}sum${e}, v1 100%+1=2.txt"
printf 'two' > "$scratch/files/Q&A, notes/a&&b.txt"
printf 'three' > "$scratch/files/$(printf '\xe6\x97\xa5\xe6\x9c\xac').txt"
for f in "r${e}sum${e}, v1 100%+1=2.txt" "Q&A, notes" "$(printf '\xe6\x97\xa5\xe6\x9c\xac').txt"; do
    printf '%s\n' "$(winpath "$scratch/files/$f")"
done > "$scratch/paths"

"${driver[@]}" "$(winpath "$sync")" "$(winpath "$scratch/install")" "$(winpath "$scratch/lonely")" \
    "$(winpath "$scratch/hanging")" "$(winpath "$scratch/paths")" > "$scratch/driver.out" 2> "$scratch/driver.err" &
driver_pid=$!
for _ in $(seq 3000); do
    [ -e "$sync/pasmiro-started" ] && break
    kill -0 "$driver_pid" 2>/dev/null || break
    sleep 0.1
done
# The tool is on its way and finds neither agent nor service: the service
# starts listening only a few seconds later.
sleep 4
service_up_ms=$(date +%s%3N)
start_service --keep-running
wait "$driver_pid"
rc=$?
tr -d '\r' < "$scratch/driver.out"
expect "driver checks passed" test "$rc" = 0

expected=$(expected_upload_body_hex "$scratch/paths")
started_ms=$(sed -n 's/^time send-to-running-agent-started-unix //p' "$scratch/driver.out" | tr -d '\r')
agent_exit_ms=$(sed -n 's/^time agent-exit-unix //p' "$scratch/driver.out" | tr -d '\r')
python3 - "$sync" "$expected" "$service_up_ms" "${started_ms:-0}" "${agent_exit_ms:-0}" > "$scratch/checks" <<'PY'
import json, os, sys
sync, expected, service_up, started, agent_exit = sys.argv[1], sys.argv[2], *map(int, sys.argv[3:])

def log(stage):
    path = os.path.join(sync, f"log-{stage}.json")
    return json.load(open(path)) if os.path.exists(path) else None

def uploads(stage):
    return [e for e in log(stage) or [] if e["request"] == "filetransfer"]

def exact(entry):
    headers = {name.lower(): value for name, value in entry["headers"]}
    return (entry["method"] == "POST" and entry["target"] == "/filetransfer" and entry["body_hex"] == expected
            and headers.get("user-agent") == "ZozeviRivudaDuviv"
            and headers.get("content-type") == "application/x-www-form-urlencoded;charset=UTF-8;"
            and headers.get("accept") == "*/*")

def check(ok, name):
    print(("pass " if ok else "fail ") + name)

started_uploads = uploads("started")
check(len(started_uploads) == 1 and exact(started_uploads[0]) and started_uploads[0]["status"] == 200,
      "started agent: one exact upload request, accepted")
check(bool(started_uploads) and started_uploads[0]["unix_ms"] >= service_up,
      "started agent: the request reached the service that listened later")
running = uploads("running")
check(len(running) == 1 and exact(running[0]) and running[0]["status"] == 200,
      "running agent: one exact upload request, accepted")
delay = running[0]["unix_ms"] - started if running else -1
print(f"figure running-agent request {delay} ms after the tool's start")
check(0 <= delay <= 2500, "running agent: sent without waiting")
check(log("nopaths") is not None and not uploads("nopaths"), "no paths: nothing sent")
check([e["status"] for e in uploads("refused")] == [400, 500], "refused requests are not repeated")
quit = [e for e in log("quit") or [] if e["request"] == "shutdown"]
check(len(quit) == 1 and quit[0]["target"] == "/control?action=shutdown", "quit tool: the service is told to shut down")
check(bool(quit) and 0 < agent_exit and quit[0]["unix_ms"] <= agent_exit, "quit tool: told before the agent exits")
check(log("quit-again") is not None and not [e for e in log("quit-again") if e["request"] == "shutdown"],
      "second quit tool: nothing sent")
PY
while read -r verdict name; do
    expect "$name" test "$verdict" = pass
done < <(grep -E '^(pass|fail) ' "$scratch/checks")
grep '^figure' "$scratch/checks"

if [ "$failures" != 0 ]; then
    echo "--- driver stderr"; grep -v '^wine-run' "$scratch/driver.err" | tail -c 2000
    echo "--- service log"; tail -n 30 "$scratch/access.log"
fi
finish
