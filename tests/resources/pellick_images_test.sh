#!/usr/bin/env bash
# Draws Pellick.dll's pictures twice and checks that both runs give the same
# files, byte for byte, and that each file is the kind of file it claims.
# Usage: pellick_images_test.sh PYTHON GENERATOR WORKDIR
set -euo pipefail
python=$1 gen=$2 work=$3
rm -rf "$work"
"$python" "$gen" images "$work/a"
"$python" "$gen" images "$work/b"

expected="Pellick.ico Pellick16.ico"
for id in 20 21 23 24 25 26; do expected+=" icon_$id.ico"; done
for id in 50 51 52 53 54 55 56; do expected+=" bitmap_$id.bmp"; done
actual=$(cd "$work/a" && ls | sort | tr '\n' ' ')
want=$(tr ' ' '\n' <<<"$expected" | sort | tr '\n' ' ')
[ "$actual" = "$want" ] || { echo "files: got '$actual', want '$want'"; exit 1; }

for f in $expected; do
    cmp "$work/a/$f" "$work/b/$f" || { echo "$f differs between two runs"; exit 1; }
done

# Headers: an icon directory of eight images (one for Pellick16.ico), a BMP of
# 16 x 16 at 32 bits.
header() { od -An -tu2 -N "$2" "$1" | tr -s ' ' | sed 's/^ //'; }
for f in "$work"/a/icon_*.ico "$work/a/Pellick.ico"; do
    [ "$(header "$f" 6)" = "0 1 8" ] || { echo "$f: bad icon directory $(header "$f" 6)"; exit 1; }
done
[ "$(header "$work/a/Pellick16.ico" 6)" = "0 1 1" ] || { echo "Pellick16.ico: not one image"; exit 1; }
for f in "$work"/a/bitmap_*.bmp; do
    [ "$(head -c 2 "$f")" = BM ] || { echo "$f: not a BMP"; exit 1; }
    # width, height (32-bit each) and planes, bits per pixel
    dims=$(od -An -tu4 -j 18 -N 8 "$f" | tr -s ' ' | sed 's/^ //')
    bits=$(od -An -tu2 -j 28 -N 2 "$f" | tr -d ' ')
    [ "$dims" = "16 16" ] && [ "$bits" = 32 ] || { echo "$f: $dims at $bits bits"; exit 1; }
done
rm -rf "$work"
echo "ok"
