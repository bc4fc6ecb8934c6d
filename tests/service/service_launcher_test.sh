#!/usr/bin/env bash
# The service launcher under Wine: the Java command line, environment and
# directory that the service gets, the shutdown request to an earlier
# service, the update leftovers, process starts, the version flags and the
# UI strings by language folder. Two runs of the check program from a test
# install directory: English against the stand-in service, German with
# nothing listening on the service's port.
# Usage: service_launcher_test.sh SIMULATOR CHECK RECORDER EN-US-DLL EN-DLL DE-DE-DLL NEUTRAL-DLL RUNNER...
set -u
sim=$1 check=$2 recorder=$3 dll_en_us=$4 dll_en=$5 dll_de_de=$6 dll_neutral=$7
shift 7
runner=("$@")
source "$(dirname "$0")/../support/service_test_lib.sh"

# make_install DIR LANGUAGE-FOLDER...
make_install() {
    local dir=$1 folder
    shift
    mkdir -p "$dir/jre/bin"
    cp "$check" "$dir/Vantorel.exe"
    cp "$recorder" "$dir/jre/bin/javaw.exe"
    cp "$recorder" "$dir/jre/bin/java w.exe"
    : > "$dir/newVantorel.exe"
    : > "$dir/oldVantorel.exe"
    cp "$dll_neutral" "$dir/Pellick.dll"
    for folder in "$@"; do
        mkdir -p "$dir/$folder"
        case $folder in
            en-US) cp "$dll_en_us" "$dir/$folder/Pellick.dll" ;;
            en) cp "$dll_en" "$dir/$folder/Pellick.dll" ;;
            de-DE) cp "$dll_de_de" "$dir/$folder/Pellick.dll" ;;
        esac
    done
}

# run_check DIR LOCALE LC_ALL: the check program from DIR; its report in DIR.out/.err
run_check() {
    local dir=$1 windows_dir
    windows_dir="Z:${dir//\//\\}\\"
    env LC_ALL="$3" VANTOREL_EXPECT_INSTALL_DIR="$windows_dir" VANTOREL_EXPECT_LOCALE="$2" \
        VANTOREL_EXPECT_WINDOWS="6 1 1" \
        "${runner[@]}" "$dir/Vantorel.exe" > "$dir.out" 2> "$dir.err"
    local rc=$?
    grep -E '^\[==========\]|^\[  (PASSED|FAILED) ' "$dir.out" | tail -n 3
    return $rc
}

show_failure() {
    grep -E '^\[  FAILED|Failure|Expected|Which is|  Actual|value of|^  ' "$1.out" | head -n 60
    grep -v '^wine-run' "$1.err" | tail -c 1500
}

# English, with a service from an earlier agent still running. Another run
# of the suites in this tree may hold the port for a while first.
for _ in $(seq 600); do
    (exec 3<>/dev/tcp/127.0.0.1/9333) 2>/dev/null || break
    sleep 0.5
done
start_service
make_install "$scratch/en" en-US en de-DE
run_check "$scratch/en" en-US en_US.UTF-8
rc=$?
expect "checks in English pass" test "$rc" = 0
[ "$rc" = 0 ] || show_failure "$scratch/en"
expect "the earlier service was asked to shut down" grep -q 'GET /control?action=shutdown ' "$scratch/access.log"
for _ in $(seq 50); do kill -0 "$sim_pid" 2>/dev/null || break; sleep 0.1; done
expect "the stand-in service ended on it" bash -c "! kill -0 $sim_pid 2>/dev/null"
stop_service

# German, with nothing listening: the shutdown request fails and the start
# goes on.
make_install "$scratch/de" de-DE en-US
run_check "$scratch/de" de-DE de_DE.UTF-8
rc=$?
expect "checks in German pass" test "$rc" = 0
[ "$rc" = 0 ] || show_failure "$scratch/de"

# The version flags as Windows XP, Vista and 8 report themselves, in one
# Wine session: each copy of the check program gets its own version through
# the prefix's per-program settings, which touch no other program.
mkdir -p "$scratch/versions"
{
    echo '@echo off'
    for v in "winxp 5 0 0" "vista 6 1 0" "win8 6 1 1"; do
        set -- $v
        cp "$check" "$scratch/versions/version-$1.exe"
        echo "reg add \"HKCU\\Software\\Wine\\AppDefaults\\version-$1.exe\" /v Version /d $1 /f > nul"
        echo "set VANTOREL_EXPECT_WINDOWS=$2 $3 $4"
        echo "version-$1.exe --gtest_filter=WindowsVersion.* > $1.out"
        echo "echo %ERRORLEVEL% > $1.rc"
    done
} | sed 's/$/\r/' > "$scratch/versions/sweep.cmd"
(cd "$scratch/versions" && "${runner[@]}" cmd /c sweep.cmd > sweep.out 2>&1)
for v in winxp vista win8; do
    expect "version flags as $v reports them" grep -qx '0 *.' "$scratch/versions/$v.rc" 2>/dev/null ||
        tail -n 15 "$scratch/versions/$v.out" "$scratch/versions/sweep.out" 2>/dev/null
done

finish
