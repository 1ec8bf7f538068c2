#include "LeslieSimulator.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>

namespace
{
constexpr double sampleRate = 48000.0; // Hz
constexpr int blockSize = 512;         // samples

// One block of the rotary speaker: sample by sample (the rotor step and the
// audio step for every sample), or as the processor runs it, the whole block in
// one call. Reported per sample.
void runBlocks (benchmark::State& state, float hornTarget, float drumTarget, bool wholeBlocks = false)
{
    auto leslie = std::make_unique<LeslieSimulator>();

    // Bring the rotors to speed first (20 drum time constants).
    for (long n = 0; n < static_cast<long> (40.0 * sampleRate); ++n)
        leslie->advanceRotors (hornTarget, drumTarget, sampleRate);

    float input[blockSize];
    for (int n = 0; n < blockSize; ++n)
        input[n] = 0.5f * std::sin (0.0654f * static_cast<float> (n)) + 0.25f * std::sin (0.0196f * static_cast<float> (n));

    float blockLeft[blockSize];
    float blockRight[blockSize];
    for (auto _ : state)
    {
        if (wholeBlocks)
        {
            leslie->processBlock (input, blockLeft, blockRight, blockSize, hornTarget, drumTarget, 0.8f, sampleRate);
            benchmark::DoNotOptimize (blockLeft);
            benchmark::DoNotOptimize (blockRight);
            continue;
        }

        for (int n = 0; n < blockSize; ++n)
        {
            float left = 0.0f;
            float right = 0.0f;
            leslie->advanceRotors (hornTarget, drumTarget, sampleRate);
            leslie->processSample (input[n], 0.8f, sampleRate, left, right);
            benchmark::DoNotOptimize (left);
            benchmark::DoNotOptimize (right);
        }
    }

    state.SetItemsProcessed (state.iterations() * blockSize);
    state.counters["ns_per_sample"] = benchmark::Counter (static_cast<double> (state.iterations() * blockSize),
                                                          benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_LeslieFastRotors (benchmark::State& state) { runBlocks (state, 6.7f, 5.7f); }
void BM_LeslieStoppedBypass (benchmark::State& state) { runBlocks (state, 0.0f, 0.0f); }
void BM_LeslieFastRotorsBlocks (benchmark::State& state) { runBlocks (state, 6.7f, 5.7f, true); }
} // namespace

BENCHMARK (BM_LeslieFastRotors);
BENCHMARK (BM_LeslieStoppedBypass);
BENCHMARK (BM_LeslieFastRotorsBlocks);
