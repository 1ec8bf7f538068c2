// The engines' own vector sine and tanh against Highway's (hwy/contrib/math),
// on the instruction set Highway picks here, over the arguments the engines
// produce. Each reports its worst error against the C library in units in the
// last place of a double ("ulps"); the engines round every result to single
// precision, but their comparison path allows only rounding differences.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "SineKernelBenchmark.cpp"
#include <hwy/foreach_target.h> // IWYU pragma: keep
#include <hwy/highway.h>

#include <hwy/contrib/math/math-inl.h>

#include "SineKernel-inl.h"

HWY_BEFORE_NAMESPACE();
namespace sinebench
{
namespace HWY_NAMESPACE
{
namespace hn = hwy::HWY_NAMESPACE;

// out[i] = f(x[i]) for n values, n a multiple of the vector length: 0 own sine,
// 1 Highway's sine, 2 own tanh, 3 Highway's tanh.
void apply (int which, const double* x, double* out, int n)
{
    const hn::ScalableTag<double> d;
    for (int i = 0; i < n; i += static_cast<int> (hn::Lanes (d)))
    {
        const auto v = hn::LoadU (d, x + i);
        const auto y = which == 0   ? sinekernel::HWY_NAMESPACE::Sine (d, v)
                       : which == 1 ? hn::Sin (d, v)
                       : which == 2 ? sinekernel::HWY_NAMESPACE::HyperbolicTangent (d, v)
                                    : hn::Tanh (d, v);
        hn::StoreU (y, d, out + i);
    }
}
} // namespace HWY_NAMESPACE
} // namespace sinebench
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
#include "SineKernel.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

namespace sinebench
{
HWY_EXPORT (apply);

namespace
{
constexpr int count = 1024;

double ulpsBetween (double value, double exact)
{
    if (value == exact)
        return 0.0;
    return std::abs (value - exact) / std::abs (std::nextafter (exact, INFINITY) - exact);
}

void run (benchmark::State& state, int which, double low, double high)
{
    std::mt19937_64 engine (99);
    std::uniform_real_distribution<double> uniform (low, high);
    std::vector<double> x (count), y (count);
    for (auto& v : x)
        v = uniform (engine);

    for (auto _ : state)
    {
        HWY_DYNAMIC_DISPATCH (apply) (which, x.data(), y.data(), count);
        benchmark::DoNotOptimize (y.data());
    }

    double worst = 0.0;
    for (int i = 0; i < count; ++i)
        worst = std::max (worst, ulpsBetween (y[(size_t) i], which < 2 ? std::sin (x[(size_t) i]) : std::tanh (x[(size_t) i])));
    state.counters["ulps"] = worst;
    state.SetItemsProcessed (state.iterations() * count);
    state.SetLabel (sinekernel::instructionSetName());
}

// Wheel arguments: fundamentals, harmonics and level terms, 0 to 70 radians.
void ownSine (benchmark::State& state) { run (state, 0, 0.0, 70.0); }
void highwaySine (benchmark::State& state) { run (state, 1, 0.0, 70.0); }
// Saturation arguments, -4 to 4.
void ownTanh (benchmark::State& state) { run (state, 2, -4.0, 4.0); }
void highwayTanh (benchmark::State& state) { run (state, 3, -4.0, 4.0); }
} // namespace

BENCHMARK (ownSine);
BENCHMARK (highwaySine);
BENCHMARK (ownTanh);
BENCHMARK (highwayTanh);
} // namespace sinebench
#endif
