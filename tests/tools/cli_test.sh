#!/usr/bin/env bash
# The command-line tools as a user meets them: help, and a distinct message and
# exit code for each kind of mistake.
#   cli_test.sh render|bench TOOL SOURCE_DIR [LV2_BUNDLE]
set -uo pipefail
which=$1 tool=$2 source_dir=$3 lv2_bundle=${4:-}
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

    # A build without LV2 (Windows, no LV2_BUNDLE given) turns a URI away.
    if [ -z "$lv2_bundle" ]; then
        expect 1 'this build hosts no LV2 plug-ins' -- "$tool" --plugin http://example.org/none --midi "$midi"
    else
        # An LV2 plug-in named by its URI, hosted by lilv: the built bundle plays the
        # demo at its full level to the end, not just for its first block.
        uri=https://orrinmoor.example/plugins/brassgate-organ
        lv2=(env LV2_PATH="$(dirname "$lv2_bundle")")
        expect 0 'peak [0-9]+\.[0-9] dBFS, RMS -[0-9]\.[0-9] dBFS' -- "${lv2[@]}" "$tool" --plugin "$uri" --midi "$midi" --tail 0 --quiet
        expect 0 '"Enabled" \(enabled\): 0 to 1' -- "${lv2[@]}" "$tool" --plugin "$uri" --help
        expect 2 'has no control named Nonesuch' -- "${lv2[@]}" "$tool" --plugin "$uri" --midi "$midi" --set "Nonesuch=0.5"
        expect 1 'no LV2 plug-in installed with the URI http://example\.org/none' -- "$tool" --plugin http://example.org/none --midi "$midi"
    fi
    ;;
bench)
    # Help prints the usage and returns at once, without a benchmark.
    expect 0 '^usage: bench' -- timeout 20 "$tool" --help
    expect 2 'unknown option --frobnicate' -- timeout 20 "$tool" --frobnicate
    expect 2 '--seconds needs a value' -- timeout 20 "$tool" --seconds
    expect 2 'runs none of the engines. instruction sets named NOPE' -- timeout 20 "$tool" --instruction-set NOPE
    ;;
esac

echo "$which: $failures failed"
[ "$failures" -eq 0 ]
