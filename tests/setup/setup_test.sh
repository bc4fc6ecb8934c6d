#!/usr/bin/env bash
# The setup program in a fresh Wine prefix against the stand-in service, in
# one driver run (setup_driver_win.cpp): through its pages (screenshots of
# each), silently over the running agent with a signed build, Send To,
# silent uninstall. Then
# nothing of the installation may be left in the prefix's files or registry
# but what the test itself put into the install folder. Last, a silent setup
# in a Japanese session.
# Usage: setup_test.sh SIMULATOR RUNNER TEMPLATE_PREFIX PREFIX SETUP_EXE STAND_IN DRIVER VERSION SHOTS
#                      OLDER_AGENT MAKE_SETUP_COMMAND...   (cmake -D... -P make_setup.cmake, without STAGE,
#                                               OUTPUT and the certificate)
set -u
sim=$1 runner=$2 template=$3 prefix=$4 setup=$5 stand_in=$6 driver=$7 version=$8 screenshots=$9 older=${10}
make_setup=("${@:11:$#-12}") make_setup_script=${*: -1}
source "$(dirname "$0")/../support/service_test_lib.sh"
source "$(dirname "$0")/../support/tray_desktop_lib.sh"
source "$(dirname "$0")/../support/test_pki.sh"
trap 'stop_display; _service_test_cleanup' EXIT
# The setup speaks the language of the session; its buttons are read in English.
export LC_ALL=C LANG=C

sync=$scratch/sync
shots=$scratch
mkdir -p "$sync" "$screenshots"
rm -rf "$prefix"
if [ -f "$template.template.tar" ]; then
    cp "$template.template.tar" "$prefix.template.tar"
    cp "$template.template.tar.id" "$prefix.template.tar.id"
fi
# The signed build, signed by the test publisher the way a release is, with
# the service's files packed: the stand-in as its Java, and a name NSIS must
# take literally.
pki=$scratch/pki layout=$scratch/signed-stage signed_setup=$scratch/signed/VantorelSetup-signed.exe
make_test_pki "$pki" || exit 1
mkdir -p "$scratch/service/jre/bin" "$scratch/service/lib"
cp "$stand_in" "$scratch/service/jre/bin/javaw.exe"
printf 'jar' > "$scratch/service/lib/service \$(1).jar"
"${make_setup[@]}" "-DSTAGE=$layout" "-DOUTPUT=$signed_setup" "-DSIGN_CERT=$pki/publisher-chain.pem" \
    "-DSERVICE_FILES=$scratch/service" \
    "-DSIGN_KEY=$pki/publisher.key" -P "$make_setup_script" > "$scratch/signed.log" 2>&1 ||
    { echo "signed setup not made:"; cat "$scratch/signed.log"; exit 1; }
signed_by_publisher() { osslsigncode verify -CAfile "$pki/ca.pem" -in "$1" 2>&1 | grep -q '^Signature verification: ok'; }

start_display || exit 1
start_service --keep-running
wine_run() { "$runner" --prefix "$prefix" --display "$display" "$@"; }

# The prefix as Wine leaves a session, before and after: files and registry
# entries (keys and value names), without what every session changes.
snapshot() {
    python3 - "$prefix" > "$scratch/$1.snapshot" <<'PY'
import os, re, sys
prefix = sys.argv[1]
# ~nsu*.tmp: the uninstaller's copy of itself, removed by Windows at the next start.
# The desktop session writes the theme's colours and fonts; crypt32 and wintrust
# their state.
churn = re.compile(r'(?i)^(drive_c/windows/(temp|logs)|drive_c/users/[^/]+/(appdata/local/microsoft/windows/inet|temp/~nsu))'
                   r'|^reg:(user|system)\.reg:\[(console|software\\\\wine|volatile|control panel\\\\(colors|desktop)'
                   r'|software\\\\microsoft\\\\(systemcertificates|windows\\\\currentversion\\\\(thememanager|wintrust))'
                   r'|system\\\\currentcontrolset\\\\control\\\\(class|session manager)'
                   r'|software\\\\microsoft\\\\windows\\\\currentversion\\\\explorer\\\\(mountpoints|sessioninfo))')
entries = []
for top, dirs, files in os.walk(os.path.join(prefix, 'drive_c')):
    for name in dirs + files:
        entries.append(os.path.relpath(os.path.join(top, name), prefix))
for hive in ('user.reg', 'system.reg', 'userdef.reg'):
    key = None
    for line in open(os.path.join(prefix, hive), encoding='utf-8', errors='replace'):
        if line.startswith('['):
            key = line[:line.index(']') + 1]
            entries.append('reg:%s:%s' % (hive, key))
        elif key and re.match(r'^("(?:[^"\\]|\\.)*"|@)=', line):
            entries.append('reg:%s:%s %s' % (hive, key, line.split('=', 1)[0]))
for entry in sorted(set(entries)):
    if not churn.search(entry):
        print(entry)
PY
}
wine_run -- cmd /c exit > /dev/null 2> "$scratch/first.err" || { echo "no prefix:"; cat "$scratch/first.err"; exit 1; }
snapshot before

