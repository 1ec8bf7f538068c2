#include "LeslieSimulator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <vector>

namespace
{
constexpr float slowHorn = 0.8f;  // Hz
constexpr float slowDrum = 0.67f; // Hz
constexpr float fastHorn = 6.7f;  // Hz
constexpr float fastDrum = 5.7f;  // Hz
constexpr float twoPi = 6.2831855f;

// 64 KiB of delay lines: keep the simulators off the stack.
std::unique_ptr<LeslieSimulator> makeLeslie()
{
    return std::make_unique<LeslieSimulator>();
}

// Rotor steps only, as the processor runs them before the engine renders.
void spin (LeslieSimulator& leslie, float hornTarget, float drumTarget, double rate, double seconds)
{
    const auto samples = static_cast<long> (seconds * rate);

    for (long n = 0; n < samples; ++n)
        leslie.advanceRotors (hornTarget, drumTarget, rate);
}

std::unique_ptr<LeslieSimulator> makeFastLeslie (double rate)
{
    auto leslie = makeLeslie();
    spin (*leslie, fastHorn, fastDrum, rate, 40.0); // 20 drum time constants
    return leslie;
}

// A 1 kHz tone plus a 150 Hz one, so both bands carry signal.
float testSignal (long n, double rate, float amplitude = 0.5f)
{
    const double t = static_cast<double> (n) / rate;
    return amplitude * static_cast<float> (std::sin (6.283185307 * 1000.0 * t) + 0.5 * std::sin (6.283185307 * 150.0 * t));
}

struct Pair
{
    float left;
    float right;
};

Pair step (LeslieSimulator& leslie, float hornTarget, float drumTarget, float input, float speedNorm, double rate)
{
    Pair out {};
    leslie.advanceRotors (hornTarget, drumTarget, rate);
    leslie.processSample (input, speedNorm, rate, out.left, out.right);
    return out;
}

// Largest magnitude the cabinet can give: the saturation is below 1.1 and the
// body adds at most 0.03 / 0.85 of that.
constexpr float outputBound = 1.1f * (1.0f + 0.03f / 0.85f);
} // namespace

TEST (LeslieSimulator, RotorSpeedsApproachTargetsWithTheirTimeConstants)
{
    struct Case
    {
        double rate;
        bool braking; // from fast toward stop, else from rest toward fast
        bool horn;
        double timeConstant; // seconds
    };

    const Case cases[] = {
        { 44100.0, false, true, 0.5 },   { 44100.0, true, true, 0.833 },
        { 44100.0, false, false, 2.0 },  { 44100.0, true, false, 2.667 },
        { 8000.0, false, true, 0.5 },    { 8000.0, true, false, 2.667 },
        { 384000.0, false, true, 0.5 },  { 384000.0, true, false, 2.667 },
    };

    for (const auto& c : cases)
    {
        auto leslie = c.braking ? makeFastLeslie (c.rate) : makeLeslie();
        const float target = c.braking ? 0.0f : (c.horn ? fastHorn : fastDrum);
        const auto speed = [&] { return c.horn ? leslie->getHornSpeed() : leslie->getDrumSpeed(); };
        const float start = speed();

        spin (*leslie, target, target, c.rate, c.timeConstant);

        const double remaining = (target - speed()) / (target - start);
        EXPECT_NEAR (remaining, std::exp (-1.0), 0.003)
            << (c.horn ? "horn" : "drum") << (c.braking ? " braking" : " speeding up") << " at " << c.rate;
    }
}

