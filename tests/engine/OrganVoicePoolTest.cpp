#include "OrganVoicePool.h"
#include "InstructionSets.h"
#include "SeededRandom.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace
{
constexpr double pi = 3.141592653589793;

// The same value every time, counted: 0.5 cancels the church organ's noise.
class FixedRandom : public RandomSource
{
public:
    FixedRandom (float floatValue, bool boolValue) : value (floatValue), flag (boolValue) {}

    float nextFloat() override
    {
        ++draws;
        return value;
    }

    bool nextBool() override
    {
        ++draws;
        return flag;
    }

    int draws = 0;

private:
    float value;
    bool flag;
};

float attackStepFor (double rate) { return 1.0f / (static_cast<float> (rate) * 0.005f); }
float releaseStepFor (double rate) { return 1.0f / (static_cast<float> (rate) * 0.025f); }

DrawbarLevels allDrawbarsAt (float level)
{
    DrawbarLevels d;
    d.fill (level);
    return d;
}

// Phase difference of one sample, cycles, across a wrap.
double phaseStep (double before, double after)
{
    const double d = after - before;
    return d < 0.0 ? d + 1.0 : d;
}

// A pool at 48 kHz with the processor's envelope steps.
class VoicePoolTest : public ::testing::Test
{
protected:
    static constexpr double rate = 48000.0;

    float render (int type, RandomSource& rng)
    {
        return pool.renderVoices ({ type, drawbars, chorus, modWheel, attackStepFor (rate), releaseStepFor (rate) }, rate, rng);
    }

    float render (int type) { return render (type, random); }

    void renderSamples (int type, int count)
    {
        for (int i = 0; i < count; ++i)
            render (type);
    }

    void start (int note, bool percussion = false) { pool.startVoice (note, 1.0f, percussion, rate, random); }

    const OrganVoice& voice (int i) const { return pool.getVoices()[(size_t) i]; }

    // The index of the held voice playing `note`, or -1.
    int heldVoiceOf (int note) const
    {
        for (int i = 0; i < OrganVoicePool::numVoices; ++i)
            if (voice (i).active && ! voice (i).released && voice (i).note == note)
                return i;

        return -1;
    }

    OrganVoicePool pool;
    SeededRandom random;
    DrawbarLevels drawbars = allDrawbarsAt (1.0f);
    float chorus = 0.0f;
    float modWheel = 0.0f;
};

constexpr double rate = 48000.0;
} // namespace

// ---------------------------------------------------------------------------
// Oscillators and waveforms

TEST_F (VoicePoolTest, OscillatorsRunAtTheirMultiplesOfTheNote)
{
    // Each phase steps by the note frequency times its multiple, rounded to
    // single precision, over the rate, exactly (oscillators whose multiples
    // differ by a power of two share the work of that step), for sixteen
    // notes at 44.1 kHz.
    struct Case
    {
        int type;
        int closedDrawbar;  // index of a drawbar set to 0, or -1
        float multiples[9]; // 0 = the oscillator stands still
    };

    const Case cases[] = {
        { OrganVoicePool::farfisa, -1, { 0.5f, 1, 2, 4, 0, 0, 0, 0, 0 } },
        { OrganVoicePool::vox, -1, { 0.5f, 1, 2, 4, 3, 1, 0, 0, 0 } },
        { OrganVoicePool::church, 2, { 0.5f, 1.5f, 0, 2, 3, 4, 5, 6, 8 } },
        { OrganVoicePool::church, 0, { 0, 1.5f, 1, 2, 3, 4, 5, 6, 8 } },
    };
    constexpr double rate44 = 44100.0;
    const auto noteOf = [] (int v) { return 29 + 5 * v; };

    for (const auto& c : cases)
    {
        OrganVoicePool fresh;
        pool = fresh;
        drawbars = allDrawbarsAt (1.0f);

        if (c.closedDrawbar >= 0)
            drawbars[(size_t) c.closedDrawbar] = 0.0f;

        for (int v = 0; v < OrganVoicePool::numVoices; ++v)
            pool.startVoice (noteOf (v), 1.0f, false, rate44, random);
        double expected[OrganVoicePool::numVoices][9] = {};

        for (int n = 0; n < 2000; ++n)
        {
            pool.renderVoices ({ c.type, drawbars, 0.0f, 0.0f, attackStepFor (rate44), releaseStepFor (rate44) }, rate44, random);

            for (int v = 0; v < OrganVoicePool::numVoices; ++v)
            {
                for (int i = 0; i < 9; ++i)
                {
                    auto& p = expected[v][i];
                    if (c.multiples[i] > 0.0f)
                    {
                        p += static_cast<double> (OrganVoicePool::noteFrequency (noteOf (v)) * c.multiples[i]) / rate44;
                        if (p > 1.0)
                            p -= 1.0;
                    }
                    ASSERT_EQ (voice (v).phase[i], p) << "type " << c.type << " voice " << v << " oscillator " << i << " sample " << n;
                }
            }
        }
    }
}

