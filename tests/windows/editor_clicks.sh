#!/usr/bin/env bash
# Clicks on the Windows editor under Wine as a person makes them, on a display
# of its own (run it under xvfb-run): first in the VST3 module shown by a
# Windows host (windows_checks --click-editor), then in the Standalone. In each,
# a click on "VOX" and then one on "KEYS". The part of the window each click
# concerns must stay still before the click and change after it, and the organ
# type must follow: as the host reports the parameter, and in the state the
# Standalone saves when it is closed. The screenshots stay in OUT_DIR.
#
#   editor_clicks.sh WINE_RUN WINE_PREFIX WINDOWS_CHECKS STANDALONE OUT_DIR
set -euo pipefail
wine_run=$1 prefix=$2 checks=$3 standalone=$4 out=$5
python=/usr/bin/python3 # Debian's
mkdir -p "$out"
rm -f "$out"/*.png
work=$(mktemp -d)
program=
cleanup() {
    [ -z "$program" ] || kill "$program" 2> /dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
failures=0
# shellcheck source=editor_on_screen.sh
. "$(dirname "$0")/editor_on_screen.sh"
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Where a person clicks, and what each click changes, in the editor's own
# coordinates (OrganEditor::resized; the editor is 700 x 520): the organ-type
# row with "VOX" third of four, and the bottom strip, where "KEYS" sits and
# the on-screen keyboard appears.
editor_width=700 editor_height=520
vox_at=(434 74)
keys_at=(665 510)
type_row=(12 56 676 36)    # x y width height
bottom_strip=(0 460 700 60)

screen() { # name: the whole screen, as PNG
    xwd -root -silent > "$work/screen.xwd"
    convert "xwd:$work/screen.xwd" "$work/$1.png"
}

region() { # screen name, editor x, editor y, x y width height: crops it to NAME-REGION.png
    local name=$1 ox=$2 oy=$3 x=$4 y=$5 w=$6 h=$7
    convert "$work/$name.png" -crop "${w}x${h}+$((ox + x))+$((oy + y))" +repage "$work/$name-crop.png"
}

differing() { # screen A, screen B, editor x, editor y, region...: the number of pixels that differ
    local a=$1 b=$2 ox=$3 oy=$4
    shift 4
    region "$a" "$ox" "$oy" "$@"
    mv "$work/$a-crop.png" "$work/a-crop.png"
    region "$b" "$ox" "$oy" "$@"
    compare -metric AE "$work/a-crop.png" "$work/$b-crop.png" null: 2>&1 || true
}

click() { # x y on the screen
    xdotool mousemove "$1" "$2" click 1
}

# One click and what it must change: the region is still between two shots
# before the click, and differs by more than MIN pixels after it.
check_click() { # label, editor x, editor y, click x, click y, minimum, region...
    local label=$1 ox=$2 oy=$3 cx=$4 cy=$5 min=$6
    shift 6
    screen before1
    sleep 1
    screen before2
    local still changed
    still=$(differing before1 before2 "$ox" "$oy" "$@")
    click $((ox + cx)) $((oy + cy))
    sleep 1.5
    screen after
    changed=$(differing before2 after "$ox" "$oy" "$@")
    region before2 "$ox" "$oy" 0 0 "$editor_width" "$editor_height"
    cp "$work/before2-crop.png" "$out/$label-before.png"
    region after "$ox" "$oy" 0 0 "$editor_width" "$editor_height"
    cp "$work/after-crop.png" "$out/$label-after.png"
    echo "$label: $still pixels changed before the click, $changed after it (region ${*// /x})"
    [[ $still =~ ^[0-9]+$ && $still -eq 0 ]] || fail "$label: the region changed without a click"
    [[ $changed =~ ^[0-9]+$ && $changed -gt $min ]] || fail "$label: the click did not change the window"
}

# --- The VST3 module in a Windows host -------------------------------------
stop="$work/stop"
"$wine_run" "$prefix" "$checks" --click-editor "Z:$stop" > "$work/host.log" 2>&1 &
program=$!
read -r ox oy _ < <(editor_area "$work/host.log" "$program") || true
if [ -z "${ox:-}" ]; then
    cat "$work/host.log"
    fail "VST3: the host did not show the editor"
else
    sleep 2 # its first frames
    check_click vst3-vox "$ox" "$oy" "${vox_at[@]}" 500 "${type_row[@]}"
    grep -q '^Organ Type: VOX' "$work/host.log" || fail "VST3: the host did not see the organ type become VOX"
    check_click vst3-keys "$ox" "$oy" "${keys_at[@]}" 2000 "${bottom_strip[@]}"
    touch "$stop"
    wait "$program" || fail "VST3: the host exited with an error"
    program=
    sed 's/^/  host: /' "$work/host.log"
fi

# --- The Standalone ----------------------------------------------------------
# It starts from its defaults: the state it saved last time goes first.
find "$prefix/drive_c/users" -name 'Brassgate Organ.settings' -delete 2> /dev/null || true
"$wine_run" "$prefix" "$standalone" > "$work/standalone.log" 2>&1 &
program=$!
window=$(timeout 60 xdotool search --sync --onlyvisible --name '^Brassgate Organ$' | head -1) || true
if [ -z "$window" ]; then
    cat "$work/standalone.log"
    fail "Standalone: no window"
else
    sleep 3 # its first frames
    eval "$(xdotool getwindowgeometry --shell "$window")" # X, Y, WIDTH, HEIGHT
    # The editor fills the window below its title bar, inside a border as wide
    # at the bottom as at the sides.
    border=$(((WIDTH - editor_width) / 2))
    ox=$((X + border)) oy=$((Y + HEIGHT - border - editor_height))
    echo "Standalone window ${WIDTH}x${HEIGHT} at $X,$Y; the editor at $ox,$oy"
    check_click standalone-vox "$ox" "$oy" "${vox_at[@]}" 500 "${type_row[@]}"
    check_click standalone-keys "$ox" "$oy" "${keys_at[@]}" 2000 "${bottom_strip[@]}"
    # Closed as a person closes it; it saves its state on the way out.
    xdotool windowfocus "$window" key alt+F4
    for _ in $(seq 1 40); do
        kill -0 "$program" 2> /dev/null || break
        sleep 0.5
    done
    if kill -0 "$program" 2> /dev/null; then
        fail "Standalone: still running 20 s after Alt+F4"
    else
        wait "$program" || fail "Standalone: exited with an error"
        program=
        settings=$(find "$prefix/drive_c/users" -name 'Brassgate Organ.settings' | head -1)
        if [ -z "$settings" ]; then
            fail "Standalone: saved no settings on closing"
        else
            type=$("$python" "$(dirname "$0")/saved_organ_type.py" "$settings") || true
            echo "Standalone: the saved state's organ type is ${type:-unreadable}"
            [ "$type" = 2 ] || fail "Standalone: the saved organ type is not VOX (2)"
        fi
    fi
fi

[ "$failures" -eq 0 ] && echo "editor clicks: all passed" || { echo "editor clicks: $failures failed"; exit 1; }
