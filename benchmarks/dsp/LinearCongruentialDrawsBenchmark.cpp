#include "LinearCongruentialDraws.h"
#include "OrganVoicePool.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

// The 48-bit generator's draws: as many at a time as the church organ takes in
// one sample (144 with 16 voices and every drawbar), against stepping the
// generator once per draw; and the church organ rendered with them.

namespace
{
constexpr double benchmarkRate = 48000.0; // Hz

float scalarDraw (std::int64_t& seed)
{
    seed = static_cast<std::int64_t> ((static_cast<std::uint64_t> (seed) * 0x5deece66dULL + 11) & 0xffffffffffffULL);
    const float r = static_cast<float> (static_cast<std::uint32_t> (seed >> 16)) / 4294967296.0f;
    return r == 1.0f ? 0.99999988f : r;
}

void BM_LinearCongruentialDraws (benchmark::State& state)
{
    const int count = static_cast<int> (state.range (0));
    std::vector<float> out ((size_t) count);
    std::int64_t seed = 12345;

    for (auto _ : state)
    {
        seed = LinearCongruentialDraws::nextFloats (seed, out.data(), count);
        benchmark::DoNotOptimize (out.data());
    }

    state.SetItemsProcessed (state.iterations() * count);
}

// A table of 16 rows (voices) by 9 columns (oscillators), stored by columns.
void BM_LinearCongruentialDrawsByColumns (benchmark::State& state)
{
    LinearCongruentialDraws::ByColumns byColumns;
    byColumns.prepare (16, 9);
    std::vector<float> out (16 * 9);
    std::int64_t seed = 12345;

    for (auto _ : state)
    {
        seed = byColumns.nextFloats (seed, out.data());
        benchmark::DoNotOptimize (out.data());
    }

    state.SetItemsProcessed (state.iterations() * 16 * 9);
}

void BM_LinearCongruentialDrawsOneAtATime (benchmark::State& state)
{
    const int count = static_cast<int> (state.range (0));
    std::vector<float> out ((size_t) count);
    std::int64_t seed = 12345;

    for (auto _ : state)
    {
        for (int i = 0; i < count; ++i)
            out[(size_t) i] = scalarDraw (seed);
        benchmark::DoNotOptimize (out.data());
    }

    state.SetItemsProcessed (state.iterations() * count);
}

// A source backed by the 48-bit generator, as the processor's is: single draws
// one step at a time, and tables of draws either one call per draw (the
// default nextFloatsByColumns) or many lanes at a time.
class OneDrawPerCallSource : public RandomSource
{
public:
    float nextFloat() override { return scalarDraw (seed); }
    bool nextBool() override { return scalarDraw (seed) < 0.5f; }

protected:
    std::int64_t seed = 0x2545F491;
};

class LinearCongruentialSource : public OneDrawPerCallSource
{
public:
    void nextFloatsByColumns (float* out, int rows, int columns) override
    {
        if (byColumns.isPreparedFor (rows, columns) || byColumns.prepare (rows, columns))
            seed = byColumns.nextFloats (seed, out);
        else
            OneDrawPerCallSource::nextFloatsByColumns (out, rows, columns);
    }

private:
    LinearCongruentialDraws::ByColumns byColumns;
};

// The church organ with 16 voices held, every drawbar full and the chorus at 0.3.
template <typename Source>
void renderVoicesChurchWith (benchmark::State& state)
{
    OrganVoicePool pool;
    Source random;
    DrawbarLevels drawbars;
    drawbars.fill (1.0f);
    const float attackStep = 1.0f / (static_cast<float> (benchmarkRate) * 0.005f);
    const float releaseStep = 1.0f / (static_cast<float> (benchmarkRate) * 0.025f);

    for (int v = 0; v < OrganVoicePool::numVoices; ++v)
        pool.startVoice (48 + v * 2, 0.8f, true, benchmarkRate, random);

    for (int n = 0; n < 1024; ++n)
        pool.renderVoices ({ OrganVoicePool::church, drawbars, 0.3f, 0.0f, attackStep, releaseStep }, benchmarkRate, random);

    for (auto _ : state)
        benchmark::DoNotOptimize (
            pool.renderVoices ({ OrganVoicePool::church, drawbars, 0.3f, 0.0f, attackStep, releaseStep }, benchmarkRate, random));

    state.counters["realtime_x"] = benchmark::Counter (static_cast<double> (state.iterations()) / benchmarkRate,
                                                       benchmark::Counter::kIsRate);
}
void renderVoicesChurchLinearCongruentialDraws (benchmark::State& state) { renderVoicesChurchWith<LinearCongruentialSource> (state); }
void renderVoicesChurchOneDrawPerCall (benchmark::State& state) { renderVoicesChurchWith<OneDrawPerCallSource> (state); }
} // namespace

BENCHMARK (BM_LinearCongruentialDraws)->Arg (9)->Arg (144)->Arg (1000);
BENCHMARK (BM_LinearCongruentialDrawsByColumns);
BENCHMARK (BM_LinearCongruentialDrawsOneAtATime)->Arg (9)->Arg (144)->Arg (1000);
BENCHMARK (renderVoicesChurchLinearCongruentialDraws);
BENCHMARK (renderVoicesChurchOneDrawPerCall);
