#include "InstructionSets.h"
#include "TonewheelTestSupport.h"
#include "WheelBank.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

using namespace tonewheeltest;

// ---------------------------------------------------------------------------
// Wheels and the key-to-wheel map

TEST (TonewheelWheels, FrequenciesFollowTheGearRatios)
{
    TonewheelGenerator g;
    for (double f : g.getWheelFrequencies())
        EXPECT_EQ (f, 0.0) << "an unprepared generator has no wheel frequencies";

    g.prepare (48000.0);
    const struct
    {
        int wheel;
        double hz;
    } cases[] = { { 1, 32.6923 }, { 10, 55.0 }, { 13, 65.3846 }, { 46, 440.0 },
                  { 84, 3949.7143 }, { 85, 4189.0909 }, { 91, 5924.5714 } };

    for (const auto& c : cases)
        EXPECT_NEAR (g.getWheelFrequencies()[(size_t) (c.wheel - 1)], c.hz, 1.0e-4) << "wheel " << c.wheel;
}

TEST (TonewheelWheels, KeysMapToWheelsWithFoldingAtBothEnds)
{
    const struct
    {
        int note;
        int wheels[9];
    } cases[] = {
        { 36, { 13, 20, 13, 25, 32, 37, 41, 44, 49 } }, // 16' borrows the 8' wheel
        { 47, { 24, 31, 24, 36, 43, 48, 52, 55, 60 } },
        { 48, { 13, 32, 25, 37, 44, 49, 53, 56, 61 } }, // 16' now an octave below
        { 69, { 34, 53, 46, 58, 65, 70, 74, 77, 82 } },
        { 84, { 49, 68, 61, 73, 80, 85, 89, 80, 85 } }, // 1 1/3' folds to 80
        { 96, { 61, 80, 73, 85, 80, 85, 89, 80, 85 } }, // 1' folds to 85
    };

    for (const auto& c : cases)
        for (int j = 0; j < 9; ++j)
            EXPECT_EQ (TonewheelGenerator::wheelIndexFor (c.note - 36, j) + 1, c.wheels[j])
                << "note " << c.note << " drawbar " << j;
}

TEST (TonewheelWheels, WheelSignalsHaveTheirShapeCrosstalkAndPickupFilter)
{
    TonewheelGenerator g;
    const double sampleRate = 48000.0;
    g.prepare (sampleRate);

    std::vector<float> wheel10, wheel13, wheel46, wheel91;
    for (int n = 0; n < 96000; ++n) // 2 s: half-hertz resolution
    {
        g.advanceWheels (1.0f); // no drift: exact wheel pitches
        wheel10.push_back (wheelOutput (g, 10));
        wheel13.push_back (wheelOutput (g, 13));
        wheel46.push_back (wheelOutput (g, 46));
        wheel91.push_back (wheelOutput (g, 91));
    }

    const auto& hz = g.getWheelFrequencies();
    const struct
    {
        const std::vector<float>& wheel;
        double hz;
        double amplitude;
        const char* what;
    } partials[] = {
        { wheel10, 55.0, 0.55, "low wheels are square-like: fundamental" },
        { wheel10, 165.0, 0.55 / 3.0, "low wheels are square-like: third harmonic" },
        { wheel10, 275.0, 0.55 / 5.0, "low wheels are square-like: fifth harmonic" },
        { wheel13, hz[12], 1.0, "wheel 13 fundamental" },
        { wheel13, hz[11], 0.0055, "1 % of wheel 12, whose fundamental is 0.55" },
        { wheel46, 440.0, 1.0, "wheel 46 fundamental" },
        { wheel46, hz[44], 0.01, "crosstalk from wheel 45" },
        { wheel46, hz[46], 0.01, "crosstalk from wheel 47" },
        { wheel46, 880.0, 0.0, "no second harmonic below wheel 49 (the level term adds < 1e-4)" },
    };

    for (const auto& p : partials)
        EXPECT_NEAR (partialAmplitude (p.wheel, p.hz, sampleRate), p.amplitude, 0.006 * p.amplitude + 1.0e-4) << p.what;

    // Wheel 91 passes a one-pole low-pass with g = 2 pi 3500 / fs (6.2832 as written).
    const double coefficient = 3500.0 * 6.2832 / sampleRate;
    const double w = 2.0 * pi * hz[90] / sampleRate;
    const double response = coefficient / std::abs (1.0 - (1.0 - coefficient) * std::polar (1.0, -w));
    EXPECT_NEAR (partialAmplitude (wheel91, hz[90], sampleRate), response, 0.01);
}

// ---------------------------------------------------------------------------
// Keys: range, contact timing, envelope