TEST (LeslieSimulator, BrakingSnapsEachRotorToZeroThenPassesTheInputExactly)
{
    constexpr double rate = 44100.0;
    auto leslie = makeFastLeslie (rate);

    long hornStopSample = -1;
    long drumStopSample = -1;
    bool drumAloneProcessed = false;

    for (long n = 0; n < static_cast<long> (20.0 * rate) && drumStopSample < 0; ++n)
    {
        const float x = testSignal (n, rate);
        const Pair out = step (*leslie, 0.0f, 0.0f, x, 0.5f, rate);

        // Once below 0.01 Hz the speed is exactly 0, never a small remainder.
        const float horn = leslie->getHornSpeed();
        const float drum = leslie->getDrumSpeed();
        ASSERT_TRUE (horn == 0.0f || horn >= 0.01f) << horn;
        ASSERT_TRUE (drum == 0.0f || drum >= 0.01f) << drum;

        if (hornStopSample < 0 && horn == 0.0f)
            hornStopSample = n;

        if (drumStopSample < 0 && drum == 0.0f)
            drumStopSample = n;

        // The horn at rest alone does not bypass the drum.
        if (horn == 0.0f && drum > 0.01f && out.left != x)
            drumAloneProcessed = true;
    }

    // ln(6.7 / 0.01) x 0.833 s and ln(5.7 / 0.01) x 2.667 s.
    EXPECT_NEAR (hornStopSample / rate, 5.42, 0.05);
    EXPECT_NEAR (drumStopSample / rate, 16.93, 0.1);
    EXPECT_TRUE (drumAloneProcessed);

    const float hornAngle = leslie->getHornAngle();
    const float drumAngle = leslie->getDrumAngle();
    const int writeIndex = leslie->getWriteIndex();
    const float inputs[] = { 0.25f, -0.9f, 3.0f, -7.5f, 1.0e-30f, 0.0f, 12345.0f };

    for (int repeat = 0; repeat < 1000; ++repeat)
    {
        for (const float x : inputs)
        {
            const Pair out = step (*leslie, 0.0f, 0.0f, x, 1.0f, rate);
            ASSERT_EQ (out.left, x);
            ASSERT_EQ (out.right, x);
        }
    }

    EXPECT_EQ (leslie->getHornAngle(), hornAngle);
    EXPECT_EQ (leslie->getDrumAngle(), drumAngle);
    // The lines keep their time base through the bypass.
    EXPECT_EQ (leslie->getWriteIndex(), (writeIndex + 1000 * 7) % LeslieSimulator::lineLength);
}

TEST (LeslieSimulator, ReleasingTheBrakeAtSlowEndsTheBypassAfterAboutSixMilliseconds)
{
    // 0.8 (1 - exp(-t / 0.5 s)) passes 0.01 Hz at 6.29 ms.
    for (const double rate : { 44100.0, 48000.0, 96000.0, 384000.0 })
    {
        auto leslie = makeLeslie();
        long firstProcessed = -1;

        for (long n = 0; n < static_cast<long> (0.02 * rate) && firstProcessed < 0; ++n)
        {
            const float x = testSignal (n, rate);
            const Pair out = step (*leslie, slowHorn, slowDrum, x, 0.4f, rate);

            if (out.left != x || out.right != x)
                firstProcessed = n;
        }

        const double seconds = firstProcessed / rate;
        EXPECT_NEAR (seconds, 0.00629, 0.0002) << "at " << rate;
        EXPECT_GT (leslie->getHornSpeed(), 0.01f);
        EXPECT_LT (leslie->getDrumSpeed(), 0.01f); // the drum follows with its 2 s constant
    }
}

TEST (LeslieSimulator, DcThroughTheTurningDrumFollowsItsCosineLevelAndSaturation)
{
    // A constant input lives only in the low band, so each side settles to
    // body gain x saturation(dc x drum level x g); the body adds 0.03 / 0.85.
    struct Case
    {
        float dc;
        float speedNorm;
    };

    const Case cases[] = { { 0.2f, 0.0f }, { 0.2f, 0.4f }, { 0.2f, 1.0f }, { -0.2f, 0.4f }, { -0.3f, 1.0f } };
    constexpr double rate = 48000.0;
    constexpr double bodyGain = 1.0 + 0.03 / 0.85;

    const auto saturate = [] (double v) { return v > 0.0 ? std::tanh (v) : 1.1 * std::tanh (0.85 * v); };

    for (const auto& c : cases)
    {
        auto leslie = makeLeslie();
        spin (*leslie, slowHorn, slowDrum, rate, 20.0);
        const double g = 0.8 * c.speedNorm + 1.2;
        double largestError = 0.0;

        for (long n = 0; n < static_cast<long> (2.0 * rate); ++n)
        {
            const Pair out = step (*leslie, slowHorn, slowDrum, c.dc, c.speedNorm, rate);

            if (n < 2000) // the band split and the cabinet settle
                continue;

            const double cosDrum = std::cos (static_cast<double> (leslie->getDrumAngle()));
            const double expectedLeft = bodyGain * saturate (c.dc * (0.7 + 0.3 * cosDrum) * g);
            const double expectedRight = bodyGain * saturate (c.dc * (0.7 - 0.3 * cosDrum) * g);
            largestError = std::max (largestError, std::abs (out.left - expectedLeft));
            largestError = std::max (largestError, std::abs (out.right - expectedRight));
        }

        EXPECT_LT (largestError, 2.0e-5) << "dc " << c.dc << " speedNorm " << c.speedNorm;
    }
}

