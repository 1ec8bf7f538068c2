#include "InstructionSets.h"
#include "Scanner.h"
#include "TonewheelTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <memory>
#include <vector>

using namespace tonewheeltest;

TEST_F (PreparedTonewheel, NotesOutsideTheKeyboardChangeNothing)
{
    TonewheelGenerator untouched = g;

    for (int note : { 35, 97, -1, 128 })
    {
        g.noteOn (note, 1.0f);
        g.noteOff (note);
    }

    for (const auto& key : g.getKeys())
        EXPECT_FALSE (key.active);

    // No random draws were used up: the same note now gets the same contacts.
    g.noteOn (60, 1.0f);
    untouched.noteOn (60, 1.0f);
    for (int j = 0; j < 9; ++j)
        EXPECT_EQ (keyOf (g, 60).contactDelay[j], keyOf (untouched, 60).contactDelay[j]);

    const auto s = withDrawbars ({ 0, 1, 2, 3, 4, 5, 6, 7, 8 });
    for (int n = 0; n < 500; ++n)
        ASSERT_EQ (renderSample (g, s), renderSample (untouched, s));
}

TEST_F (PreparedTonewheel, ContactTimingIsRandomWithinTwoAndAHalfMsAndRepeatable)
{
    TonewheelGenerator twin;
    twin.prepare (48000.0);

    int longest = 0;
    int shortest = 1000;
    for (int i = 0; i < 200; ++i)
    {
        const int note = 36 + (i * 7) % 61;
        g.noteOn (note, 0.5f);
        twin.noteOn (note, 0.5f);

        for (int j = 0; j < 9; ++j)
        {
            const auto& key = keyOf (g, note);
            EXPECT_EQ (key.contactDelay[j], keyOf (twin, note).contactDelay[j]);
            EXPECT_GE (key.bounce[j], 0.25f);
            EXPECT_LE (key.bounce[j], 0.5f);
            longest = std::max (longest, key.contactDelay[j]);
            shortest = std::min (shortest, key.contactDelay[j]);
        }
    }
    EXPECT_LE (longest, 119);
    EXPECT_GE (longest, 110) << "delays should spread over the whole 2.5 ms";
    EXPECT_GE (shortest, 0);
    EXPECT_LE (shortest, 10);
}

TEST (TonewheelKeys, EveryNoteOnUsesTheSameNumberOfDrawsAndPrepareDoesNotReseed)
{
    TonewheelGenerator a, b;
    a.prepare (48000.0);
    b.prepare (48000.0);

    a.noteOn (40, 1.0f);
    b.noteOn (90, 1.0f); // another key, the same number of draws
    a.noteOn (60, 1.0f);
    b.noteOn (60, 1.0f);
    for (int j = 0; j < 9; ++j)
        EXPECT_EQ (keyOf (a, 60).contactDelay[j], keyOf (b, 60).contactDelay[j]);

    int before[9];
    std::copy (std::begin (keyOf (a, 60).contactDelay), std::end (keyOf (a, 60).contactDelay), before);
    a.prepare (48000.0);
    a.noteOn (60, 1.0f);
    EXPECT_FALSE (std::equal (std::begin (before), std::end (before), std::begin (keyOf (a, 60).contactDelay)));
}

TEST_F (PreparedTonewheel, OneFullDrawbarSoundsExactlyItsWheelUnderTheEnvelope)
{
    const auto s = withDrawbars ({ bar8 });
    g.noteOn (69, 0.75f);
    const int delay = keyOf (g, 69).contactDelay[bar8];

    int attackSamples = 0;
    for (int n = 1; n <= 400; ++n)
    {
        const float mix = renderKeys (g, s);
        const auto& key = keyOf (g, 69);

        if (n <= delay)
            ASSERT_EQ (mix, 0.0f) << "contact still open at sample " << n;
        else
            ASSERT_EQ (mix, (0.0f + wheelOutput (g, 46) * key.envelope * 0.75f) * 0.08f) << "sample " << n;

        if (attackSamples == 0 && key.envelope == 1.0f)
            attackSamples = n;
    }
    EXPECT_NEAR (attackSamples, 240, 1) << "5 ms attack at 48 kHz";

    g.noteOff (69);
    int releaseSamples = 0;
    while (keyOf (g, 69).active && releaseSamples < 5000)
    {
        renderKeys (g, s);
        ++releaseSamples;
    }
    EXPECT_NEAR (releaseSamples, 1200, 1) << "25 ms release at 48 kHz";
    EXPECT_EQ (renderKeys (g, s), 0.0f);
}

