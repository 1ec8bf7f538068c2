#!/usr/bin/env bash
# The command-line tools as a user meets them: help, and a distinct message and
# exit code for each kind of mistake.
#   cli_test.sh render|bench TOOL SOURCE_DIR
set -uo pipefail
which=$1 tool=$2 source_dir=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0

# expect CODE REGEX -- COMMAND...: the exit code and a line of the output.
expect() {
    local code=$1 pattern=$2
    shift 3
    local output status
    output=$("$@" 2>&1 </dev/null)
    status=$?
    if [ "$status" -ne "$code" ] || ! grep -qE -- "$pattern" <<<"$output"; then
        echo "FAIL: $* exited $status (expected $code), output:"
        sed 's/^/    /' <<<"$output"
        echo "    (expected a line matching: $pattern)"
        failures=$((failures + 1))
    else
        echo "ok: $*"
    fi
}

case $which in
render)
    expect 0 '^usage: render' -- "$tool" --help
    expect 0 '"Organ Type": B3 = 0\.0000, FARFISA = 0\.3333, VOX = 0\.6667, CHURCH = 1\.0000' -- "$tool" --help
    expect 0 '"Drive": .* at 0 to .* at 1' -- "$tool" --help
    expect 1 'there is no file .*missing\.mid' -- "$tool" --midi missing.mid
    echo "not a MIDI file" > text.mid
    expect 1 'text\.mid is not a Standard MIDI File' -- "$tool" --midi text.mid
    midi="$source_dir/demo/demo.mid"
    expect 2 'no parameter named "Organ Typ"; the closest are "Organ Type"' -- "$tool" --midi "$midi" --set "Organ Typ=0.5"
    expect 2 'the value "abc" for "Organ Type" is not a number' -- "$tool" --midi "$midi" --set "Organ Type=abc"
    expect 2 'the value 2 for "Organ Type" lies outside 0 to 1' -- "$tool" --midi "$midi" --set "Organ Type=2"
    expect 2 'the value -0\.1 for "Drive" lies outside 0 to 1' -- "$tool" --midi "$midi" --set "Drive=-0.1"
    expect 2 'unknown option --frobnicate' -- "$tool" --frobnicate
    ;;
bench)
    # Help prints the usage and returns at once, without a benchmark.
    expect 0 '^usage: bench' -- timeout 20 "$tool" --help
    expect 2 'unknown option --frobnicate' -- timeout 20 "$tool" --frobnicate
    expect 2 '--seconds needs a value' -- timeout 20 "$tool" --seconds
    ;;
esac

echo "$which: $failures failed"
[ "$failures" -eq 0 ]