TEST (LeslieSimulator, TurningRotorsMakeDifferentBoundedSides)
{
    for (const double rate : { 8000.0, 44100.0, 384000.0 })
    {
        auto leslie = makeFastLeslie (rate);
        float widest = 0.0f;
        float loudest = 0.0f;

        // Full scale, then far beyond it: the cabinet saturates, the filters
        // stay stable (at 8 kHz the 4 kHz smoothing is limited to 0.99).
        for (const float amplitude : { 1.0f, 1.0e6f, 2.0e38f })
        {
            for (long n = 0; n < static_cast<long> (1.0 * rate); ++n)
            {
                const Pair out = step (*leslie, fastHorn, fastDrum, testSignal (n, rate, amplitude), 0.6f, rate);
                ASSERT_TRUE (std::isfinite (out.left) && std::isfinite (out.right)) << "at " << rate;
                loudest = std::max ({ loudest, std::abs (out.left), std::abs (out.right) });
                widest = std::max (widest, std::abs (out.left - out.right));
            }
        }

        EXPECT_LE (loudest, outputBound) << "at " << rate;
        EXPECT_GT (widest, 0.1f) << "at " << rate;
    }
}

TEST (LeslieSimulator, TheTurningHornBendsTheToneInProportionToItsSpeed)
{
    // The drum stays at rest (target 0), so only the horn delays move. A 3 kHz
    // tone lives mostly in the horn band; its zero crossings show the period
    // stretching and shrinking as the horn delays swing (Doppler).
    constexpr double rate = 44100.0;
    constexpr double toneHz = 3000.0;

    const auto periodSwing = [&] (float hornTarget)
    {
        auto leslie = makeLeslie();
        spin (*leslie, hornTarget, 0.0f, rate, 10.0);
        EXPECT_EQ (leslie->getDrumSpeed(), 0.0f);

        double previousValue = 0.0;
        double previousCrossing = -1.0;
        double shortest = 1.0e9;
        double longest = 0.0;

        // Two seconds: at least one full turn of the slow horn.
        for (long n = 0; n < static_cast<long> (2.0 * rate); ++n)
        {
            const float x = 0.1f * static_cast<float> (std::sin (6.283185307 * toneHz * n / rate));
            const double y = step (*leslie, hornTarget, 0.0f, x, 0.5f, rate).left;

            if (n > 1000 && previousValue < 0.0 && y >= 0.0)
            {
                const double crossing = n - 1 + previousValue / (previousValue - y);

                if (previousCrossing > 0.0)
                {
                    shortest = std::min (shortest, crossing - previousCrossing);
                    longest = std::max (longest, crossing - previousCrossing);
                }

                previousCrossing = crossing;
            }

            previousValue = y;
        }

        return (longest - shortest) * toneHz / rate;
    };

    const double fast = periodSwing (fastHorn);
    const double slow = periodSwing (slowHorn);

    // The main tap alone would swing the period by 2 x 0.35 ms x 2 pi x 6.7 Hz,
    // about 3 %; where its level dips the second tap and the drum band pull the
    // crossings further.
    EXPECT_GT (fast, 0.03);
    EXPECT_LT (fast, 0.12);
    // The same path turned slower: the pitch bend scales with the rotor speed.
    EXPECT_NEAR (fast / slow, fastHorn / slowHorn, 0.15 * fastHorn / slowHorn);
}

