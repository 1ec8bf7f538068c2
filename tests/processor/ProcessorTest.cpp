#include "ProcessorFixture.h"

#include "BlockSettings.h"
#include "LinearCongruentialDraws.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <vector>

TEST (OrganProcessor, ReportsItsIdentity)
{
    OrganProcessor p;
    EXPECT_EQ (p.getName(), "Brassgate Organ");
    EXPECT_EQ (p.getNumPrograms(), 1);
    EXPECT_EQ (p.getCurrentProgram(), 0);
    EXPECT_TRUE (p.getProgramName (0).isEmpty());
    EXPECT_DOUBLE_EQ (p.getTailLengthSeconds(), 2.0);
    EXPECT_TRUE (p.acceptsMidi());
    EXPECT_FALSE (p.producesMidi());
    EXPECT_FALSE (p.isMidiEffect());
    EXPECT_TRUE (p.hasEditor());
    EXPECT_EQ (p.getTotalNumInputChannels(), 0);
    EXPECT_EQ (p.getTotalNumOutputChannels(), 2);
}

TEST (OrganProcessor, HoldsTheParametersInTableOrderWithTheirDefaults)
{
    OrganProcessor p;
    const auto& params = p.getParameters();
    ASSERT_EQ (params.size(), 24);

    const char* names[] = { "Organ Type", "16'", "5-1/3'", "8'", "4'", "2-2/3'", "2'", "1-3/5'", "1-1/3'", "1'",
                            "Leslie Speed", "Drive", "Drive Type", "Volume", "Percussion", "Perc Soft", "Perc Fast",
                            "Perc Harmonic", "Paradise Mod", "Key Click", "Leslie Brake", "Chorus/Vibrato", "Reverb",
                            "Focus Mode" };
    const float defaults[] = { 0, 8, 0, 8, 6, 0, 0, 0, 0, 0, 40, 20, 0, 80, 1, 0, 1, 1, 0, 50, 0, 30, 25, 0 };

    for (int i = 0; i < 24; ++i)
    {
        auto* param = dynamic_cast<juce::RangedAudioParameter*> (params[i]);
        ASSERT_NE (param, nullptr);
        EXPECT_EQ (param->getParameterID(), juce::String (parameterTable[(size_t) i].id));
        EXPECT_EQ (param->getName (100), juce::String (names[i]));
        EXPECT_EQ (param->getVersionHint(), 1);
        EXPECT_FLOAT_EQ (param->convertFrom0to1 (param->getValue()), defaults[i]) << names[i];
        EXPECT_FLOAT_EQ (p.parameters.getRawParameterValue (param->getParameterID())->load(), defaults[i]);
    }
}

TEST (OrganProcessor, SnapsNormalisedValuesToSteps)
{
    PreparedProcessor f;
    const struct
    {
        const char* id;
        float normalised;
        float raw;
    } cases[] = { { "drawbar3", 0.4f, 3.0f }, { "drawbar3", 0.45f, 4.0f }, { "leslieSpeed", 0.85f, 85.0f },
                  { "leslieSpeed", 0.15f, 15.0f }, { "organType", 1.0f, 3.0f }, { "percHarmonic", 1.0f, 1.0f } };

    for (const auto& c : cases)
    {
        f.parameter (c.id).setValueNotifyingHost (c.normalised);
        EXPECT_NEAR (f.raw (c.id), c.raw, 1.0e-4f) << c.id << " at " << c.normalised;
    }
}