TEST (VoicePool, ChurchSinesKeepToThePhasesThroughModulationTypeChangesAndClosedDrawbars)
{
    // The church organ carries its sines from sample to sample rather than
    // taking them from the phases each time. Against the C library's sines of
    // the phases, on every instruction set: the deepest chorus and mod wheel,
    // blocks that cross the periodic resynchronisation, phases moved on by
    // another organ type in between, a drawbar closed and opened again, voices
    // ending, and 2 kHz, where the top partials step several turns a sample.
    DrawbarLevels drawbars = allDrawbarsAt (1.0f);
    for (const auto target : instructionsets::available())
    {
        instructionsets::with (target, [&] {
            for (const double sampleRate : { 48000.0, 2000.0 })
            {
                OrganVoicePool fast, library;
                library.setMathMode (MathMode::reference);
                SeededRandom fastRandom, libraryRandom;
                int at = 0;

                const auto play = [&] (int type, int samples) {
                    std::vector<float> a ((size_t) samples), b ((size_t) samples);
                    for (int done = 0; done < samples; done += 700)
                    {
                        const int count = std::min (700, samples - done);
                        fast.renderVoices (a.data() + done, count, { type, drawbars, 1.0f, 1.0f, attackStepFor (sampleRate), releaseStepFor (sampleRate) }, sampleRate, fastRandom);
                        library.renderVoices (b.data() + done, count, { type, drawbars, 1.0f, 1.0f, attackStepFor (sampleRate), releaseStepFor (sampleRate) }, sampleRate, libraryRandom);
                    }
                    for (size_t n = 0; n < a.size(); ++n, ++at)
                        ASSERT_NEAR (a[n], b[n], 1.0e-6) << instructionsets::nameOf (target) << ", " << sampleRate << " Hz, sample " << at;
                };

                for (auto* pool : { &fast, &library })
                    for (int v = 0; v < OrganVoicePool::numVoices; ++v)
                        pool->startVoice (36 + 4 * v, 1.0f / 16.0f, false, sampleRate, pool == &fast ? fastRandom : libraryRandom);

                play (OrganVoicePool::church, 3000);
                play (OrganVoicePool::farfisa, 200);
                play (OrganVoicePool::church, 500);
                drawbars[3] = 0.0f;
                play (OrganVoicePool::church, 300);
                drawbars[3] = 1.0f;
                for (auto* pool : { &fast, &library })
                    for (int v = 0; v < OrganVoicePool::numVoices; v += 3)
                        pool->releaseVoices (36 + 4 * v, sampleRate);
                play (OrganVoicePool::church, 3000);
            }
        });
    }
}