TEST (LeslieSimulator, AnImpulseReachesEachSideThroughBothHornTaps)
{
    // The horn of a fresh instance rests at angle 0 while the drum turns slowly:
    // the main tap then arrives after 0.35 ms at level 0.45 + 0.55 = 1 (times 1)
    // on the left and 0.1 (times 0.7) on the right; the second tap, unmodulated
    // in level, arrives after 0.3 sin(2.094) + 0.5 ms on both sides alike.
    constexpr double rate = 192000.0;
    auto leslie = makeLeslie();
    spin (*leslie, 0.0f, slowDrum, rate, 10.0);
    ASSERT_EQ (leslie->getHornAngle(), 0.0f);

    constexpr int length = 200;
    Pair out[length] {};

    for (int n = 0; n < length; ++n)
        out[n] = step (*leslie, 0.0f, slowDrum, n == 0 ? 1.0e-3f : 0.0f, 0.5f, rate);

    // An arrival at d samples is split over samples floor(d) and floor(d) + 1.
    // The drum's low band rises slowly underneath; the two samples before the
    // arrival give its slope.
    const auto before = [&] (double delayMs, float Pair::*side)
    {
        const int first = static_cast<int> (delayMs * rate / 1000.0);
        return static_cast<double> (out[first - 1].*side) - (out[first - 3].*side);
    };
    const auto rise = [&] (double delayMs, float Pair::*side)
    {
        const int first = static_cast<int> (delayMs * rate / 1000.0);
        return static_cast<double> (out[first + 1].*side) - (out[first - 1].*side) - before (delayMs, side);
    };

    const double mainMs = 0.35;
    const double secondMs = 0.3 * std::sin (2.094) + 0.5;
    const double mainRatio = 1.0 / (0.1 * 0.7);

    EXPECT_NEAR (rise (mainMs, &Pair::left) / rise (mainMs, &Pair::right), mainRatio, 0.03 * mainRatio);
    EXPECT_NEAR (rise (secondMs, &Pair::left) / rise (secondMs, &Pair::right), 1.0, 0.03);

    // Nothing arrives early: just before each tap the output barely moves.
    for (const double ms : { mainMs, secondMs })
        EXPECT_LT (std::abs (before (ms, &Pair::left)), 0.02 * rise (ms, &Pair::left)) << ms << " ms";
}

TEST (LeslieSimulator, NonFiniteOrExtremeInputDoesNotPoisonTheState)
{
    constexpr double rate = 44100.0;
    const float bad[] = { std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                          -std::numeric_limits<float>::infinity() };

    // At rest the bad sample is passed on as silence.
    auto resting = makeLeslie();
    for (const float x : bad)
    {
        const Pair out = step (*resting, 0.0f, 0.0f, x, 0.5f, rate);
        EXPECT_EQ (out.left, 0.0f);
        EXPECT_EQ (out.right, 0.0f);
    }

    // Turning: the output stays finite and still carries the following signal,
    // also after full-scale float input at the highest frequency, whose band
    // split differences would overflow without a limit.
    auto leslie = makeFastLeslie (rate);
    float loudestAfter = 0.0f;

    for (long n = 0; n < 4410; ++n)
    {
        float x = testSignal (n, rate);

        if (n >= 1000 && n < 1003)
            x = bad[n - 1000];
        else if (n >= 1003 && n < 1200)
            x = (n % 2 == 0 ? 1.0f : -1.0f) * std::numeric_limits<float>::max();
        const Pair out = step (*leslie, fastHorn, fastDrum, x, 0.5f, rate);
        ASSERT_TRUE (std::isfinite (out.left) && std::isfinite (out.right)) << "sample " << n;

        if (n > 2000)
            loudestAfter = std::max (loudestAfter, std::abs (out.left));
    }

    EXPECT_GT (loudestAfter, 0.3f);
}

