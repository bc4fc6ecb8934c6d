#!/usr/bin/env bash
# Feeds exact bytes to json-probe and compares its exact output.
# Usage: json_probe_test.sh COMMAND... (the probe, possibly behind the Wine runner)
set -u
probe=("$@")
failures=0
cases=0
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# Cases are collected first and run at the end: under Wine all of them in
# one session (a program start there costs seconds), natively one by one.
names=() want_rcs=()
check() {  # check NAME EXPECTED_EXIT EXPECTED_OUTPUT INPUT [ARGS...]
    local n=${#names[@]}
    names+=("$1")
    want_rcs+=("$2")
    printf '%b' "$3" > "$scratch/$n.want"
    printf '%b' "$4" > "$scratch/$n.in"
    shift 4
    : > "$scratch/$n.args"
    [ $# -eq 0 ] || printf '%s\n' "$@" > "$scratch/$n.args"
}

run_cases() {
    local n args
    local last=${probe[${#probe[@]}-1]}
    if [[ $last == *.exe ]]; then
        local runner=("${probe[@]:0:${#probe[@]}-1}")
        local win_scratch="Z:${scratch//\//\\}"
        {
            echo '@echo off'
            for n in "${!names[@]}"; do
                mapfile -t args < "$scratch/$n.args"
                echo "\"Z:${last//\//\\}\" ${args[*]} < \"$win_scratch\\$n.in\" > \"$win_scratch\\$n.out\""
                echo "echo %ERRORLEVEL% > \"$win_scratch\\$n.rc\""
            done
        } | sed 's/$/\r/' > "$scratch/cases.cmd"
        "${runner[@]}" cmd /c "$win_scratch\\cases.cmd" > "$scratch/session.out" 2>&1 ||
            { echo "the Wine session failed:"; cat "$scratch/session.out"; }
    else
        for n in "${!names[@]}"; do
            mapfile -t args < "$scratch/$n.args"
            "${probe[@]}" "${args[@]}" < "$scratch/$n.in" > "$scratch/$n.out"
            echo $? > "$scratch/$n.rc"
        done
    fi
}

report() {
    local n rc got want
    for n in "${!names[@]}"; do
        cases=$((cases + 1))
        rc=$(tr -dc '0-9' < "$scratch/$n.rc" 2>/dev/null)
        got=$(od -An -c < "$scratch/$n.out" 2>/dev/null | tr -s ' \n' ' ')
        want=$(od -An -c < "$scratch/$n.want" | tr -s ' \n' ' ')
        if [[ $rc != "${want_rcs[$n]}" || $got != "$want" ]]; then
            echo "FAIL ${names[$n]}: exit $rc (want ${want_rcs[$n]})"
            echo "  got: $got"
            echo "  want: $want"
            failures=$((failures + 1))
        fi
    done
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

run_cases
report
echo "$((cases - failures)) passed, $failures failed"
[[ $failures == 0 ]]
