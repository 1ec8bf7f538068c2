#!/usr/bin/env bash
# Runs a Windows program of the Windows build under Wine, in a Wine prefix of
# the build tree's own; made on first use (about 15 s). Wine's own messages stay
# off; the program's exit code is returned.
#
#   scripts/wine-run.sh PREFIX PROGRAM [ARGUMENT...]
set -euo pipefail
mkdir -p "$(dirname "$1")"
export WINEPREFIX=$(cd "$(dirname "$1")" && pwd)/$(basename "$1") # Wine wants it absolute
shift
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko: nothing here needs them, and Wine would offer to download them.
export WINEDLLOVERRIDES="mscoree,mshtml=${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"
wine=/usr/lib/wine/wine64

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    (
        flock 9
        if [ ! -f "$WINEPREFIX/system.reg" ]; then
            "$wine" wineboot --init > /dev/null 2>&1
            wineserver -w
        fi
    ) 9> "$WINEPREFIX.lock"
fi

exec "$wine" "$@"