TEST (OrganProcessor, MidiControllersMoveTheirParameters)
{
    struct Case
    {
        const char* what;
        int organType;
        const char* id;
        std::optional<float> before; // raw value set before the block
        juce::MidiMessage message;
        float expected;
    };

    const Case cases[] = {
        { "wheel up, B3: fast", 0, "leslieSpeed", {}, cc (1, 64), 85.0f },
        { "wheel down, B3: slow", 0, "leslieSpeed", {}, cc (1, 63), 15.0f },
        { "wheel with VOX: no speed change", 2, "leslieSpeed", {}, cc (1, 127), 40.0f },
        { "cc80 brakes in any type", 2, "leslieBrake", {}, cc (80, 64), 1.0f },
        { "cc80 low releases", 3, "leslieBrake", 1.0f, cc (80, 63), 0.0f },
        { "sustain brakes with B3", 0, "leslieBrake", {}, cc (64, 127), 1.0f },
        { "sustain low releases with B3", 0, "leslieBrake", 1.0f, cc (64, 0), 0.0f },
        { "sustain ignored with FARFISA", 1, "leslieBrake", {}, cc (64, 127), 0.0f },
        { "cc41 full", 0, "drawbar0", 0.0f, cc (41, 127), 8.0f },
        { "cc41 at 8 rounds up", 0, "drawbar0", {}, cc (41, 8), 1.0f },
        { "cc41 at 7 rounds down", 0, "drawbar0", {}, cc (41, 7), 0.0f },
        { "cc29 at 0 pulls out", 0, "drawbar8", {}, cc (29, 0), 8.0f },
        { "cc29 at 127 pushes in", 0, "drawbar8", 5.0f, cc (29, 127), 0.0f },
        { "cc23 halfway", 2, "drawbar2", {}, cc (23, 64), 4.0f },
        { "cc44 on channel 16", 0, "drawbar3", {}, cc (44, 32, 16), 2.0f },
        { "pitch bend ignored", 0, "drawbar0", {}, juce::MidiMessage::pitchWheel (1, 0), 8.0f },
        { "program change ignored", 0, "organType", {}, juce::MidiMessage::programChange (1, 3), 0.0f },
    };

    for (const auto& c : cases)
    {
        PreparedProcessor f;
        f.setRaw ("organType", (float) c.organType);
        if (c.before)
            f.setRaw (c.id, *c.before);
        f.play(); // the organ type reaches the block snapshot

        f.play ({ c.message });
        EXPECT_NEAR (f.raw (c.id), c.expected, 1.0e-4f) << c.what;
    }
}

TEST (BlockSettings, RotorTargetsFollowTheSpeedZonesAndTheBrake)
{
    const struct
    {
        float leslieSpeed;
        bool brake;
        float horn, drum;
    } cases[] = {
        { 0.0f, false, 0.8f, 0.67f },  { 45.9f, false, 0.8f, 0.67f }, { 46.0f, false, 0.0f, 0.0f },
        { 50.0f, false, 0.0f, 0.0f },  { 54.0f, false, 0.0f, 0.0f },  { 54.1f, false, 6.7f, 5.7f },
        { 100.0f, false, 6.7f, 5.7f }, { 10.0f, true, 0.0f, 0.0f },   { 85.0f, true, 0.0f, 0.0f },
    };

    for (const auto& c : cases)
    {
        RawParameterValues raw {};
        for (size_t i = 0; i < raw.size(); ++i)
            raw[i] = parameterTable[i].defaultValue;
        raw[ParameterIndex::leslieSpeed] = c.leslieSpeed;
        raw[ParameterIndex::leslieBrake] = c.brake ? 1.0f : 0.0f;

        const auto s = BlockSettings::fromRawValues (raw, true, 48000.0);
        EXPECT_EQ (s.hornTargetSpeed, c.horn) << c.leslieSpeed << (c.brake ? " braked" : "");
        EXPECT_EQ (s.drumTargetSpeed, c.drum) << c.leslieSpeed << (c.brake ? " braked" : "");
    }
}

TEST (BlockSettings, DerivesLevelsStepsAndFocusTarget)
{
    RawParameterValues raw {};
    for (size_t i = 0; i < raw.size(); ++i)
        raw[i] = parameterTable[i].defaultValue;
    raw[ParameterIndex::drive] = 50.0f;
    raw[ParameterIndex::focusMode] = 1.0f;

    const auto attended = BlockSettings::fromRawValues (raw, true, 48000.0);
    const auto unattended = BlockSettings::fromRawValues (raw, false, 48000.0);

    EXPECT_EQ (attended.drawbarLevels, (DrawbarLevels { 1.0f, 0, 1.0f, 0.75f, 0, 0, 0, 0, 0 }));
    EXPECT_FLOAT_EQ (attended.driveMakeup, 0.25f);
    EXPECT_FLOAT_EQ (attended.voiceAttackStep, 1.0f / 240.0f);
    EXPECT_FLOAT_EQ (attended.voiceReleaseStep, 1.0f / 1200.0f);
    EXPECT_TRUE (attended.percThird);
    EXPECT_EQ (attended.focusGainTarget, 1.0f);
    EXPECT_EQ (unattended.focusGainTarget, 0.0f);
}

TEST (OrganProcessor, ParameterChangesFromMidiSoundFromTheNextBlock)
{
    // CC 11 acts at once (performance control), a drawbar controller only from the next
    // block: the organ type switch below only takes effect in the block after it.
    PreparedProcessor f;
    f.play ({ cc (1, 127) });
    EXPECT_NEAR (f.raw ("leslieSpeed"), 85.0f, 1.0e-4f);
}

