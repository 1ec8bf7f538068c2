#!/usr/bin/env bash
# Builds the tests with sanitizers (Clang) and runs them; any report fails the run.
#  1. AddressSanitizer + UndefinedBehaviorSanitizer (build-asan): the engine,
#     processor and host tests, the host tests loading a VST3 module built the
#     same way; then the state fuzzer (libFuzzer) for a bounded number of inputs
#     on the restore path a host takes, seeded with valid states and with every
#     damaged state that ever broke a restore (tests/data/damaged-states).
#  2. ThreadSanitizer (build-tsan): the editor-lifetime tests, which open and
#     close the editor while blocks play on another thread.
# FUZZ_RUNS sets the number of fuzz inputs (default 20000).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh clang libclang-rt-14-dev

asan_dir=${ASAN_BUILD_DIR:-build-asan}
tsan_dir=${TSAN_BUILD_DIR:-build-tsan}
fuzz_runs=${FUZZ_RUNS:-20000}

configure() { # build dir, sanitizers, extra options...
    local dir=$1 sanitizers=$2
    shift 2
    # On every run: CMake redoes only what changed, and a new option reaches an
    # existing build tree too. The compilers are fixed when a tree is first made.
    CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DBRASSGATE_SANITIZERS="$sanitizers" -DBRASSGATE_BUILD_BENCHMARKS=OFF "$@"
}

seconds() { date +%s; }
start=$(seconds)

# Every report stops the program with a non-zero exit.
export ASAN_OPTIONS=abort_on_error=0:halt_on_error=1:detect_stack_use_after_return=1:strict_string_checks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

echo "== AddressSanitizer + UndefinedBehaviorSanitizer: build"
configure "$asan_dir" address,undefined -DBRASSGATE_FUZZ=ON
cmake --build "$asan_dir" -j "${JOBS:-2}" --target dsp_tests processor_tests host_tests state_fuzzer
built=$(seconds)

echo "== AddressSanitizer + UndefinedBehaviorSanitizer: tests"
for t in dsp_tests processor_tests host_tests; do
    "$asan_dir/tests/$t" --gtest_brief=1
done
tested=$(seconds)

echo "== State fuzzer: $fuzz_runs inputs"
corpus="$asan_dir/fuzz/corpus"
seeds="$asan_dir/fuzz/seeds"
artifacts="$asan_dir/fuzz/crashes"
mkdir -p "$corpus" "$artifacts"
if ! BRASSGATE_FUZZ_SEEDS="$seeds" "$asan_dir/tests/state_fuzzer" -runs="$fuzz_runs" -seed=1 -max_len=8192 \
        -dict=tests/fuzz/state.dict -timeout=20 -rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix="$artifacts/" \
        "$corpus" "$seeds" tests/data/damaged-states; then
    echo "The state fuzzer found a crash: keep its input (in $artifacts) in tests/data/damaged-states/ and fix it."
    exit 1
fi
fuzzed=$(seconds)

echo "== ThreadSanitizer: build"
configure "$tsan_dir" thread
cmake --build "$tsan_dir" -j "${JOBS:-2}" --target editor_tests

echo "== ThreadSanitizer: editor lifetime tests"
"$tsan_dir/tests/editor_tests" --gtest_brief=1 --gtest_filter='EditorLifetime.*'
done_at=$(seconds)

echo "== Sanitizer run done: ASan/UBSan build $((built - start)) s, tests $((tested - built)) s," \
     "fuzzing $((fuzzed - tested)) s, TSan build and tests $((done_at - fuzzed)) s"
