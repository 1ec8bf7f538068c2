#!/usr/bin/env bash
# Configures and builds the given targets, or everything, in ./build.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

build_dir=${BUILD_DIR:-build}
# Configured on every run: CMake redoes only what changed.
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release
# Two jobs: the machines this is built on have two cores, and JUCE is heavy.
if [ $# -gt 0 ]; then
    cmake --build "$build_dir" -j "${JOBS:-2}" --target "$@"
else
    cmake --build "$build_dir" -j "${JOBS:-2}"
fi
