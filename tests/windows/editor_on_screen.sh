# Sourced by the scripts that look at the Windows editor under Wine.
#
# editor_area LOG PID [TRIES]: waits, half a second at a time (120 tries unless
# given), until LOG holds the line "editor on screen at X Y W H" that
# windows_checks prints once its editor shows, or until the program PID has
# ended; then prints "X Y W H", or nothing if the editor never showed.
editor_area() {
    local log=$1 pid=$2 tries=${3:-120}
    for _ in $(seq 1 "$tries"); do
        grep -q '^editor on screen at' "$log" && break
        kill -0 "$pid" 2> /dev/null || break
        sleep 0.5
    done
    sed -n 's/^editor on screen at \([0-9]*\) \([0-9]*\) \([0-9]*\) \([0-9]*\).*/\1 \2 \3 \4/p' "$log"
}