TEST_F (PreparedTonewheel, SharedWheelsAreScaledByTheInverseSquareRootOfTheirUse)
{
    // Note 36: the 16' and the 8' drawbar both sound wheel 13.
    g.noteOn (36, 1.0f);
    const auto bass = withDrawbars ({ bar16, bar8 });
    renderKeys (g, bass, 400);
    const float gain = 1.0f / std::sqrt (2.0f);
    float mix = renderKeys (g, bass);
    EXPECT_FLOAT_EQ (mix, 2.0f * gain * wheelOutput (g, 13) * 0.08f);

    // Notes 48 and 60 an octave apart: the 4' of the lower key is the 8' of the upper, wheel 37.
    g.allNotesOff();
    g.noteOn (48, 1.0f);
    g.noteOn (60, 1.0f);
    const auto octave = withDrawbars ({ bar8, bar4 });
    renderKeys (g, octave, 400);
    mix = renderKeys (g, octave);
    const float expected = wheelOutput (g, 25) + 2.0f * gain * wheelOutput (g, 37) + wheelOutput (g, 49);
    EXPECT_NEAR (mix, expected * 0.08f, 1.0e-6f);
}

TEST_F (PreparedTonewheel, APushedInDrawbarKeepsItsContactWaiting)
{
    g.noteOn (60, 1.0f);
    Settings s = withDrawbars ({ bar16 });
    const int delay = keyOf (g, 60).contactDelay[bar8];

    renderKeys (g, s, 300);
    EXPECT_EQ (keyOf (g, 60).contactDelay[bar8], delay);
    EXPECT_FALSE (keyOf (g, 60).contactClosed[bar8]);

    s.drawbars[bar8] = 1.0f;
    int samples = 0;
    while (! keyOf (g, 60).contactClosed[bar8] && samples < 1000)
    {
        renderKeys (g, s);
        ++samples;
    }
    EXPECT_EQ (samples, delay + 1);
}

TEST_F (PreparedTonewheel, AllNotesOffSilencesEveryKeyAtOnce)
{
    const auto s = withDrawbars ({ bar8, bar4 });
    for (int note : { 48, 55, 60 })
        g.noteOn (note, 1.0f);
    renderKeys (g, s, 200);
    const float envelopeBefore = keyOf (g, 55).envelope;

    g.allNotesOff();
    EXPECT_EQ (renderKeys (g, s), 0.0f);
    EXPECT_FALSE (keyOf (g, 55).active);
    EXPECT_EQ (keyOf (g, 55).envelope, envelopeBefore);
}

// ---------------------------------------------------------------------------
// Percussion

TEST_F (PreparedTonewheel, OnlyTheFirstNoteOfAChordOrALegatoPhraseTakesPercussion)
{
    g.noteOn (60, 1.0f);
    g.noteOn (64, 1.0f);
    g.noteOn (67, 1.0f);
    EXPECT_TRUE (keyOf (g, 60).percussionTriggered);
    EXPECT_FALSE (keyOf (g, 64).percussionTriggered);
    EXPECT_FALSE (keyOf (g, 67).percussionTriggered);
    EXPECT_EQ (g.getPercussionArmed(), 0.0f);

    // Legato: each key pressed before the last one is released.
    TonewheelGenerator legato;
    legato.prepare (48000.0);
    const Settings s;
    legato.noteOn (60, 1.0f);
    renderKeys (legato, s, 4800);
    legato.noteOn (62, 1.0f);
    legato.noteOff (60);
    renderKeys (legato, s, 4800);
    legato.noteOn (64, 1.0f);
    EXPECT_TRUE (keyOf (legato, 60).percussionTriggered);
    EXPECT_FALSE (keyOf (legato, 62).percussionTriggered);
    EXPECT_FALSE (keyOf (legato, 64).percussionTriggered);
}

