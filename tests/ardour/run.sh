#!/usr/bin/env bash
# The organ in Ardour 7, headless: ardour7-lua on Ardour's "None (Dummy)" audio
# engine, for the VST3 and for the LV2. For each: a session with the organ on a
# MIDI track playing a MIDI region, its parameters, renders of the defaults and
# of a Volume automation, the session saved and reopened, and every factory
# preset loaded through Ardour.
#
#   run.sh VST3_BUNDLE LV2_BUNDLE VST3_PRESET_FOLDER [vst3] [lv2]
#
# Needs Debian's ardour (ardour7-lua, ardour-vst3-scanner), python3-numpy and python3-soundfile.
# Everything Ardour writes (configuration, plug-in index, sessions, renders)
# stays in a temporary folder: the user's own Ardour setup is neither read nor
# changed. Each Ardour run is bounded by a timeout, and ended early when it
# prints nothing for STALL_SECONDS, so a hang fails the test instead of
# stalling it. Prints one PASS or FAIL line per check and exits non-zero on any
# failure. Set KEEP_ARDOUR_WORK=1 to keep the temporary folder.
set -uo pipefail

if [ $# -lt 3 ]; then
    echo "usage: $0 VST3_BUNDLE LV2_BUNDLE VST3_PRESET_FOLDER [vst3] [lv2]" >&2
    exit 2
fi
vst3_bundle=$(realpath "$1")
lv2_bundle=$(realpath "$2")
vst3_presets=$(realpath "$3")
shift 3
formats=("$@")
[ ${#formats[@]} -gt 0 ] || formats=(vst3 lv2)

here=$(cd "$(dirname "$0")" && pwd)
scanner=/usr/lib/ardour7/ardour-vst3-scanner
stage_timeout=${STAGE_TIMEOUT:-120}
stall_seconds=${STALL_SECONDS:-20}
# The product's names and preset count, from CMakeLists.txt and the preset table (ctest sets them).
vendor=${BRASSGATE_VENDOR:?set by ctest}
product=${BRASSGATE_PRODUCT:?set by ctest}
presets_expected=${BRASSGATE_PRESET_COUNT:?set by ctest}

python=/usr/bin/python3 # Debian's, with python3-numpy and python3-soundfile
for tool in ardour7-lua "$python" timeout; do
    if ! command -v "$tool" >/dev/null; then
        echo "FAIL: $tool is not installed (Debian: apt-get install ardour python3-numpy python3-soundfile)"
        exit 1
    fi
done
if ! "$python" -c "import numpy, soundfile" 2>/dev/null; then
    echo "FAIL: numpy or soundfile is not installed (Debian: apt-get install python3-numpy python3-soundfile)"
    exit 1
fi

work=$(mktemp -d /tmp/brassgate-ardour.XXXXXX)
if [ "${KEEP_ARDOUR_WORK:-0}" = 1 ]; then
    echo "NOTE: working in $work"
else
    trap 'rm -rf "$work"' EXIT
fi

# A private home for Ardour: its configuration, its plug-in index (cache) and
# the places it looks for VST3 plug-ins and their presets all live in it.
export HOME="$work/home"
export XDG_CONFIG_HOME="$HOME/.config" XDG_CACHE_HOME="$HOME/.cache" XDG_DATA_HOME="$HOME/.local/share"
unset VST3_PATH
mkdir -p "$HOME/.vst3/presets/$vendor" "$work/lv2-bundles"
ln -s "$vst3_bundle" "$HOME/.vst3/$product.vst3"
ln -s "$vst3_presets" "$HOME/.vst3/presets/$vendor/$product"
ln -s "$lv2_bundle" "$work/lv2-bundles/$product.lv2"
export LV2_PATH="$work/lv2-bundles"

passed=0
failed=0
count() {
    passed=$((passed + $(grep -c '^PASS:' "$1")))
    failed=$((failed + $(grep -c '^FAIL:' "$1")))
}

# run_stage LOG SCRIPT ARGS...: one ardour7-lua run, its output in LOG and on
# standard output. Fails (adds a FAIL line) when Ardour ends with an error, runs
# out of time, or prints nothing for stall_seconds.
run_stage() {
    local log=$1 script=$2
    shift 2
    local start=$SECONDS
    timeout -k 5 "$stage_timeout" ardour7-lua "$here/$script" "$@" >"$log.raw" 2>&1 </dev/null &
    local pid=$! last_size=-1 last_change=$SECONDS stalled=0
    while kill -0 "$pid" 2>/dev/null; do
        sleep 0.5
        local size
        size=$(stat -c %s "$log.raw")
        if [ "$size" != "$last_size" ]; then
            last_size=$size
            last_change=$SECONDS
        elif [ $((SECONDS - last_change)) -ge "$stall_seconds" ]; then
            stalled=1
            # timeout passes the signal on, and kills 5 s later if need be.
            kill -TERM "$pid" 2>/dev/null
            break
        fi
    done
    wait "$pid"
    local rc=$?
    grep -E '^(PASS|FAIL|NOTE|RENDER|AUDIO|SAVED|LOADING|LOADED|Error|\[ERROR\])' "$log.raw" >"$log"
    grep -E -v "^(RENDER|AUDIO|SAVED|LOADING|LOADED)" "$log"
    if [ "$stalled" = 1 ] || [ "$rc" = 124 ] || [ "$rc" = 137 ]; then
        local doing
        doing=$(grep -E '^(LOADING|LOADED|PASS|FAIL|NOTE)' "$log" | tail -1)
        echo "FAIL: $script did not finish (hung after: ${doing:-start}); stopped after $((SECONDS - start)) s" | tee -a "$log"
    elif [ "$rc" != 0 ]; then
        echo "FAIL: $script ended with status $rc" | tee -a "$log"
        tail -5 "$log.raw" | sed 's/^/    /'
    fi
    echo "NOTE: $script took $((SECONDS - start)) s"
}

audio_checks() {
    cat "$@" | "$python" "$here/audio_checks.py" | tee "$work/audio.log"
    count "$work/audio.log"
}

for format in "${formats[@]}"; do
    echo "== $format =="
    session="$work/$format/session"
    mkdir -p "$work/$format"

    if [ "$format" = vst3 ]; then
        # Ardour only lists VST3 plug-ins its scanner has indexed.
        if timeout 60 env LD_LIBRARY_PATH=/usr/lib/ardour7 "$scanner" -f "$HOME/.vst3/$product.vst3" \
            >"$work/scan.log" 2>&1; then
            echo "PASS: ardour-vst3-scanner indexed the VST3"
            passed=$((passed + 1))
        else
            echo "FAIL: ardour-vst3-scanner could not index the VST3"
            sed 's/^/    /' "$work/scan.log" | tail -5
            failed=$((failed + 1))
            continue
        fi
    fi

    run_stage "$work/$format/build.log" build_session.lua "$format" "$session"
    count "$work/$format/build.log"
    # "SAVED name value": the changed parameter the reopened session must keep.
    saved=$(grep '^SAVED ' "$work/$format/build.log" | tail -1)
    if [ -n "$saved" ]; then
        read -r _ name value <<<"$saved"
        run_stage "$work/$format/reopen.log" reopen_session.lua "$format" "$session" "$name" "$value"
        count "$work/$format/reopen.log"
        run_stage "$work/$format/presets.log" presets.lua "$format" "$session" "$presets_expected"
        count "$work/$format/presets.log"
    else
        echo "FAIL: no saved session to reopen"
        failed=$((failed + 1))
    fi
    audio_checks "$work/$format/"*.log
done

echo "ardour: $passed passed, $failed failed"
[ "$failed" = 0 ] && [ "$passed" -gt 0 ]
