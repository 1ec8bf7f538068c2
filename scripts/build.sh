#!/usr/bin/env bash
# Configures (once) and builds the given targets, or everything, in ./build.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

build_dir=${BUILD_DIR:-build}
if [ ! -f "$build_dir/build.ninja" ]; then
    cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release
fi
# Two jobs: the machines this is built on have two cores, and JUCE is heavy.
if [ $# -gt 0 ]; then
    cmake --build "$build_dir" -j "${JOBS:-2}" --target "$@"
else
    cmake --build "$build_dir" -j "${JOBS:-2}"
fi