# Two paths, one with a name the upload body escapes.
mkdir -p "$scratch/files"
printf 'one' > "$scratch/files/report & summary.txt"
printf 'two' > "$scratch/files/photo.jpg"
for f in "report & summary.txt" photo.jpg; do winpath "$scratch/files/$f"; echo; done > "$scratch/paths"

users=("$prefix"/drive_c/users/*)
install=
WINEDEBUG=warn+seh wine_run --timeout 400 -- explorer /desktop=setup,1024x768 "$(winpath "$driver")" \
    "$(winpath "$sync")" "$(winpath "$setup")" "$(winpath "$signed_setup")" "$(winpath "$scratch/paths")" \
    "$version" "$(winpath "$older")" \
    > "$scratch/driver.out" 2> "$scratch/driver.err" &
run_pid=$!
layout_installed() {
    python3 - "$layout" "$install" <<'PY'
import filecmp, os, sys
def tree(root):
    return {os.path.relpath(os.path.join(t, f), root) for t, _, fs in os.walk(root) for f in fs}
layout, install = sys.argv[1:]
extra, missing = tree(install) - tree(layout), tree(layout) - tree(install)
differ = [f for f in tree(layout) & tree(install) if not filecmp.cmp(os.path.join(layout, f), os.path.join(install, f), False)]
# The running stand-in playing Java has left its mark of life too.
ok = extra <= {'uninstall.exe', 'jre/bin/javaw-alive.txt'} and 'uninstall.exe' in extra and not missing and not differ
ok or print('  extra %s, missing %s, differ %s' % (sorted(extra), sorted(missing), differ))
sys.exit(not ok)
PY
}
on_step() {
    case $1 in
        *-page)
            shot page
            # shellcheck disable=SC2046
            python3 "$(dirname "$0")/../support/tray_screen.py" crop "$scratch/page.xwd" "$screenshots/$1.png" $(cat "$2")
            expect "screenshot of the $1" test -s "$screenshots/$1.png" ;;
        installed)
            for u in "$prefix"/drive_c/users/*; do
                [ -d "$u/AppData/Local/Programs/Vantorel" ] && install=$u/AppData/Local/Programs/Vantorel
            done
            expect "installed into LOCALAPPDATA\\Programs\\Vantorel: the layout and uninstall.exe" layout_installed
            for f in Vantorel.exe Pasmiro.exe Stolvane.exe Pellick.dll fr-FR/Pellick.dll uninstall.exe; do
                expect "signed build: $f signed by the publisher" signed_by_publisher "$install/$f"
            done ;;
    esac
}
serve_steps on_step
tr -d '\r' < "$scratch/driver.out" | grep -v '^[0-9]* failed$'
expect "driver checks passed" test "$run_status" = 0

expect "signed build: the setup program signed by the publisher" signed_by_publisher "$signed_setup"
expected=$(expected_upload_body_hex "$scratch/paths")
python3 - "$sync" "$expected" > "$scratch/checks" <<'PY'
import json, os, sys
sync, expected = sys.argv[1:]
def requests(stage, name):
    path = os.path.join(sync, 'log-%s.json' % stage)
    return [e for e in json.load(open(path)) if e['request'] == name] if os.path.exists(path) else None
def check(ok, name):
    print(('pass ' if ok else 'fail ') + name)
# One from the agent that quits, one from the new agent as it starts.
check(len(requests('upgrade', 'shutdown') or []) >= 2, 'upgrade: the old agent and the new one each shut the service down')
uploads = requests('sendto', 'filetransfer') or []
check(len(uploads) == 1 and uploads[0]['body_hex'] == expected and uploads[0]['status'] == 200,
      'Send To: one upload request with both paths, accepted')
check(bool(requests('uninstall', 'shutdown')), 'uninstall: the quitting agent told the service to shut down')
PY
while read -r verdict name; do expect "$name" test "$verdict" = pass; done < "$scratch/checks"

# What stays: only the install folder with what the test put there.
snapshot after
left_over() {
    local added removed programs=${install#"$prefix"/}
    added=$(comm -13 "$scratch/before.snapshot" "$scratch/after.snapshot")
    removed=$(comm -23 "$scratch/before.snapshot" "$scratch/after.snapshot")
    # The folder stays for the user's file in it, and so does its parent;
    # the stand-in playing Java leaves its mark of life beside itself.
    [ -z "$removed" ] && [ "$added" = "$(printf '%s\n' "${programs%/*}" "$programs" "$programs/jre" "$programs/jre/bin" \
        "$programs/jre/bin/javaw-alive.txt" "$programs/notes.txt")" ] && return 0
    printf 'removed: %s\nadded: %s\n' "$removed" "$added" | head -n 40
    return 1
}
expect "uninstall: nothing left but the folder with the user's file, nothing else removed" left_over

# A silent setup in a Japanese session installs in Japanese: the language it
# took is the one its uninstall entry keeps for the uninstaller.
LC_ALL=ja_JP.UTF-8 LANG=ja_JP.UTF-8 wine_run --timeout 200 -- "$setup" /S > /dev/null 2> "$scratch/ja.err"
expect "a silent setup in a Japanese session installs in Japanese" grep -qx '"Installer Language"="1041"' "$prefix/user.reg"

if [ "$failures" != 0 ]; then
    echo "--- driver stderr"; grep -v '^wine-run' "$scratch/driver.err" | tail -c 2000
fi
finish
