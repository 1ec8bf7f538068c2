#!/usr/bin/env bash
# Builds the screenshot tool and renders the editor to docs/images/editor-*.png:
# one picture per organ type and one with the on-screen keyboard shown.
# The editor draws into images in memory, so no display is needed.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
bash scripts/build.sh screenshots
"$build_dir/screenshots" "${1:-docs/images}"