TEST (TonewheelPercussion, ReArmsOnlyAfterSixtyTwoAndAHalfMsWithNoKeyHeld)
{
    const struct
    {
        double gapMs;
        float armed;
        bool triggers;
    } cases[] = { { 50.0, 0.4f, false }, { 70.0, 0.56f, true } };

    for (const auto& c : cases)
    {
        TonewheelGenerator g;
        g.prepare (48000.0);
        const Settings s;
        g.noteOn (60, 1.0f);
        renderKeys (g, s, 4800); // held: no re-arm
        EXPECT_EQ (g.getPercussionArmed(), 0.0f);

        g.noteOff (60);
        renderKeys (g, s, samplesFor (c.gapMs / 1000.0, 48000.0));
        EXPECT_NEAR (g.getPercussionArmed(), c.armed, 1.0e-3f) << c.gapMs << " ms";

        g.noteOn (64, 1.0f);
        EXPECT_EQ (keyOf (g, 64).percussionTriggered, c.triggers) << c.gapMs << " ms";
    }
}

TEST (TonewheelPercussion, SoundsItsHarmonicWheelWithoutAnyDrawbar)
{
    const struct
    {
        int note;
        bool third;
        bool soft;
        int wheel;
    } cases[] = {
        { 60, false, false, 49 }, // 12 semitones above the 8' wheel 37
        { 60, true, false, 56 },  // 19 semitones above
        { 60, true, true, 56 },
        { 96, false, false, 85 },
        { 96, true, false, 80 }, // folded into the top octave
    };

    for (const auto& c : cases)
    {
        TonewheelGenerator g;
        g.prepare (48000.0);
        Settings s;
        s.percussion = true;
        s.third = c.third;
        s.soft = c.soft;
        g.noteOn (c.note, 1.0f);
        renderKeys (g, s, 300);

        const float level = keyOf (g, c.note).percussionLevel;
        const float mix = renderKeys (g, s);
        const float term = level * wheelOutput (g, c.wheel) * 0.45f * (c.soft ? 0.5f : 1.0f);
        EXPECT_FLOAT_EQ (mix, term * keyOf (g, c.note).envelope * 0.08f) << "note " << c.note << " wheel " << c.wheel;
        EXPECT_NE (mix, 0.0f);
    }
}

TEST (TonewheelPercussion, DecaysAtTheNormalOrFastRate)
{
    const struct
    {
        bool fast;
        double levelAfterOneSecond; // exp (-rate)
    } cases[] = { { false, std::exp (-0.92) }, { true, std::exp (-4.6) } };

    for (const auto& c : cases)
    {
        TonewheelGenerator g;
        g.prepare (48000.0);
        Settings s;
        s.percussion = true;
        s.fast = c.fast;
        g.noteOn (60, 1.0f);
        renderKeys (g, s, 48000);
        EXPECT_NEAR (keyOf (g, 60).percussionLevel, c.levelAfterOneSecond, c.levelAfterOneSecond * 0.01)
            << (c.fast ? "fast" : "normal");
    }
}

TEST_F (PreparedTonewheel, SwitchingPercussionOffFreezesItsLevelUntilSwitchedOnAgain)
{
    Settings s;
    s.percussion = true;
    g.noteOn (60, 1.0f);
    renderKeys (g, s, 1000);
    const float level = keyOf (g, 60).percussionLevel;
    EXPECT_LT (level, 1.0f);

    s.percussion = false;
    for (int n = 0; n < 1000; ++n)
        ASSERT_EQ (renderKeys (g, s), 0.0f) << "no drawbar and no percussion: silence";
    EXPECT_EQ (keyOf (g, 60).percussionLevel, level);

    s.percussion = true;
    EXPECT_NE (renderKeys (g, s), 0.0f);
    EXPECT_LT (keyOf (g, 60).percussionLevel, level);
}

// ---------------------------------------------------------------------------
// Key click: contact bounce and release click

