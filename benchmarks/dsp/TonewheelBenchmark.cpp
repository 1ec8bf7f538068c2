#include "TonewheelGenerator.h"

#include <benchmark/benchmark.h>

namespace
{
constexpr double benchmarkRate = 48000.0; // Hz

// renderSample with a number of keys held, every drawbar full, percussion, key
// click and chorus on: the heaviest registration the organ has.
void renderSampleWithKeysHeld (benchmark::State& state)
{
    const int keysHeld = static_cast<int> (state.range (0));

    TonewheelGenerator generator;
    generator.prepare (benchmarkRate);

    for (int k = 0; k < keysHeld; ++k)
        generator.noteOn (TonewheelGenerator::lowestNote + k * TonewheelGenerator::numKeys / keysHeld, 0.8f);

    DrawbarLevels drawbars;
    drawbars.fill (1.0f);
    const float chorus = 0.9f;
    const int scannerMode = TonewheelGenerator::scannerModeFor (chorus);

    // Let every contact close so the measured samples run the steady path.
    for (int n = 0; n < 256; ++n)
        generator.renderSample (drawbars, chorus, scannerMode, true, false, false, 0.5f, false, false);

    for (auto _ : state)
        benchmark::DoNotOptimize (generator.renderSample (drawbars, chorus, scannerMode, true, false, false, 0.5f, false, false));

    state.SetItemsProcessed (state.iterations());
    // How many times faster than real time at 48 kHz.
    state.counters["realtime_x"] = benchmark::Counter (static_cast<double> (state.iterations()) / benchmarkRate,
                                                       benchmark::Counter::kIsRate);
}
} // namespace

BENCHMARK (renderSampleWithKeysHeld)->Arg (0)->Arg (1)->Arg (10)->Arg (61);