TEST_F (VoicePoolTest, WaveformsFollowTheirRecipes)
{
    // Note 69 at full level without modulation, against the formulas in double
    // precision. Samples whose phases sit on a pulse edge or a wrap are skipped:
    // there the rounding of the phase decides the side.
    struct Case
    {
        int type;
        double (*expected) (const double* phases);
    };

    const auto farfisa = [] (const double* p) {
        const double weights[4] = { 0.6, 1.0, 0.7, 0.4 };
        double sum = 0.0;
        for (int i = 0; i < 4; ++i)
            sum += weights[i] * (std::sin (2.0 * pi * p[i]) * 0.3 + (p[i] < 0.4 ? 0.7 : -0.7));
        return sum * 0.15;
    };

    const auto vox = [] (const double* p) {
        const double weights[5] = { 0.5, 1.0, 0.8, 0.5, 0.3 };
        double sum = std::sin (2.0 * pi * p[1]) * 0.4;
        for (int i = 0; i < 5; ++i)
        {
            const double x = p[i] * 2.0 - 1.0;
            sum += weights[i] * (x - 0.33 * x * x * x);
        }
        return sum * 0.1;
    };

    const auto church = [] (const double* p) {
        double sum = 0.0;
        for (int j = 0; j < 9; ++j)
        {
            const double a = 2.0 * pi * p[j];
            sum += std::sin (2.0 * a) * 0.08 + std::sin (a) + std::sin (3.0 * a) * 0.04;
        }
        return sum * 0.1;
    };

    const Case cases[] = { { OrganVoicePool::farfisa, farfisa },
                           { OrganVoicePool::vox, vox },
                           { OrganVoicePool::church, church } };
    const double multiples[3][9] = { { 0.5, 1, 2, 4 }, { 0.5, 1, 2, 4, 3 }, { 0.5, 1.5, 1, 2, 3, 4, 5, 6, 8 } };

    for (const auto& c : cases)
    {
        OrganVoicePool fresh;
        pool = fresh;
        FixedRandom noNoise (0.5f, true);
        pool.startVoice (69, 1.0f, false, rate, noNoise);

        int compared = 0;

        for (int n = 1; n <= 3000; ++n)
        {
            const float out = render (c.type, noNoise);

            if (n < 300) // attack
                continue;

            double p[9] = {};
            bool onAnEdge = false;

            for (int i = 0; i < 9 && multiples[c.type - 1][i] > 0.0; ++i)
            {
                const double cycles = n * 440.0 * multiples[c.type - 1][i] / rate;
                p[i] = cycles - std::floor (cycles);
                onAnEdge = onAnEdge || std::abs (p[i] - 0.4) < 1.0e-9 || p[i] < 1.0e-9 || p[i] > 1.0 - 1.0e-9;
            }

            if (onAnEdge)
                continue;

            ASSERT_NEAR (out, c.expected (p), 2.0e-6) << "type " << c.type << " sample " << n;
            ++compared;
        }

        EXPECT_GT (compared, 2600) << "type " << c.type;
    }
}

TEST (VoicePool, EnvelopeAttacksInFiveAndReleasesInTwentyFiveMilliseconds)
{
    for (const double sampleRate : { 44100.0, 48000.0, 96000.0 })
    {
        OrganVoicePool pool;
        SeededRandom random;
        const DrawbarLevels drawbars = allDrawbarsAt (1.0f);
        const auto renderOne = [&] {
            pool.renderVoices ({ OrganVoicePool::farfisa, drawbars, 0.0f, 0.0f, attackStepFor (sampleRate), releaseStepFor (sampleRate) }, sampleRate, random);
        };

        pool.startVoice (60, 1.0f, false, sampleRate, random);
        const auto& v = pool.getVoices()[0];

        int attackSamples = 0;
        while (v.level < 1.0f && attackSamples < 100000)
        {
            renderOne();
            ++attackSamples;
        }

        EXPECT_NEAR (attackSamples, sampleRate * 0.005, 1.0) << sampleRate;

        pool.releaseVoices (60, sampleRate);
        int releaseSamples = 0;
        while (v.active && releaseSamples < 100000)
        {
            renderOne();
            ++releaseSamples;
        }

        EXPECT_NEAR (releaseSamples, sampleRate * 0.025, 1.0) << sampleRate;
    }
}

// ---------------------------------------------------------------------------
// Voice allocation

TEST_F (VoicePoolTest, SeventeenthHeldNoteStealsVoiceZero)
{
    for (int n = 0; n < 16; ++n)
        start (40 + n);

    renderSamples (OrganVoicePool::farfisa, 300); // every voice at full level

    start (80);

    EXPECT_EQ (heldVoiceOf (80), 0);
    EXPECT_EQ (heldVoiceOf (40), -1);
    EXPECT_EQ (voice (0).level, 0.0f);

    for (int n = 1; n < 16; ++n)
        EXPECT_EQ (heldVoiceOf (40 + n), n);
}

TEST_F (VoicePoolTest, NextNoteTakesTheReleasingVoice)
{
    for (int n = 0; n < 16; ++n)
        start (40 + n);

    renderSamples (OrganVoicePool::farfisa, 300);
    pool.releaseVoices (45, rate);
    render (OrganVoicePool::farfisa);

    start (80);

    EXPECT_EQ (heldVoiceOf (80), 5);
    EXPECT_EQ (heldVoiceOf (40), 0);
}

