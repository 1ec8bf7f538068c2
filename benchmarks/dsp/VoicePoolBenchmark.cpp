#include "OrganVoicePool.h"

#include "SeededRandom.h"

#include <benchmark/benchmark.h>

#include <cstdint>

namespace
{
constexpr double benchmarkRate = 48000.0; // Hz

// renderVoices for one organ type with all 16 voices held at full level,
// every drawbar full and the chorus at 0.3 (the clock and its vibrato running).
void renderVoicesSixteenHeld (benchmark::State& state)
{
    const int organType = static_cast<int> (state.range (0));

    OrganVoicePool pool;
    SeededRandom random;
    DrawbarLevels drawbars;
    drawbars.fill (1.0f);
    const float chorus = 0.3f;
    const float modWheel = 0.0f;
    const float attackStep = 1.0f / (static_cast<float> (benchmarkRate) * 0.005f);  // per sample
    const float releaseStep = 1.0f / (static_cast<float> (benchmarkRate) * 0.025f); // per sample

    for (int v = 0; v < OrganVoicePool::numVoices; ++v)
        pool.startVoice (48 + v * 2, 0.8f, true, benchmarkRate, random);

    // Past the attack and the percussion burst, so the measured samples run the steady path.
    for (int n = 0; n < 1024; ++n)
        pool.renderVoices ({ organType, drawbars, chorus, modWheel, attackStep, releaseStep }, benchmarkRate, random);

    for (auto _ : state)
        benchmark::DoNotOptimize (pool.renderVoices ({ organType, drawbars, chorus, modWheel, attackStep, releaseStep }, benchmarkRate, random));

    state.SetItemsProcessed (state.iterations());
    // Time per output sample; printed with an SI prefix (n = nanoseconds).
    state.counters["s_per_sample"] = benchmark::Counter (static_cast<double> (state.iterations()),
                                                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    // How many times faster than real time at 48 kHz.
    state.counters["realtime_x"] = benchmark::Counter (static_cast<double> (state.iterations()) / benchmarkRate,
                                                       benchmark::Counter::kIsRate);
}
} // namespace

// 1 FARFISA, 2 VOX, 3 CHURCH.
BENCHMARK (renderVoicesSixteenHeld)->Arg (OrganVoicePool::farfisa)->Arg (OrganVoicePool::vox)->Arg (OrganVoicePool::church);