TEST (OrganProcessor, SurvivesAnyRateChannelCountAndBlockSize)
{
    const double rates[] = { 0.0, -1.0, 8000.0, 44100.0, 192000.0, 384000.0 };
    const int blockSizes[] = { 0, 1, 33, 8192 };

    for (double rate : rates)
        for (int channels = 0; channels <= 8; ++channels)
        {
            PreparedProcessor f (rate, channels, 8192);
            for (int type = 0; type < 4; ++type)
            {
                f.setRaw ("organType", (float) type);
                f.setRaw ("drive", 100.0f);
                for (int blockSize : blockSizes)
                {
                    juce::MidiBuffer midi;
                    midi.addEvent (juce::MidiMessage::noteOn (1, 36 + type, (juce::uint8) 127), 0);
                    midi.addEvent (juce::MidiMessage::noteOn (1, 96, (juce::uint8) 127), 0);
                    f.play (midi, blockSize);
                    ASSERT_TRUE (f.allFinite()) << "rate " << rate << " channels " << channels << " block " << blockSize;
                    for (int c = 0; c < channels; ++c)
                        ASSERT_LE (f.buffer.getMagnitude (c, 0, f.buffer.getNumSamples()), 4.0f);
                    for (int c = 2; c < channels; ++c)
                        ASSERT_EQ (f.buffer.getMagnitude (c, 0, f.buffer.getNumSamples()), 0.0f);
                }
            }
        }
}

TEST (OrganProcessor, ParametersOutsideTheirRangesNeverReachTheSound)
{
    // A host can push any float into the raw parameter values, NaN included.
    PreparedProcessor f;
    for (const auto& entry : parameterTable)
        f.processor.parameters.getRawParameterValue (entry.id)->store (std::numeric_limits<float>::quiet_NaN());
    f.play ({ juce::MidiMessage::noteOn (1, 60, (juce::uint8) 100) });
    EXPECT_TRUE (f.allFinite());

    for (const auto& entry : parameterTable)
        f.processor.parameters.getRawParameterValue (entry.id)->store (1.0e9f);
    f.play ({ juce::MidiMessage::noteOn (1, 62, (juce::uint8) 100) });
    f.play();
    EXPECT_TRUE (f.allFinite());
}

TEST (OrganProcessor, KeyboardLinkFollowsTheEditor)
{
    OrganProcessor p;
    EXPECT_EQ (p.keyboardState.load(), nullptr);
    for (int i = 0; i < 3; ++i)
    {
        std::unique_ptr<juce::AudioProcessorEditor> editor (p.createEditor());
        EXPECT_NE (p.keyboardState.load(), nullptr);
        editor.reset();
        EXPECT_EQ (p.keyboardState.load(), nullptr);
    }
}

TEST (ProcessorRandom, BatchedDrawsContinueTheFrameworkGeneratorExactly)
{
    // The voice organs' noise takes its draws many at a time; they must be the
    // framework generator's own sequence, and leave it where it would be.
    for (const juce::int64 seed : { juce::int64 { 0 }, juce::int64 { 1 }, juce::int64 { 123456789 }, juce::int64 { -1 },
                                    std::numeric_limits<juce::int64>::max() })
    {
        for (const int count : { 0, 1, 7, 144, 1000 })
        {
            juce::Random expected (seed);
            std::vector<float> draws ((size_t) std::max (count, 1));
            juce::Random batched (seed);
            batched.setSeed (LinearCongruentialDraws::nextFloats (batched.getSeed(), draws.data(), count));

            for (int i = 0; i < count; ++i)
                ASSERT_EQ (draws[(size_t) i], expected.nextFloat()) << "seed " << seed << ", draw " << i;
            EXPECT_EQ (batched.nextInt(), expected.nextInt()) << "seed " << seed << ", count " << count;
        }

        // The church organ's table of 16 voices by 9 oscillators, stored by oscillator.
        juce::Random expected (seed);
        juce::Random byColumns (seed);
        LinearCongruentialDraws::ByColumns table;
        ASSERT_TRUE (table.prepare (16, 9));
        std::vector<float> draws (16 * 9);
        byColumns.setSeed (table.nextFloats (byColumns.getSeed(), draws.data()));
        for (int voice = 0; voice < 16; ++voice)
            for (int oscillator = 0; oscillator < 9; ++oscillator)
                ASSERT_EQ (draws[(size_t) (oscillator * 16 + voice)], expected.nextFloat()) << "seed " << seed << ", voice " << voice;
        EXPECT_EQ (byColumns.nextInt(), expected.nextInt()) << "seed " << seed;
    }
}