TEST_F (VoicePoolTest, RepeatedNoteTakesTwoVoicesAndOneNoteOffReleasesBoth)
{
    start (60);
    start (60);
    start (64);
    renderSamples (OrganVoicePool::vox, 10);

    EXPECT_EQ (voice (0).note, 60);
    EXPECT_EQ (voice (1).note, 60);

    pool.releaseVoices (60, rate);

    EXPECT_TRUE (voice (0).released);
    EXPECT_TRUE (voice (1).released);
    EXPECT_EQ (voice (0).clickRemaining, 192);
    EXPECT_EQ (voice (1).clickRemaining, 192);
    EXPECT_FALSE (voice (2).released);
    EXPECT_EQ (voice (2).clickRemaining, 0);

    // A second note-off finds nothing left to release: the click is not restarted.
    render (OrganVoicePool::vox);
    pool.releaseVoices (60, rate);
    EXPECT_EQ (voice (0).clickRemaining, 191);
}

TEST_F (VoicePoolTest, ClearSilencesEveryVoiceAtOnce)
{
    for (int n = 0; n < 5; ++n)
        start (60 + n, true);

    renderSamples (OrganVoicePool::church, 100);
    pool.clearVoices();

    for (int i = 0; i < OrganVoicePool::numVoices; ++i)
        EXPECT_FALSE (voice (i).active) << i;

    EXPECT_EQ (render (OrganVoicePool::church), 0.0f);
}

TEST_F (VoicePoolTest, NotesHeldWhileThePoolIsNotRenderedSoundAtOnceWhenItIs)
{
    // As while the tone-wheel organ plays: voices are started and released but
    // never rendered, so they all stay at level 0. A pedal note is held while
    // fifteen others come and go and fill the pool; then a chord is held. All
    // four held notes must be in the pool when VOX is selected.
    start (36);

    for (int n = 0; n < 15; ++n)
        start (40 + n);

    for (int n = 0; n < 15; ++n)
        pool.releaseVoices (40 + n, rate);

    for (const int note : { 60, 64, 67 })
        start (note);

    for (const int note : { 36, 60, 64, 67 })
        ASSERT_GE (heldVoiceOf (note), 0) << note;

    const float first = render (OrganVoicePool::vox);
    EXPECT_NE (first, 0.0f);

    int active = 0;
    for (int i = 0; i < OrganVoicePool::numVoices; ++i)
    {
        if (! voice (i).active)
            continue;

        ++active;
        EXPECT_FALSE (voice (i).released) << i;
        EXPECT_EQ (voice (i).level, attackStepFor (rate)) << i;
    }

    EXPECT_EQ (active, 4); // the released voices left on their first rendered sample
}

// ---------------------------------------------------------------------------
// Percussion and release click

TEST (VoicePool, ClosedChurchDrawbarsLeaveOnlyPercussionAndClick)
{
    // With every drawbar closed, the church organ's waveform is silent and draws
    // no noise, so the output is the percussion burst and the release click
    // alone, each against its formula.
    struct Case
    {
        bool percussionOn;
        bool secondHarmonic; // what nextBool answers
        int harmonic;
        int draws;           // all made by startVoice
    };

    const Case cases[] = { { true, true, 2, 2 }, { true, false, 3, 2 }, { false, true, 0, 1 } };
    const DrawbarLevels closed = allDrawbarsAt (0.0f);
    const float attackStep = attackStepFor (rate);
    const float releaseStep = releaseStepFor (rate);

    for (const auto& c : cases)
    {
        OrganVoicePool pool;
        FixedRandom random (0.3f, c.secondHarmonic);
        const auto renderOne = [&] {
            return pool.renderVoices ({ OrganVoicePool::church, closed, 0.0f, 0.0f, attackStep, releaseStep }, rate, random);
        };

        pool.startVoice (69, 1.0f, c.percussionOn, rate, random);
        const auto& v = pool.getVoices()[0];
        EXPECT_EQ (v.percHarmonic, c.harmonic);
        EXPECT_EQ (v.percRemaining, c.percussionOn ? 576 : 0);

        // 576 samples of burst at 880 or 1320 Hz, falling from 0.25, under the attack.
        for (int n = 1; n <= 576; ++n)
        {
            const double burst = c.harmonic == 0 ? 0.0
                                                 : std::sin (2.0 * pi * n * 440.0 * c.harmonic / rate) * (577 - n) / 576.0 * 0.25;
            const double level = std::min (n / 240.0, 1.0);
            ASSERT_NEAR (renderOne(), burst * level, 1.0e-4) << "harmonic " << c.harmonic << " sample " << n;
        }

        EXPECT_EQ (v.percRemaining, 0);

        for (int n = 0; n < 1000; ++n)
            ASSERT_EQ (renderOne(), 0.0f) << "harmonic " << c.harmonic << " sample " << n;

        // 192 samples of a 3 kHz click, falling from 0.08, under the release.
        pool.releaseVoices (69, rate);
        EXPECT_EQ (v.clickRemaining, 192);

        for (int n = 1; n <= 192; ++n)
        {
            const double click = std::sin (2.0 * pi * n * 3000.0 / rate) * (193 - n) / 192.0 * 0.08;
            const double level = 1.0 - n / 1200.0;
            ASSERT_NEAR (renderOne(), click * level, 1.0e-5) << "harmonic " << c.harmonic << " click sample " << n;
        }

        int silent = 0;
        while (v.active && silent < 2000)
        {
            ASSERT_EQ (renderOne(), 0.0f);
            ++silent;
        }

        EXPECT_FALSE (v.active);
        EXPECT_EQ (random.draws, c.draws) << "harmonic " << c.harmonic;
    }
}