TEST (TonewheelWheels, LowWheelsLeaveOutHarmonicsAboveTheAliasLimit)
{
    // At 1 kHz the limit is 450 Hz: wheel 12 (about 62 Hz) keeps its 3rd, 5th
    // and 7th harmonics and drops the 9th and 11th.
    constexpr double rate = 1000.0;
    auto g = std::make_unique<TonewheelGenerator>();
    g->prepare (rate);
    g->advanceWheels (1.0f);

    const auto& f = g->getWheelFrequencies();
    const auto lowWheel = [&] (int i, bool allHarmonics) {
        const double a = 2.0 * pi * (f[(size_t) i] / rate);
        float s = static_cast<float> (std::sin (a));
        const int harmonics[5] = { 3, 5, 7, 9, 11 };
        for (int h : harmonics)
            if (allHarmonics || 0.45 * rate > h * f[(size_t) i])
                s += static_cast<float> (std::sin (h * a)) * (1.0f / static_cast<float> (h));
        return s * 0.55f;
    };
    const double phase13 = f[12] / rate;
    const float wheel13 = static_cast<float> ((std::sin (0.7 * 12 + 0.13 * phase13) * 0.005 + 1.0) * std::sin (2.0 * pi * phase13));

    ASSERT_LT (0.45 * rate, 9 * f[11]);
    ASSERT_GT (0.45 * rate, 7 * f[11]);

    // Wheel 12's output: its own signal and 1 % of each neighbour.
    const float expected = lowWheel (11, false) + (wheel13 + lowWheel (10, false)) * 0.01f;
    const float withAliases = lowWheel (11, true) + (wheel13 + lowWheel (10, false)) * 0.01f;
    EXPECT_NEAR (g->getWheelOutputs()[11], expected, 1.0e-5f);
    EXPECT_GT (std::abs (withAliases - expected), 1.0e-3f);
}

TEST (TonewheelWheels, UnheardWheelsRestAndWakeAsIfTheyHadRunThroughout)
{
    // The bank works out only the heard wheels and rebuilds a pickup filter
    // when its wheel is heard again. Against a bank that hears every wheel all
    // the time: long pauses, upper wheels heard, dropped and heard again in
    // passes of every length, and a prepare in the middle, at a low, a usual
    // and a high rate.
    WheelSet upper, mixed;
    for (int i = 70; i < 91; ++i)
        upper.add (i);
    for (int i : { 20, 47, 48, 55, 60, 83, 90 })
        mixed.add (i);

    for (const double rate : { 8000.0, 48000.0, 384000.0 })
    {
        auto lazy = std::make_unique<WheelBank>();
        auto always = std::make_unique<WheelBank>();
        double worst = 0.0;
        int pass = 0;
        double time = 0.0;

        const auto play = [&] (WheelSet heard, double seconds, double sampleRate) {
            lazy->setHeard (heard);
            always->setHeard (WheelSet::all());
            for (int done = 0; done < samplesFor (seconds, sampleRate);)
            {
                const int count = 1 + (pass++ * 7) % WheelBank::wheelPass;
                float pitch[WheelBank::wheelPass];
                for (int t = 0; t < count; ++t, time += 1.0 / sampleRate)
                    pitch[t] = static_cast<float> (1.0 + 0.0003 * std::sin (2.0 * pi * 0.5 * time));
                lazy->process (pitch, count, MathMode::fast);
                always->process (pitch, count, MathMode::fast);
                for (int t = 0; t < count; ++t)
                    for (int i = 0; i < TonewheelGenerator::numWheels; ++i)
                        if (heard.contains (i))
                            worst = std::max (worst, (double) std::abs (lazy->row (t)[i] - always->row (t)[i]));
                done += count;
            }
        };

        lazy->prepare (rate, MathMode::fast);
        always->prepare (rate, MathMode::fast);
        play ({}, 0.7, rate);
        play (upper, 0.2, rate);
        play (mixed, 0.1, rate);
        play ({}, 0.5, rate);
        play (upper | mixed, 0.1, rate);
        lazy->prepare (rate * 0.5, MathMode::fast);
        always->prepare (rate * 0.5, MathMode::fast);
        play (mixed, 0.3, rate * 0.5);

        EXPECT_LE (worst, 1.0e-6) << "at " << rate << " Hz";
    }
}

TEST (TonewheelWheels, PassesStayWithTheLibrarysSinesUnderEveryDrift)
{
    // Every wheel heard, passes of every length, against the C library's sines:
    // the organ's own slow drift, and a far faster and deeper wobble that
    // moves the pitch factor a lot within one pass. Low, usual and high rates.
    const struct
    {
        double depth; // largest |p - 1|
        double hertz; // wobble rate
    } drifts[] = { { 5.0e-4, 6.3 }, { 0.01, 40.0 } };

    for (const auto target : instructionsets::available())
    {
        instructionsets::with (target, [&] {
            for (const double rate : { 8000.0, 44100.0, 48000.0, 192000.0 })
            {
                for (const auto& drift : drifts)
                {
                    auto fast = std::make_unique<WheelBank>();
                    auto reference = std::make_unique<WheelBank>();
                    fast->prepare (rate, MathMode::fast);
                    reference->prepare (rate, MathMode::reference);
                    fast->setHeard (WheelSet::all());
                    reference->setHeard (WheelSet::all());

                    double worst = 0.0;
                    double time = 0.0;
                    for (int pass = 0, done = 0; done < static_cast<int> (0.2 * rate); ++pass)
                    {
                        const int count = 1 + (pass * 5) % WheelBank::wheelPass;
                        float pitch[WheelBank::wheelPass];
                        for (int t = 0; t < count; ++t, time += 1.0 / rate)
                            pitch[t] = static_cast<float> (1.0 + drift.depth * std::sin (2.0 * pi * drift.hertz * time));
                        fast->process (pitch, count, MathMode::fast);
                        reference->process (pitch, count, MathMode::reference);
                        for (int t = 0; t < count; ++t)
                            for (int i = 0; i < TonewheelGenerator::numWheels; ++i)
                                worst = std::max (worst, (double) std::abs (fast->row (t)[i] - reference->row (t)[i]));
                        done += count;
                    }
                    EXPECT_LE (worst, 1.0e-6) << rate << " Hz, drift " << drift.depth << " at " << drift.hertz << " Hz, "
                                              << instructionsets::nameOf (target);
                }
            }
        });
    }
}