TEST_F (PreparedTonewheel, ContactBounceIsADecayingBurstOfTheContactsWheel)
{
    Settings s = withDrawbars ({ bar8 });
    s.keyClick = 1.0f;
    g.noteOn (69, 1.0f);

    int burstSamples = 0;
    for (int n = 0; n < 1200; ++n)
    {
        const bool closed = keyOf (g, 69).contactClosed[bar8] || keyOf (g, 69).contactDelay[bar8] == 0;
        const float bounce = keyOf (g, 69).bounce[bar8];
        const float mix = renderKeys (g, s);
        if (! closed)
            continue;

        const float w = wheelOutput (g, 46);
        const float envelope = keyOf (g, 69).envelope;
        if (bounce > 0.001f)
        {
            ++burstSamples;
            ASSERT_EQ (mix, ((0.0f + bounce * w * 5.0f * 1.0f) + 1.0f * w) * envelope * 1.0f * 0.08f);
            ASSERT_EQ (keyOf (g, 69).bounce[bar8], bounce * 0.991f);
        }
        else
        {
            ASSERT_EQ (mix, (0.0f + w) * envelope * 1.0f * 0.08f);
        }
    }
    EXPECT_GE (burstSamples, 610);
    EXPECT_LE (burstSamples, 690);
}

TEST_F (PreparedTonewheel, KeyClickAtZeroLeavesBounceAndClickWaiting)
{
    Settings s = withDrawbars ({ 0, 1, 2, 3, 4, 5, 6, 7, 8 });
    g.noteOn (60, 1.0f);
    const TonewheelKey atNoteOn = keyOf (g, 60);
    renderKeys (g, s, 1000);
    for (int j = 0; j < 9; ++j)
        EXPECT_EQ (keyOf (g, 60).bounce[j], atNoteOn.bounce[j]);

    g.noteOff (60);
    renderKeys (g, s, 500);
    EXPECT_EQ (keyOf (g, 60).clickRemaining, 192);
    EXPECT_EQ (keyOf (g, 60).clickPhase, 0.0f);
}

TEST (TonewheelKeyClick, ReleaseClickIsFourMsOfThreeKilohertzFallingFromFullLevel)
{
    const struct
    {
        double sampleRate;
        int length;
    } cases[] = { { 44100.0, 176 }, { 48000.0, 192 }, { 96000.0, 384 } };

    for (const auto& c : cases)
    {
        TonewheelGenerator g;
        g.prepare (c.sampleRate);
        Settings s; // no drawbar, no percussion: the click alone
        s.keyClick = 1.0f;
        g.noteOn (60, 1.0f);
        renderKeys (g, s, 2000);
        g.noteOff (60);
        EXPECT_EQ (keyOf (g, 60).clickRemaining, c.length);

        // The click envelope starts at the whole samples of 4 ms over their exact count:
        // 1 at 48 kHz, 176 / 176.4 at 44.1 kHz.
        const float first = renderKeys (g, s);
        const double phase = (double) (static_cast<float> (1.0 / c.sampleRate) * 3000.0f);
        const double envelope = (double) ((float) c.length / (float) (c.sampleRate * 0.004));
        const float click = static_cast<float> (std::sin (2.0 * pi * phase) * envelope * (double) 0.12f);
        EXPECT_FLOAT_EQ (first, click * keyOf (g, 60).envelope * 0.08f) << c.sampleRate;

        int sounding = 1;
        while (keyOf (g, 60).clickRemaining > 0)
        {
            renderKeys (g, s);
            ++sounding;
        }
        EXPECT_EQ (sounding, c.length) << c.sampleRate;
        EXPECT_EQ (renderKeys (g, s), 0.0f) << "silent once the click has run out";
        EXPECT_TRUE (keyOf (g, 60).active) << "the key's release outlasts its click";
    }
}

// ---------------------------------------------------------------------------
// Vibrato/chorus scanner

