#!/usr/bin/env bash
# The agent and one tool built again from a copy of the source in another
# folder, minutes after the build under test: the same bytes (no build path,
# time or random value in them). scripts/release --verify-reproducible checks
# every file of a release the same way.
#   reproducible_test.sh SOURCE_DIR BUILD_DIR WORKDIR TARGET=FILE...
# FILE: what TARGET makes, relative to BUILD_DIR (Vantorel=install/Vantorel.exe).
set -euo pipefail
src=$1 build=$2 work=$3
shift 3
rm -rf "$work"
copy=$work/elsewhere/source
mkdir -p "$copy"
tar -C "$src" --exclude=./build --exclude=./release --exclude=./.git -cf - . | tar -C "$copy" -xf -
(cd "$copy" && cmake --preset win32 -B "$work/other-build" > "$work/configure.log" 2>&1) ||
    { cat "$work/configure.log"; exit 1; }
targets=("${@%%=*}")
cmake --build "$work/other-build" --target "${targets[@]}" > "$work/build.log" 2>&1 ||
    { tail -n 40 "$work/build.log"; exit 1; }
failures=0
for pair in "$@"; do
    program=${pair#*=}
    if cmp "$build/$program" "$work/other-build/$program"; then
        echo "ok   $program is the same from $copy"
    else
        echo "FAIL $program differs when built from $copy"
        failures=$((failures + 1))
    fi
done
[ "$failures" = 0 ] && rm -rf "$work"
exit "$failures"