// ---------------------------------------------------------------------------
// Modulation

TEST_F (VoicePoolTest, ChorusClockRunsAtSevenHertzAndBendsThePitchByFourPerMille)
{
    chorus = 1.0f;
    start (69);

    double before = 0.0;
    double lowest = 2.0, highest = 0.0;

    for (int n = 0; n < 48000; ++n)
    {
        const float clock = voice (0).vibratoTime;
        render (OrganVoicePool::farfisa);
        ASSERT_EQ (voice (0).vibratoTime, clock + 7.0f / 48000.0f) << n;

        const double factor = phaseStep (before, voice (0).phase[1]) * rate / 440.0;
        before = voice (0).phase[1];
        lowest = std::min (lowest, factor);
        highest = std::max (highest, factor);
    }

    EXPECT_NEAR (highest, 1.004, 1.0e-4);
    EXPECT_NEAR (lowest, 0.996, 1.0e-4);
}

TEST (VoicePool, ChorusClockKeepsItsRateThroughAQuarterHourDrone)
{
    // A note held for 15 minutes with the chorus on: the modulation clock still
    // runs at 7 Hz, within 1 % of its rate at the start, and stays small enough
    // for a single-precision step to move it. The clock is driven with the
    // pool's step, from the earliest and the latest start a voice can have.
    for (const double rate : { 48000.0, 192000.0 })
    {
        for (const float start : { 0.0f, 6.2831855f })
        {
            OrganVoice voice;
            voice.vibratoTime = start;
            const float step = 7.0f / static_cast<float> (rate); // cycles per sample
            const auto cyclesIn = [&] (double seconds)
            {
                const double before = voice.vibratoCyclesRemoved + voice.vibratoTime;
                for (auto n = (long long) (seconds * rate); n > 0; --n)
                    voice.advanceVibrato (step);
                return voice.vibratoCyclesRemoved + voice.vibratoTime - before;
            };

            const double early = cyclesIn (1.0);
            cyclesIn (15.0 * 60.0);
            const double late = cyclesIn (1.0);

            EXPECT_NEAR (early, 7.0, 0.07) << rate << " Hz from " << start;
            EXPECT_NEAR (late / early, 1.0, 0.01) << rate << " Hz from " << start;
            EXPECT_LT (voice.vibratoTime, OrganVoice::vibratoWrapAt);
        }
    }

    // The pool runs its voices' clocks that way: six seconds take the clock past a wrap.
    OrganVoicePool pool;
    SeededRandom random;
    pool.startVoice (69, 1.0f, false, rate, random);
    const auto& voice = pool.getVoices()[0];
    const double before = voice.vibratoTime;
    std::vector<float> out (6 * (size_t) rate);
    pool.renderVoices (out.data(), (int) out.size(), { OrganVoicePool::farfisa, allDrawbarsAt (1.0f), 1.0f, 0.0f, attackStepFor (rate), releaseStepFor (rate) }, rate, random);
    EXPECT_GT (voice.vibratoCyclesRemoved, 0.0);
    EXPECT_NEAR (voice.vibratoCyclesRemoved + voice.vibratoTime - before, 6 * 7.0, 0.07 * 6);
}