TEST (TonewheelScanner, ModeFollowsTheChorusAmount)
{
    const struct
    {
        float amount;
        int mode;
    } cases[] = { { 0.0f, 3 },  { 0.02f, 3 }, { 0.3399f, 3 }, { 0.34f, 4 }, { 0.5f, 4 }, { 0.51f, 5 },
                  { 0.679f, 5 }, { 0.68f, 1 }, { 0.8399f, 1 }, { 0.84f, 2 }, { 1.0f, 2 } };

    for (const auto& c : cases)
        EXPECT_EQ (TonewheelGenerator::scannerModeFor (c.amount), c.mode) << c.amount;
}

TEST (TonewheelScanner, DelaySweepsUpToOneMsTimesDepthTimesAmount)
{
    // A ramp input shows the delay directly: the wet signal is the ramp delayed.
    const struct
    {
        float amount;
        double largestDelay; // samples at 48 kHz
        float wetShare;      // 1 for vibrato, the mix for chorus
    } cases[] = {
        { 0.02f, 0.33 * 0.02 * 48.0, 0.4325f },
        { 0.4f, 0.66 * 0.4 * 48.0, 0.515f },
        { 0.6f, 1.0 * 0.6 * 48.0, 0.6f },
        { 0.75f, 0.66 * 0.75 * 48.0, 1.0f },
        { 0.9f, 0.9 * 48.0, 1.0f }, // 43.2 samples
    };

    for (const auto& c : cases)
    {
        TonewheelGenerator g;
        g.prepare (48000.0);
        const int mode = TonewheelGenerator::scannerModeFor (c.amount);

        double largest = 0.0;
        int largestAt = 0;
        double firstDelay = -1.0;
        for (int n = 1; n <= 7000; ++n) // more than one 7 Hz sweep
        {
            const float x = (float) n;
            const float y = g.processScanner (x, c.amount, mode);
            const double delay = (double) (x - y) / c.wetShare;
            if (firstDelay < 0.0 && n > 100) // the line is full of the ramp by now
                firstDelay = delay;
            if (delay > largest)
            {
                largest = delay;
                largestAt = n;
            }
        }
        EXPECT_NEAR (largest, c.largestDelay, 0.02) << c.amount;
        if (c.amount > 0.1f)
            EXPECT_NEAR (largestAt, 48000 / 14, 3) << "a 7 Hz triangle peaks after 1/14 s";
        EXPECT_LT (firstDelay, c.largestDelay * 0.2) << "the sweep starts from no delay";
    }
}

TEST (TonewheelScanner, BlocksGiveTheSamplesOfOneSampleAtATime)
{
    // A block writes its samples into the line before reading any back, so at
    // high rates (where the delay nearly fills the line) its passes are short.
    // 40,000 samples take the sweep at 10 MHz to the full line.
    for (const double rate : { 8000.0, 48000.0, 384000.0, 1.0e6, 1.0e7 })
    {
        for (const float amount : { 0.3f, 1.0f })
        {
            for (const int mode : { 2, 5 })
            {
                Scanner blocks, samples;
                blocks.prepare (rate);
                samples.prepare (rate);
                std::vector<float> block (700);
                int at = 0;
                for (int round = 0; at < 40000; ++round)
                {
                    const int length = std::array<int, 7> { 1, 31, 64, 65, 700, 300, 2 }[(size_t) (round % 7)];
                    for (int i = 0; i < length; ++i)
                        block[(size_t) i] = std::sin (0.37f * (float) (at + i)) + 0.001f * (float) (at + i);
                    std::vector<float> expected (block.begin(), block.begin() + length);
                    for (auto& x : expected)
                        x = samples.process (x, amount, mode);

                    blocks.processBlock (block.data(), length, amount, mode);
                    for (int i = 0; i < length; ++i)
                        ASSERT_EQ (block[(size_t) i], expected[(size_t) i]) << rate << " Hz, mode " << mode << ", sample " << at + i;
                    at += length;
                }
                EXPECT_EQ (blocks.getWriteIndex(), samples.getWriteIndex());
                EXPECT_EQ (blocks.getLfoPhase(), samples.getLfoPhase());
            }
        }
    }
}

