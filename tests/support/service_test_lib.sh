# Shared by the shell tests that run a program against the stand-in service
# on the service's own port (source it; it sets an EXIT trap).
#   scratch            a private folder, removed at exit
#   expect NAME CMD..  one check: prints ok/FAIL, counts failures
#   start_service ARGS start localsvc-sim ($sim) on 127.0.0.1:9333 and wait
#   stop_service       stop it (also done at exit)
#   finish             print the count and return the test's status
#   winpath PATH       PATH as Wine's programs see it (Z: is /)
scratch=$(mktemp -d)
_service_lib_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
sim_pid=
failures=0
cases=0

# The service's port is one per machine: tests of other build trees or
# other checkouts wait here for it. A separate holder process keeps the
# lock, so no program started by the test inherits it.
_port_lock_holder=
_hold_service_port() {
    # A fixed path, whatever TMPDIR says: the port is the whole machine's.
    local lock=/tmp/vantorel-service-port-9333.lock
    flock -o "$lock" sh -c 'touch "$1"; exec tail --pid="$2" -f /dev/null' sh "$scratch/port-held" "$$" &
    _port_lock_holder=$!
    for _ in $(seq 18000); do
        [ -e "$scratch/port-held" ] && return 0
        sleep 0.05
    done
    echo "port 9333 stayed taken by another test for 15 minutes"
    exit 1
}

_service_test_cleanup() {
    stop_service
    [ -n "$_port_lock_holder" ] && kill "$_port_lock_holder" 2>/dev/null
    rm -rf "$scratch"
}
trap _service_test_cleanup EXIT
_hold_service_port

winpath() { printf 'Z:%s' "${1//\//\\}"; }

expect() {
    local name=$1
    shift
    cases=$((cases + 1))
    if "$@"; then
        echo "ok   $name"
    else
        echo "FAIL $name"
        failures=$((failures + 1))
    fi
}

start_service() {
    rm -f "$scratch/port"
    "$sim" --port 9333 --ready-file "$scratch/port" --root "$scratch/root" --log "$scratch/access.log" \
        "$@" > "$scratch/sim.out" 2>&1 &
    sim_pid=$!
    for _ in $(seq 200); do
        [ -s "$scratch/port" ] && return 0
        kill -0 "$sim_pid" 2>/dev/null || break
        sleep 0.05
    done
    echo "the stand-in service did not start:"
    cat "$scratch/sim.out"
    "$_service_lib_root/scripts/port-holder" 9333 || true
    exit 1
}

stop_service() {
    if [ -n "$sim_pid" ]; then
        kill -TERM "$sim_pid" 2>/dev/null
        for _ in $(seq 50); do kill -0 "$sim_pid" 2>/dev/null || break; sleep 0.1; done
        kill -KILL "$sim_pid" 2>/dev/null
        wait "$sim_pid" 2>/dev/null
        sim_pid=
    fi
}

# The expected upload body, as hex of its UTF-8 bytes, for the paths in FILE
# (one per line): written here independently of the code under test.
expected_upload_body_hex() {
    python3 -c "
import sys
paths=[l.rstrip('\n') for l in open(sys.argv[1], encoding='utf-8') if l.strip()]
enc=[p.replace('\\\\','\\\\\\\\').replace('&','%26') for p in paths]
body='action=upload&cloudpath=&localpath=['+','.join('\"'+e+'\"' for e in enc)+']'
sys.stdout.write(body.encode('utf-8').hex())" "$1"
}

finish() {
    echo "$((cases - failures)) of $cases checks passed"
    [ "$failures" = 0 ]
}
