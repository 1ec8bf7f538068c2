#!/usr/bin/env bash
# Renders the benchmark scenarios through the built VST3 and, in the same run,
# through the peer organs (Debian's setbfree and foo-yc20, hosted as LV2 by lilv).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/install-deps.sh setbfree foo-yc20 \
    || echo "the peer organs could not be installed: the table will show our figures only"
bash scripts/build.sh bench
"${BUILD_DIR:-build}/bench" "$@"