TEST_F (PreparedTonewheel, ScannerIsBypassedAndStandsStillAtOnePercentOrLess)
{
    for (int n = 0; n < 100; ++n)
        g.processScanner (0.1f * (float) n, 0.5f, 4);

    const int index = g.getScannerWriteIndex();
    const double phase = g.getScannerLfoPhase();
    EXPECT_EQ (index, 100);

    for (float amount : { 0.0f, 0.01f, -1.0f })
        EXPECT_EQ (g.processScanner (0.25f, amount, 3), 0.25f);

    Settings s = withDrawbars ({ bar8 });
    s.chorus = 0.01f;
    g.noteOn (60, 1.0f);
    for (int n = 0; n < 100; ++n)
        renderSample (g, s);
    EXPECT_EQ (g.getScannerWriteIndex(), index);
    EXPECT_EQ (g.getScannerLfoPhase(), phase);
}

// ---------------------------------------------------------------------------
// Output stage

TEST (TonewheelOutputStage, SmallSignalGainFollowsTheClipperSlopesAndFilters)
{
    // For small inputs the clipper is two straight lines, slope 1.8 (1.1 + 0.08) above
    // zero and 1.8 (0.945 + 0.08) below; the fundamental sees their mean. Then the
    // follower removes 2 %, x 0.55, two one-pole low-passes at 3.5 kHz and the
    // 80 Hz high-pass (the input minus a one-pole low-pass of it).
    const double sampleRate = 48000.0;
    const auto onePole = [sampleRate] (double cutoff, double hz) {
        const double g = std::min (0.99, cutoff * 6.2832 / sampleRate);
        return g / (1.0 - (1.0 - g) * std::polar (1.0, -2.0 * pi * hz / sampleRate));
    };

    for (double hz : { 100.0, 1000.0, 5000.0 })
    {
        TonewheelGenerator g;
        g.prepare (sampleRate);
        const double amplitude = 0.01;

        std::vector<float> out;
        for (int n = 0; n < 48000; ++n)
        {
            const float y = g.processOutputStage ((float) (amplitude * std::sin (2.0 * pi * hz * n / sampleRate)));
            if (n >= 4800)
                out.push_back (y);
        }

        const double slope = 1.8 * ((1.1 + 0.08) + (0.945 + 0.08)) / 2.0;
        const auto lowPass = onePole (3500.0, hz);
        const double expected =
            amplitude * slope * 0.98 * 0.55 * std::abs (lowPass * lowPass * (1.0 - onePole (80.0, hz)));
        EXPECT_NEAR (partialAmplitude (out, hz, sampleRate), expected, expected * 0.01) << hz << " Hz";
    }
}

TEST (TonewheelOutputStage, BlocksAnOffsetAndStaysBoundedWhenDrivenHard)
{
    TonewheelGenerator g;
    g.prepare (48000.0);

    float y = 0.0f;
    for (int n = 0; n < 48000; ++n)
        y = g.processOutputStage (0.3f);
    EXPECT_NEAR (y, 0.0f, 1.0e-5f) << "what is left is the rounding of the 32-bit high-pass";

    for (int n = 0; n < 4800; ++n)
        EXPECT_LT (std::abs (g.processOutputStage (n % 100 < 50 ? 1000.0f : -1000.0f)), 1.5f);
}

// ---------------------------------------------------------------------------
// The whole generator

TEST (TonewheelGenerator, UnpreparedGeneratorIsSilent)
{
    TonewheelGenerator g;
    g.noteOn (60, 1.0f);
    Settings s = withDrawbars ({ 0, 1, 2, 3, 4, 5, 6, 7, 8 });
    s.percussion = true;
    s.keyClick = 1.0f;
    for (int n = 0; n < 1000; ++n)
        ASSERT_EQ (renderSample (g, s), 0.0f);
}

TEST (TonewheelGenerator, InvalidSampleRatesFallBackToTheDefault)
{
    for (double rate : { 0.0, -48000.0, std::nan (""), HUGE_VAL })
    {
        TonewheelGenerator g;
        g.prepare (rate);
        EXPECT_EQ (g.getSampleRate(), 44100.0);
    }
}

