#include "InstructionSets.h"
#include "RenderScenarios.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iostream>

// The engines' and effects' own sine and tanh kernels against the C library:
// every scenario is rendered twice, once with each, and every output sample
// must agree.

namespace
{
constexpr double tolerance = 1.0e-6; // largest difference allowed in any output sample

struct Difference
{
    double worst = 0.0; // largest absolute difference
    long at = -1;       // sample where it occurs
};

Difference largestDifference (const std::vector<float>& a, const std::vector<float>& b)
{
    Difference d;
    for (size_t n = 0; n < a.size(); ++n)
    {
        const double diff = std::abs (static_cast<double> (a[n]) - static_cast<double> (b[n]));
        if (! (diff <= d.worst)) // NaN counts as a difference too
        {
            d.worst = diff;
            d.at = static_cast<long> (n);
        }
    }
    return d;
}

float peak (const std::vector<float>& signal)
{
    float p = 0.0f;
    for (float x : signal)
        p = std::max (p, std::abs (x));
    return p;
}

std::vector<scenarios::Scenario> allScenarios()
{
    auto list = scenarios::toneWheelScenarios();
    for (auto& s : scenarios::voiceScenarios())
        list.push_back (s);
    return list;
}

class Fidelity : public ::testing::TestWithParam<scenarios::Scenario>
{
};
} // namespace

TEST_P (Fidelity, OwnKernelsMatchTheLibraryInEveryOutputSample)
{
    const auto& scenario = GetParam();
    const auto fast = scenarios::render (scenario, MathMode::fast);
    const auto reference = scenarios::render (scenario, MathMode::reference);

    // A scenario that renders silence would prove nothing.
    ASSERT_GT (peak (reference.engine), 0.1f);
    ASSERT_GT (peak (reference.saturated), 0.1f);
    ASSERT_GT (peak (reference.left), 0.1f);

    const struct
    {
        const char* what;
        const std::vector<float>& fast;
        const std::vector<float>& reference;
    } outputs[] = {
        { "engine", fast.engine, reference.engine },
        { "drive and output saturation", fast.saturated, reference.saturated },
        { "rotary left", fast.left, reference.left },
        { "rotary right", fast.right, reference.right },
    };

    for (const auto& o : outputs)
    {
        const auto d = largestDifference (o.fast, o.reference);
        std::cout << "  " << scenario.name << ", " << o.what << ": worst difference " << d.worst << "\n";
        EXPECT_LE (d.worst, tolerance) << o.what << " at sample " << d.at;
    }
}

// GoogleTest lists a parameterised case by its value; a scenario is named by
// its name alone, not dumped byte by byte.
namespace scenarios
{
void PrintTo (const Scenario& scenario, std::ostream* os) { *os << scenario.name; }
} // namespace scenarios

INSTANTIATE_TEST_SUITE_P (TenSecondsAt48kHz, Fidelity, ::testing::ValuesIn (allScenarios()),
                          [] (const ::testing::TestParamInfo<scenarios::Scenario>& info) {
                              std::string name;
                              for (char c : info.param.name)
                                  if (std::isalnum (static_cast<unsigned char> (c)))
                                      name += c;
                              return name;
                          });

// The variants compiled for narrower instruction sets than this processor's
// widest are what other processors run: they must agree with the library too.
TEST (Fidelity, NarrowerInstructionSetsMatchTheLibraryToo)
{
    const auto sets = instructionsets::available();
    for (const auto& scenario : allScenarios())
    {
        if (scenario.name != "B3 all drawbars ten keys" && scenario.name != "B3 phrase of overlapping notes"
            && scenario.name != "CHURCH sixteen voices")
            continue;

        const auto reference = scenarios::render (scenario, MathMode::reference);
        for (size_t i = 1; i < sets.size(); ++i) // the widest is the other test's
        {
            instructionsets::with (sets[i], [&] {
                const auto fast = scenarios::render (scenario, MathMode::fast);
                for (auto output : { &scenarios::Render::engine, &scenarios::Render::left })
                {
                    const auto d = largestDifference (fast.*output, reference.*output);
                    EXPECT_LE (d.worst, tolerance) << scenario.name << ", " << instructionsets::nameOf (sets[i]) << ", sample " << d.at;
                }
            });
        }
    }
}
