#!/usr/bin/env bash
# The agent's self-update under Wine: signs test builds of the agent with a
# test authority, makes the packages with Debian's 7zz, serves them over
# HTTPS from the package-server stand-in, and runs the driver
# (update_driver_win.cpp), which plays every scenario in one Wine session.
# Usage: update_test.sh NATIVE_BUILD RUNNER PREFIX INSTALL_DIR TEST_AGENTS PORT DOWNLOAD_CAP STAND_IN_EXE DRIVER_EXE
set -u
native=$1 runner=$2 prefix=$3 install_src=$4 agents=$5 port=$6 cap=$7 stand_in=$8 driver=$9
sim=$native/simulator/localsvc-sim
here=$(dirname "$0")
source "$here/../support/service_test_lib.sh"
source "$here/../support/test_pki.sh"

pkg_pid=
stop_package_server() { [ -n "$pkg_pid" ] && kill "$pkg_pid" 2>/dev/null; wait "$pkg_pid" 2>/dev/null; pkg_pid=; }
trap 'stop_package_server; _service_test_cleanup' EXIT

# The package server's port is compiled into the test agents: one test at a
# time on this machine.
exec {port_lock}>"/tmp/vantorel-package-port-$port.lock"
flock -w 900 "$port_lock" || { echo "port $port stayed taken"; exit 1; }

pki=$scratch/pki bins=$scratch/bins variants=$scratch/variants served=$scratch/served
# Spaces, & and parentheses: every path the update builds must survive them.
install="$scratch/Vantorel & Co (test)"
base=$scratch/base
mkdir -p "$bins" "$variants" "$served/packages" "$base/jre/bin" "$install"
make_test_pki "$pki" || exit 1

# The layout without the agent, and the agents: old and new, signed by the
# publisher, and new ones that must not run.
cp -r "$install_src"/. "$base/"
rm -f "$base/Vantorel.exe"
cp "$stand_in" "$base/jre/bin/javaw.exe"
sign_test_exe "$pki" "$agents/old/Vantorel.exe" "$bins/old-signed.exe" &&
sign_test_exe "$pki" "$agents/new/Vantorel.exe" "$bins/new-signed.exe" &&
sign_test_exe "$pki" "$agents/new/Vantorel.exe" "$bins/new-foreign.exe" foreign &&
sign_test_exe "$pki" "$agents/new/Vantorel.exe" "$bins/new-renewed.exe" renewed &&
sign_test_exe "$pki" "$agents/new/Vantorel.exe" "$bins/new-rogue.exe" rogue &&
sign_test_exe "$pki" "$bins/new-rogue.exe" "$bins/new-nested.exe" publisher nest || exit 1
cp "$agents/new/Vantorel.exe" "$bins/new-unsigned.exe"
# A rollback: the publisher's older build offered as the new one.
cp "$bins/old-signed.exe" "$bins/new-older.exe"
# One byte of a message text changed after signing: the program still runs,
# its signature no longer matches.
python3 - "$bins/new-signed.exe" "$bins/new-tampered.exe" <<'EOF'
import sys
data = bytearray(open(sys.argv[1], 'rb').read())
at = data.find('Couldn\'t register window class!'.encode('utf-16-le'))
assert at > 0
data[at] ^= 0x20
open(sys.argv[2], 'wb').write(data)
EOF
for name in unpack_svc unpack_jre unpack_lib; do
    printf '@echo %s>>"%%~dp0order.log"\r\n' "$name" > "$bins/$name.cmd"
done

# The agent package with each new copy, one that fails to extract, and
# runtime (100 MB, stored) and dependency packages.
make_package() {
    local out=$1 dir=$2; shift 2
    (cd "$dir" && 7zz a -bd -y "$@" "$out" . > /dev/null) || { echo "7zz failed for $out"; exit 1; }
}
for kind in signed unsigned tampered foreign rogue older renewed; do
    tree=$scratch/tree-$kind
    mkdir -p "$tree/lib"
    cp "$bins/new-$kind.exe" "$tree/newVantorel.exe"
    cp "$bins"/unpack_*.cmd "$tree/"
    echo "service 0.09.26.0" > "$tree/lib/service-0.09.26.0.jar"
    name=$kind; [ "$kind" = signed ] && name=good
    make_package "$variants/agent-$name.7z" "$tree"
done
python3 - "$variants/agent-good.7z" "$variants/agent-corrupt.7z" <<'EOF'
import sys
data = bytearray(open(sys.argv[1], 'rb').read())
for i in range(len(data) // 3, len(data) // 3 + 64):
    data[i] ^= 0xFF
open(sys.argv[2], 'wb').write(data)
EOF
mkdir -p "$scratch/tree-jre/jre/lib" "$scratch/tree-dep/lib"
head -c 100000000 /dev/urandom > "$scratch/tree-jre/jre/lib/runtime-1.6.0.26.txt"
echo "dependency 0.09.25.4" > "$scratch/tree-dep/lib/dependency-0.09.25.4.txt"
make_package "$variants/jre.7z" "$scratch/tree-jre" -mx0
make_package "$variants/dependency.7z" "$scratch/tree-dep"

start_service --keep-running --drive "C=$prefix/drive_c"
rm -f "$scratch/pkg-port"
python3 "$here/../support/package_server.py" --port "$port" --cert "$pki/server.pem" --key "$pki/server.key" \
    --root "$served" --ready-file "$scratch/pkg-port" --log "$scratch/packages.log" > "$scratch/pkg.out" 2>&1 &
pkg_pid=$!
for _ in $(seq 100); do [ -s "$scratch/pkg-port" ] && break; sleep 0.05; done
[ -s "$scratch/pkg-port" ] || { echo "the package server did not start:"; cat "$scratch/pkg.out"; exit 1; }

start=$(date +%s)
"$runner" --prefix "$prefix" --timeout 800 -- "$driver" "$(winpath "$install")" "$(winpath "$base")" \
    "$(winpath "$bins")" "$(winpath "$variants")" "$(winpath "$served")" "$(winpath "$scratch/packages.log")" \
    "$(winpath "$pki/ca.der")" "$cap" > "$scratch/out" 2> "$scratch/err"
tr -d '\r' < "$scratch/out" | grep -v '^figure'
expect "driver checks passed" test "$(tr -d '\r' < "$scratch/out" | grep -cx '0 failed')" = 1
tr -d '\r' < "$scratch/out" | grep '^figure' | sed 's/^figure /  /'
echo "  whole driver run: $(( $(date +%s) - start )) s"

if [ "$failures" != 0 ]; then
    echo "--- package requests"; tail -n 40 "$scratch/packages.log"
    echo "--- agent debug output"; grep -a 'Update\|Failed\|signed\|trusted' "$scratch/err" | tail -n 40
fi
finish
