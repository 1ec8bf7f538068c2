#!/usr/bin/env bash
# Builds everything and runs every test with ctest; then builds the sound library
# and its tests with Clang as well (build-clang, seconds) and runs them, so that a
# construct only GCC accepts can't come back.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
# Debian's Ardour, for the tests of the plug-ins in a real DAW, and numpy and
# soundfile to read and measure their renders.
bash scripts/install-deps.sh ardour python3-numpy python3-soundfile
ctest --test-dir "${BUILD_DIR:-build}" --output-on-failure -j 2

bash scripts/install-deps.sh clang
clang_dir=${CLANG_BUILD_DIR:-build-clang}
CC=clang CXX=clang++ cmake -S . -B "$clang_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DBRASSGATE_DSP_ONLY=ON -DBRASSGATE_BUILD_BENCHMARKS=OFF
cmake --build "$clang_dir" -j "${JOBS:-2}"
ctest --test-dir "$clang_dir" --output-on-failure -j 2
