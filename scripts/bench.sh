#!/usr/bin/env bash
# Renders the benchmark scenarios through the built VST3 and, in the same run,
# through the reference tone-wheel organ (Debian's setbfree, hosted as LV2).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
if ! dpkg-query -W -f='${Status}' setbfree 2>/dev/null | grep -q "install ok installed"; then
    sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends setbfree \
        || echo "setbfree could not be installed: the table will show our figures only"
fi
bash scripts/build.sh bench
"${BUILD_DIR:-build}/bench" "$@"