TEST (TonewheelGenerator, StaysFiniteAndBoundedAndSettlesToSilenceAtAnyRate)
{
    for (double rate : { 8000.0, 44100.0, 48000.0, 96000.0, 192000.0, 384000.0 })
    {
        TonewheelGenerator g;
        g.prepare (rate);
        Settings s = withDrawbars ({ 0, 1, 2, 3, 4, 5, 6, 7, 8 });
        s.percussion = true;
        s.keyClick = 1.0f;
        s.chorus = 1.0f;

        const int chord[] = { 36, 48, 55, 60, 64, 67, 72, 84, 96 };
        for (int note : chord)
            g.noteOn (note, 1.0f);

        float peak = 0.0f;
        for (int n = 0; n < samplesFor (0.2, rate); ++n)
        {
            const float y = renderSample (g, s);
            ASSERT_TRUE (std::isfinite (y)) << rate;
            peak = std::max (peak, std::abs (y));
        }
        EXPECT_GT (peak, 0.05f) << rate;
        EXPECT_LT (peak, 1.5f) << rate;

        for (int note : chord)
            g.noteOff (note);

        float tail = 0.0f;
        const int release = samplesFor (0.3, rate);
        for (int n = 0; n < release; ++n)
        {
            const float y = renderSample (g, s);
            ASSERT_TRUE (std::isfinite (y)) << rate;
            if (n >= release - 100)
                tail = std::max (tail, std::abs (y));
        }
        EXPECT_LT (tail, 1.0e-5f) << rate << " Hz: no offset once every key is silent";
        for (const auto& key : g.getKeys())
            EXPECT_FALSE (key.active);
    }
}

TEST (TonewheelGenerator, SameNotesGiveTheSameSamples)
{
    TonewheelGenerator a, b;
    a.prepare (44100.0);
    b.prepare (44100.0);
    Settings s = withDrawbars ({ 0, 2, 3, 8 });
    s.percussion = true;
    s.keyClick = 0.5f;
    s.chorus = 0.9f;

    for (auto* g : { &a, &b })
    {
        g->noteOn (50, 0.8f);
        g->noteOn (57, 0.6f);
    }
    for (int n = 0; n < 2000; ++n)
        ASSERT_EQ (renderSample (a, s), renderSample (b, s));
}

TEST (TonewheelGenerator, BlocksGiveTheSamplesOfOneSampleAtATime)
{
    // Through attacks, contact bounce, percussion, settled keys, a release with
    // its click and a release to silence; with and without key click.
    // On every instruction set the engines are built for.
    for (const auto target : instructionsets::available())
    {
        instructionsets::with (target, [&] {
            for (const auto mode : { MathMode::reference, MathMode::fast })
            {
                for (const float keyClick : { 1.0f, 0.0f })
                {
                    auto blocks = std::make_unique<TonewheelGenerator>();
                    auto samples = std::make_unique<TonewheelGenerator>();
                    const auto both = [&] (const auto& change) { change (*blocks); change (*samples); };
                    both ([&] (TonewheelGenerator& g) {
                        g.setMathMode (mode);
                        g.prepare (44100.0);
                        g.noteOn (48, 1.0f);
                        g.noteOn (79, 0.6f);
                    });

                    Settings s = withDrawbars ({ bar16, bar8, bar4, 8 });
                    s.chorus = 0.7f;
                    s.percussion = true;
                    s.keyClick = keyClick;

                    std::vector<float> block (1000);
                    int at = 0;
                    const auto play = [&] {
                        blocks->renderBlock (block.data(), (int) block.size(), blockSettingsOf (s));
                        for (size_t n = 0; n < block.size(); ++n, ++at)
                            ASSERT_EQ (block[n], renderSample (*samples, s)) << "sample " << at << ", key click " << keyClick << ", "
                                                                       << instructionsets::nameOf (target);
                    };

                    play();
                    play();
                    both ([] (TonewheelGenerator& g) { g.noteOff (79); });
                    play();
                    both ([] (TonewheelGenerator& g) { g.noteOn (60, 0.9f); });
                    play();
                    play();
                }
            }
        });
    }
}
