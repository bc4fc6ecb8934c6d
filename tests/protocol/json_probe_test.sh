#!/usr/bin/env bash
# Feeds exact bytes to json-probe and compares its exact output.
# Usage: json_probe_test.sh COMMAND... (the probe, possibly behind the Wine runner)
set -u
probe=("$@")
failures=0
cases=0
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

check() {  # check NAME EXPECTED_EXIT EXPECTED_OUTPUT INPUT [ARGS...]
    local name=$1 want_rc=$2 want=$3 input=$4
    shift 4
    local got rc
    printf '%b' "$input" > "$scratch/in"
    "${probe[@]}" "$@" < "$scratch/in" > "$scratch/out"
    rc=$?
    got=$(od -An -c < "$scratch/out" | tr -s ' \n' ' ')
    want=$(printf '%b' "$want" | od -An -c | tr -s ' \n' ' ')
    cases=$((cases + 1))
    if [[ $rc != "$want_rc" || $got != "$want" ]]; then
        echo "FAIL $name: exit $rc (want $want_rc)"
        echo "  got: $got"
        echo "  want: $want"
        failures=$((failures + 1))
    fi
}

check ok 0 'ok\n' '{"a":1}'
check written 0 'ok\n{"b":1,"a":[1,2.500000,"x"]}\n' '{"b":1,"a":[1,2.5,"x"]}' --write 0
check hex-flags 0 'ok\n{\r\n  a: 1,\r\n  b: 2\r\n}\n' '{"b":2,"a":1}' --write 0x109
check no-write-on-error 1 'error 7 1 8 Invalid character after a matching close.\n' '{"a":1}{' --write 0
check empty 1 'error 0 1 1 Empty string.\n' ''
# Byte-exact input: the carriage return must reach the parser.
check crlf 1 'error 3 2 1 Invalid separator at start of object.\n' '{\r\n,}'
check utf8 0 'ok\n["caf\xc3\xa9 \xe2\x82\xac"]\n' '["caf\xc3\xa9 \\u20ac"]' --write 0
check latin1 0 'ok\n["caf\xc3\xa9"]\n' '["caf\xe9"]' --write 0
check bad-flags 2 '' '[]' --write nope
check unknown-option 2 '' '[]' --frobnicate

echo "$((cases - failures)) passed, $failures failed"
[[ $failures == 0 ]]