TEST (VoicePool, ClockWrapsLeaveEveryModulationWhereItWas)
{
    // The chorus turns once per clock cycle, the mod-wheel modulation at its own
    // ratio to the clock. Across the wraps both move on by one step per sample.
    const float step = 7.0f / 48000.0f; // cycles per sample

    for (const double ratio : { 4.0 / 7.0, 4.5 / 7.0, 5.5 / 7.0, 6.25 / 7.0, 8.0 / 7.0 })
    {
        OrganVoice voice;
        voice.vibratoTime = 6.0f;
        const auto fraction = [] (double x) { return x - std::floor (x); };
        const auto chorus = [&] { return fraction (voice.vibratoTime); };
        const auto modulation = [&] { return fraction (ratio * voice.vibratoTime + voice.wrappedModulationCycles (ratio)); };

        for (int n = 0; n < 48000 * 20; ++n)
        {
            const double chorusBefore = chorus(), modulationBefore = modulation();
            voice.advanceVibrato (step);
            ASSERT_NEAR (phaseStep (chorusBefore, chorus()), step, 1.0e-5) << n;
            ASSERT_NEAR (phaseStep (modulationBefore, modulation()), ratio * step, 1.0e-5) << "ratio " << ratio << " sample " << n;
        }

        EXPECT_GE (voice.vibratoCyclesRemoved, 4 * OrganVoice::vibratoWrapCycles);
    }
}

TEST_F (VoicePoolTest, ModWheelWithTheChorusOffHoldsAConstantFactorPerVoice)
{
    // The modulation clock stands still, so the full mod wheel gives each voice
    // a fixed pitch (types 1 and 3) or level (type 2) set by its random start.
    struct Case
    {
        int type;
        int phaseAtTheNote; // an oscillator at 1 x the note
        double pitchDepth;  // largest pitch deviation, ratio
        double lowestGain;  // smallest tremolo gain
    };

    const Case cases[] = { { OrganVoicePool::farfisa, 1, 0.008, 1.0 },
                           { OrganVoicePool::vox, 1, 0.0, 0.5 },
                           { OrganVoicePool::church, 2, 0.005, 1.0 } };

    for (const auto& c : cases)
    {
        for (std::uint32_t seed = 1; seed <= 8; ++seed)
        {
            // Twin pools with the same random start, mod wheel at 0 and at 1.
            OrganVoicePool still, wheel;
            FixedRandom r0 (0.5f, true), r1 (0.5f, true);
            SeededRandom start0 (seed), start1 (seed);
            still.startVoice (69, 1.0f, false, rate, start0);
            wheel.startVoice (69, 1.0f, false, rate, start1);

            const float clock = wheel.getVoices()[0].vibratoTime;
            double before = 0.0, firstFactor = 0.0, firstGain = 0.0;

            for (int n = 0; n < 2000; ++n)
            {
                const float a = still.renderVoices ({ c.type, drawbars, 0.0f, 0.0f, attackStepFor (rate), releaseStepFor (rate) }, rate, r0);
                const float b = wheel.renderVoices ({ c.type, drawbars, 0.0f, 1.0f, attackStepFor (rate), releaseStepFor (rate) }, rate, r1);
                const double after = wheel.getVoices()[0].phase[c.phaseAtTheNote];
                const double factor = phaseStep (before, after) * rate / 440.0;
                before = after;

                if (n == 0)
                    firstFactor = factor;

                ASSERT_NEAR (factor, firstFactor, 1.0e-6) << "type " << c.type << " seed " << seed << " sample " << n;

                if (c.type == OrganVoicePool::vox && std::abs (a) > 1.0e-3f)
                {
                    const double gain = b / a;

                    if (firstGain == 0.0)
                        firstGain = gain;

                    ASSERT_NEAR (gain, firstGain, 1.0e-4) << "seed " << seed << " sample " << n;
                }
            }

            EXPECT_EQ (wheel.getVoices()[0].vibratoTime, clock);
            EXPECT_LE (std::abs (firstFactor - 1.0), c.pitchDepth + 1.0e-6) << "type " << c.type << " seed " << seed;

            if (c.type == OrganVoicePool::vox)
            {
                EXPECT_GE (firstGain, c.lowestGain - 1.0e-4) << "seed " << seed;
                EXPECT_LE (firstGain, 1.0 + 1.0e-4) << "seed " << seed;
            }
        }
    }
}