TEST (LeslieSimulator, AnglesWrapOnceIntoRangeAndCountTheRevolutions)
{
    constexpr double rate = 44100.0;
    auto leslie = makeLeslie();
    double hornTurns = 0.0; // expected revolutions: the sum of speed / rate
    int hornWraps = 0;
    int drumWraps = 0;

    for (long n = 0; n < static_cast<long> (10.0 * rate); ++n)
    {
        const float hornBefore = leslie->getHornAngle();
        const float drumBefore = leslie->getDrumAngle();
        leslie->advanceRotors (fastHorn, fastDrum, rate);
        const float horn = leslie->getHornAngle();
        const float drum = leslie->getDrumAngle();
        hornTurns += leslie->getHornSpeed() / rate;

        ASSERT_TRUE (horn >= 0.0f && horn < twoPi) << horn;
        ASSERT_TRUE (drum >= 0.0f && drum < twoPi) << drum;

        if (horn < hornBefore)
        {
            // One subtraction of 2 pi: the step size is kept across the wrap.
            const float stepSize = leslie->getHornSpeed() * twoPi / static_cast<float> (rate);
            ASSERT_NEAR (horn, hornBefore + stepSize - twoPi, 1.0e-5f);
            ++hornWraps;
        }

        if (drum < drumBefore)
            ++drumWraps;
    }

    EXPECT_NEAR (hornWraps, hornTurns, 1.0);
    EXPECT_GT (drumWraps, 30); // about 10 s x 5.7 Hz less the 2 s spin-up
}

TEST (LeslieSimulator, ResetSilencesTheLinesButTheRotorsKeepTurning)
{
    constexpr double rate = 48000.0;
    auto leslie = makeFastLeslie (rate);

    for (long n = 0; n < 5000; ++n)
        step (*leslie, fastHorn, fastDrum, testSignal (n, rate), 0.7f, rate);

    auto withoutReset = std::make_unique<LeslieSimulator> (*leslie);
    const float hornSpeed = leslie->getHornSpeed();
    const float drumSpeed = leslie->getDrumSpeed();
    const float hornAngle = leslie->getHornAngle();
    const float drumAngle = leslie->getDrumAngle();

    leslie->reset();

    EXPECT_EQ (leslie->getHornSpeed(), hornSpeed);
    EXPECT_EQ (leslie->getDrumSpeed(), drumSpeed);
    EXPECT_EQ (leslie->getHornAngle(), hornAngle);
    EXPECT_EQ (leslie->getDrumAngle(), drumAngle);
    EXPECT_EQ (leslie->getWriteIndex(), 0);

    // Silence in: the reset one is silent at once, the other still rings out its lines.
    float resetTail = 0.0f;
    float keptTail = 0.0f;

    for (int n = 0; n < 100; ++n)
    {
        const Pair a = step (*leslie, fastHorn, fastDrum, 0.0f, 0.7f, rate);
        const Pair b = step (*withoutReset, fastHorn, fastDrum, 0.0f, 0.7f, rate);
        resetTail = std::max ({ resetTail, std::abs (a.left), std::abs (a.right) });
        keptTail = std::max ({ keptTail, std::abs (b.left), std::abs (b.right) });
    }

    EXPECT_EQ (resetTail, 0.0f);
    EXPECT_GT (keptTail, 0.01f);
    EXPECT_NE (leslie->getHornAngle(), hornAngle); // still turning
}

TEST (LeslieSimulator, UnusableSampleRatesBehaveAsFortyFourPointOneKilohertz)
{
    const auto render = [] (double rate)
    {
        auto leslie = makeLeslie();
        std::vector<float> out;

        for (long n = 0; n < 20000; ++n)
        {
            const Pair p = step (*leslie, fastHorn, fastDrum, testSignal (n, 44100.0), 0.8f, rate);
            out.push_back (p.left);
            out.push_back (p.right);
        }

        out.push_back (leslie->getHornAngle());
        return out;
    };

    const std::vector<float> reference = render (44100.0);

    for (const double rate : { 0.0, -48000.0, std::numeric_limits<double>::quiet_NaN(),
                               std::numeric_limits<double>::infinity(), 1.0e300 })
        EXPECT_EQ (render (rate), reference) << "rate " << rate;
}

