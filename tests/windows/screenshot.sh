#!/usr/bin/env bash
# Run on a display (xvfb-run): shows the Windows module's editor under Wine,
# a chord playing (windows_checks --show-editor), and writes the part of the
# screen it covers as a PNG.
#
#   screenshot.sh WINE_RUN WINE_PREFIX WINDOWS_CHECKS OUT.png
set -euo pipefail
wine_run=$1 prefix=$2 checks=$3 out=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

timeout 120 "$wine_run" "$prefix" "$checks" --show-editor 6 > "$work/log" 2>&1 &
pid=$!
# shellcheck source=editor_on_screen.sh
. "$(dirname "$0")/editor_on_screen.sh"
area=$(editor_area "$work/log" "$pid" 200)
if [ -z "$area" ]; then
    echo "screenshot: the editor did not show:"
    cat "$work/log"
    exit 1
fi
sleep 2 # let it paint a few frames
xwd -root -silent > "$work/screen.xwd"
wait "$pid"
read -r x y w h <<< "$area"
convert "xwd:$work/screen.xwd" -crop "${w}x${h}+${x}+${y}" +repage "$out"