TEST (VoicePool, ModWheelLfoRatesFollowTheWheel)
{
    // With the clock running, the mod-wheel vibrato (types 1, 3) and tremolo
    // (type 2) cycle at a rate set by the wheel. Twin pools with the same
    // random start, one with the wheel down, isolate the wheel's own factor:
    // the ratio of their pitches (phase steps) or of their outputs. The ratio
    // crosses its middle twice per cycle.
    struct Case
    {
        int type;
        float wheel;
        double hz;
    };

    const Case cases[] = { { 1, 1.0f, 7.5 }, { 1, 0.5f, 6.5 }, { 2, 1.0f, 8.0 },
                           { 2, 0.5f, 6.0 }, { 3, 1.0f, 6.0 }, { 3, 0.5f, 5.25 } };
    const DrawbarLevels drawbars = allDrawbarsAt (1.0f);
    const int seconds = 4;

    for (const auto& c : cases)
    {
        OrganVoicePool still, wheel;
        SeededRandom r0 (7), r1 (7);
        FixedRandom n0 (0.5f, true), n1 (0.5f, true);
        still.startVoice (69, 1.0f, false, rate, r0);
        wheel.startVoice (69, 1.0f, false, rate, r1);

        const int atTheNote = c.type == 3 ? 2 : 1; // an oscillator at 1 x the note
        const double middle = c.type == 2 ? 1.0 - c.wheel * 0.25 : 1.0;
        double before0 = 0.0, before1 = 0.0;
        int lastSign = 0, crossings = 0;

        for (int n = 0; n < seconds * (int) rate; ++n)
        {
            const float a = still.renderVoices ({ c.type, drawbars, 0.02f, 0.0f, attackStepFor (rate), releaseStepFor (rate) }, rate, n0);
            const float b = wheel.renderVoices ({ c.type, drawbars, 0.02f, c.wheel, attackStepFor (rate), releaseStepFor (rate) }, rate, n1);
            const double p0 = still.getVoices()[0].phase[atTheNote];
            const double p1 = wheel.getVoices()[0].phase[atTheNote];
            double ratio = phaseStep (before1, p1) / phaseStep (before0, p0);
            before0 = p0;
            before1 = p1;

            if (c.type == 2)
            {
                if (std::abs (a) < 1.0e-3f)
                    continue;

                ratio = b / a;
            }

            const int sign = ratio > middle ? 1 : -1;
            crossings += lastSign != 0 && sign != lastSign ? 1 : 0;
            lastSign = sign;
        }

        EXPECT_NEAR (crossings / (2.0 * seconds), c.hz, 0.2) << "type " << c.type << " wheel " << c.wheel;
    }
}

// ---------------------------------------------------------------------------
// Robustness

TEST (VoicePool, SixteenFullVoicesStayFiniteAndBoundedAtEveryRate)
{
    // Largest voice sample at full level and velocity: waveform + 0.25 percussion + 0.08 click.
    const double waveformPeak[4] = { 0.0, 0.405, 0.248, 1.0125 };
    const DrawbarLevels drawbars = allDrawbarsAt (1.0f);

    for (const double sampleRate : { 44100.0, 48000.0, 88200.0, 96000.0, 176400.0, 192000.0 })
    {
        for (const int type : { 1, 2, 3 })
        {
            OrganVoicePool pool;
            SeededRandom random;
            const double bound = 16.0 * (waveformPeak[type] + 0.33);
            const auto renderFor = [&] (double seconds) {
                for (int n = 0; n < (int) (seconds * sampleRate); ++n)
                {
                    const float x = pool.renderVoices ({ type, drawbars, 1.0f, 1.0f, attackStepFor (sampleRate), releaseStepFor (sampleRate) }, sampleRate, random);
                    ASSERT_TRUE (std::isfinite (x)) << "type " << type << " rate " << sampleRate << " sample " << n;
                    ASSERT_LE (std::abs (x), bound) << "type " << type << " rate " << sampleRate << " sample " << n;
                }
            };

            // Notes 7 to 127: the top partials pass the sample rate.
            for (int note = 7; note <= 127; note += 8)
                pool.startVoice (note, 1.0f, true, sampleRate, random);

            renderFor (0.1);

            for (const auto& v : pool.getVoices())
                for (const double p : v.phase)
                    ASSERT_TRUE (p >= 0.0 && p <= 1.0) << "type " << type << " rate " << sampleRate << " note " << v.note << " phase " << p;

            for (int note = 7; note <= 127; note += 8)
                pool.releaseVoices (note, sampleRate);

            renderFor (0.03);

            for (const auto& v : pool.getVoices())
                EXPECT_FALSE (v.active) << "type " << type << " rate " << sampleRate << " note " << v.note;
        }
    }
}