TEST (LeslieSimulator, RatesBeyondTheLineLengthAndAbsurdTargetsStayFinite)
{
    // Above 5.12 MHz the line cannot hold 0.8 ms; the taps stop at its far end.
    // At 1 Hz the rotor step would overshoot; at 1e6 Hz targets the angle would run away.
    struct Case
    {
        double rate;
        float hornTarget;
        float drumTarget;
    };

    const Case cases[] = {
        { 1.0e8, fastHorn, fastDrum },
        { 1.0, fastHorn, fastDrum },
        { 0.3, fastHorn, fastDrum },
        { 44100.0, 1.0e6f, -1.0e6f },
        { 44100.0, std::numeric_limits<float>::quiet_NaN(), fastDrum },
    };

    for (const auto& c : cases)
    {
        auto leslie = makeFastLeslie (44100.0); // turning, so the taps are read

        for (long n = 0; n < 100000; ++n)
        {
            const Pair out = step (*leslie, c.hornTarget, c.drumTarget, testSignal (n, 44100.0), 0.5f, c.rate);
            ASSERT_TRUE (std::isfinite (out.left) && std::isfinite (out.right)) << "rate " << c.rate << " sample " << n;
            ASSERT_LE (std::abs (out.left), outputBound);
        }

        EXPECT_TRUE (std::isfinite (leslie->getHornSpeed()) && std::isfinite (leslie->getDrumSpeed()));
        EXPECT_TRUE (leslie->getHornAngle() >= 0.0f && leslie->getHornAngle() <= twoPi) << "rate " << c.rate;
        EXPECT_TRUE (leslie->getDrumAngle() >= 0.0f && leslie->getDrumAngle() <= twoPi) << "rate " << c.rate;
    }
}

TEST (LeslieSimulator, BlocksGiveTheSamplesOfOneSampleAtATime)
{
    // processBlock against advanceRotors and processSample per sample, through
    // speed-up, a brake into the dry bypass, a restart and a non-finite input:
    // identical with the library's arithmetic, and within rounding with the
    // kernels' cosines.
    for (const auto mode : { MathMode::reference, MathMode::fast })
    {
        auto blocks = makeLeslie();
        auto samples = makeLeslie();
        blocks->setMathMode (mode);
        samples->setMathMode (mode);

        constexpr double rate = 48000.0;
        float worst = 0.0f;
        int n = 0;
        const struct
        {
            float horn, drum; // target speeds, Hz
            int length;       // samples
        } stretches[] = { { fastHorn, fastDrum, 30000 }, { 0.0f, 0.0f, 200000 }, { slowHorn, slowDrum, 20000 } };

        for (const auto& stretch : stretches)
        {
            std::vector<float> in ((size_t) stretch.length), l ((size_t) stretch.length), r ((size_t) stretch.length);
            for (auto& x : in)
            {
                const float t = static_cast<float> (n++);
                x = 0.6f * std::sin (0.013f * t) + 0.3f * std::sin (0.31f * t);
            }
            in[100] = std::numeric_limits<float>::quiet_NaN();

            for (int start = 0; start < stretch.length; start += 700) // blocks longer than one pass
            {
                const int count = std::min (700, stretch.length - start);
                blocks->processBlock (in.data() + start, l.data() + start, r.data() + start, count, stretch.horn,
                                      stretch.drum, 0.85f, rate);
            }

            for (int i = 0; i < stretch.length; ++i)
            {
                float sl, sr;
                samples->advanceRotors (stretch.horn, stretch.drum, rate);
                samples->processSample (in[(size_t) i], 0.85f, rate, sl, sr);
                worst = std::max ({ worst, std::abs (sl - l[(size_t) i]), std::abs (sr - r[(size_t) i]) });
            }
        }

        EXPECT_EQ (blocks->getHornAngle(), samples->getHornAngle());
        EXPECT_EQ (blocks->getDrumAngle(), samples->getDrumAngle());
        if (mode == MathMode::reference)
            EXPECT_EQ (worst, 0.0f);
        else
            EXPECT_LE (worst, 1.0e-6f);
    }
}