TEST (VoicePool, UnusableSampleRatesPlayAs44100)
{
    const double unusable[] = { 0.0, -48000.0, 1.0e-300, 1.0e12,
                                std::numeric_limits<double>::quiet_NaN(),
                                std::numeric_limits<double>::infinity() };
    const DrawbarLevels drawbars = allDrawbarsAt (1.0f);

    for (const double sampleRate : unusable)
    {
        for (const int type : { 1, 2, 3 })
        {
            OrganVoicePool pool;
            SeededRandom random;
            const auto& v = pool.getVoices()[0];

            // The steps as a processor would derive them from the same rate.
            const auto renderOne = [&] {
                return pool.renderVoices ({ type, drawbars, 0.5f, 0.5f, attackStepFor (sampleRate), releaseStepFor (sampleRate) }, sampleRate, random);
            };

            pool.startVoice (60, 1.0f, true, sampleRate, random);
            EXPECT_EQ (v.percRemaining, 529) << sampleRate; // 12 ms at 44100 Hz

            ASSERT_TRUE (std::isfinite (renderOne())) << sampleRate;
            EXPECT_EQ (v.level, attackStepFor (44100.0)) << sampleRate;

            for (int n = 0; n < 500; ++n)
                ASSERT_TRUE (std::isfinite (renderOne())) << sampleRate;

            pool.releaseVoices (60, sampleRate);
            EXPECT_EQ (v.clickRemaining, 176) << sampleRate; // 4 ms at 44100 Hz

            for (int n = 0; n < 2000; ++n)
                ASSERT_TRUE (std::isfinite (renderOne())) << sampleRate;

            EXPECT_FALSE (v.active) << sampleRate;
        }
    }
}

TEST (VoicePool, NotesOutsideTheMidiRangeAreIgnored)
{
    OrganVoicePool pool;
    SeededRandom random;

    for (const int note : { -1, 128, -1000, INT_MAX, INT_MIN })
    {
        pool.startVoice (note, 1.0f, true, rate, random);
        pool.releaseVoices (note, rate);
    }

    EXPECT_EQ (random.draws, 0);

    for (const auto& v : pool.getVoices())
        EXPECT_FALSE (v.active);

    // The MIDI range's ends are playable.
    pool.startVoice (0, 1.0f, false, rate, random);
    pool.startVoice (127, 1.0f, false, rate, random);
    EXPECT_EQ (pool.getVoices()[0].note, 0);
    EXPECT_EQ (pool.getVoices()[1].note, 127);
}

TEST (VoicePool, BlocksGiveTheSamplesOfOneSampleAtATime)
{
    // Blocks keep the phases side by side across samples; voices that end
    // their release inside a block, and every organ type, must still give
    // exactly the samples (and the voice states) of one call per sample.
    constexpr double rate = 48000.0;
    DrawbarLevels drawbars {};
    for (size_t j = 0; j < drawbars.size(); ++j)
        drawbars[j] = j % 3 == 1 ? 0.0f : 0.125f * static_cast<float> (j + 1);

    for (const int type : { OrganVoicePool::farfisa, OrganVoicePool::vox, OrganVoicePool::church })
    {
        OrganVoicePool blocks, samples;
        SeededRandom blockRandom, sampleRandom;
        std::vector<float> block (3000);

        for (int round = 0; round < 3; ++round)
        {
            for (auto* pool : { &blocks, &samples })
            {
                auto& random = pool == &blocks ? blockRandom : sampleRandom;
                for (int v = 0; v < 6; ++v)
                    pool->startVoice (48 + 5 * v + round, 0.5f + 0.1f * static_cast<float> (v), true, rate, random);
                pool->renderVoices (block.data(), 600, { type, drawbars, 0.4f, 0.6f, 0.0f, 0.0f }, rate, random);
                pool->releaseVoices (48 + round, rate); // ends inside the block below
            }

            blocks.renderVoices (block.data(), (int) block.size(), { type, drawbars, 0.4f, 0.6f, 0.0f, 0.0f }, rate, blockRandom);
            for (size_t n = 0; n < block.size(); ++n)
                ASSERT_EQ (block[n], samples.renderVoices ({ type, drawbars, 0.4f, 0.6f, 0.0f, 0.0f }, rate, sampleRandom))
                    << "type " << type << ", round " << round << ", sample " << n;

            for (int v = 0; v < OrganVoicePool::numVoices; ++v)
            {
                const auto& a = blocks.getVoices()[(size_t) v];
                const auto& b = samples.getVoices()[(size_t) v];
                EXPECT_EQ (a.active, b.active);
                for (int o = 0; o < 9; ++o)
                    EXPECT_EQ (a.phase[o], b.phase[o]) << "voice " << v << ", oscillator " << o;
            }
        }
    }
}
