#include "BlockSettings.h"
#include "DriveStage.h"
#include "MidiEvent.h"
#include "OrganEngine.h"
#include "OutputStage.h"
#include "ParameterTable.h"
#include "SeededRandom.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

// The organ engine as the plug-in plays it: the chain's gates and output
// writes, and MIDI events acting at the sample they are stamped with.
namespace
{
constexpr double rate = 48000.0; // Hz

RawParameterValues defaults()
{
    RawParameterValues raw;
    for (size_t i = 0; i < raw.size(); ++i)
        raw[i] = parameterTable[i].defaultValue;
    return raw;
}

BlockSettings settingsWith (int organType, float drive = 20.0f, bool focusMode = false, bool attended = true)
{
    auto raw = defaults();
    raw[ParameterIndex::organType] = static_cast<float> (organType);
    raw[ParameterIndex::drive] = drive;
    raw[ParameterIndex::focusMode] = focusMode ? 1.0f : 0.0f;
    raw[ParameterIndex::leslieSpeed] = 85.0f; // rotors turning, so left and right differ
    return BlockSettings::fromRawValues (raw, attended, rate);
}

// An engine with its random draws seeded, prepared at 48 kHz.
struct Engine
{
    Engine() { engine->prepare (rate); }

    SeededRandom random;
    std::unique_ptr<OrganEngine> engine = std::make_unique<OrganEngine> (random);
};

// `length` samples of `channels` channels rendered in blocks whose sizes
// repeat `blockSizes`, the events (stamped from the render's start) handed to
// the block they fall in. Channels past the second start at 7, to show they
// are left alone.
struct Rendered
{
    std::vector<std::vector<float>> channels;
    std::vector<float> engine, saturated;
};

Rendered render (const BlockSettings& settings, const std::vector<MidiEvent>& events, int length,
                 const std::vector<int>& blockSizes, int numChannels = 2)
{
    Engine e;
    Rendered out;
    out.channels.assign ((size_t) numChannels, std::vector<float> ((size_t) length, 0.0f));
    for (size_t c = 2; c < out.channels.size(); ++c)
        std::fill (out.channels[c].begin(), out.channels[c].end(), 7.0f);
    out.engine.assign ((size_t) length, 0.0f);
    out.saturated.assign ((size_t) length, 0.0f);

    std::vector<MidiEvent> block;
    std::vector<float*> pointers ((size_t) numChannels);
    size_t next = 0, pattern = 0;
    for (int start = 0; start < length; start += blockSizes[pattern++ % blockSizes.size()])
    {
        const int count = std::min (blockSizes[pattern % blockSizes.size()], length - start);
        block.clear();
        for (; next < events.size() && events[next].samplePosition < start + count; ++next)
        {
            block.push_back (events[next]);
            block.back().samplePosition -= start;
        }
        for (int c = 0; c < numChannels; ++c)
            pointers[(size_t) c] = out.channels[(size_t) c].data() + start;
        e.engine->process (settings, block, pointers.data(), numChannels, count,
                           { out.engine.data() + start, out.saturated.data() + start });
    }
    return out;
}

// A phrase at sample positions that are no multiple of any block size: notes
// overlapping and released, the modulation wheel and expression moving
// between them, and everything silenced near the end.
std::vector<MidiEvent> phrase()
{
    return { MidiEvent::noteOn (1009, 60, 100),       MidiEvent::controller (2311, 11, 70), MidiEvent::noteOn (3001, 67, 90),
             MidiEvent::controller (4099, 1, 120),    MidiEvent::noteOff (5555, 60),        MidiEvent::noteOn (6007, 72, 127),
             MidiEvent::controller (7001, 11, 127),   MidiEvent::controller (8191, 1, 0),   MidiEvent::noteOn (8193, 48, 64),
             MidiEvent::noteOff (9973, 67),           MidiEvent::noteOff (9973, 72),        MidiEvent::noteOn (11003, 64, 1),
             MidiEvent::controller (13001, 123, 0),   MidiEvent::noteOn (14011, 62, 100),   MidiEvent::noteOff (15013, 62) };
}
} // namespace

TEST (OrganEngine, EventsActAtTheirSampleWhateverTheBlockSize)
{
    constexpr int length = 18000; // samples
    const std::vector<std::vector<int>> blockings { { 1 }, { 16 }, { 64 }, { 512 }, { 4096 }, { 3, 700, 64, 1, 2048, 129 } };

    for (int type = 0; type < 4; ++type)
    {
        const auto settings = settingsWith (type);
        const auto reference = render (settings, phrase(), length, { 256 });

        // The first note starts from silence: nothing before its sample, sound
        // within 3 ms of it (the tone wheels' contacts close up to 2.5 ms late).
        for (int n = 0; n < 1009; ++n)
            ASSERT_EQ (reference.channels[0][(size_t) n], 0.0f) << "type " << type << ", sample " << n;
        const auto onset = std::find_if (reference.channels[0].begin() + 1009, reference.channels[0].end(),
                                         [] (float x) { return std::abs (x) > 1.0e-4f; });
        EXPECT_LT (onset - reference.channels[0].begin(), 1009 + 144) << "type " << type;

        for (const auto& blocking : blockings)
        {
            const auto r = render (settings, phrase(), length, blocking);
            for (int c = 0; c < 2; ++c)
                for (int n = 0; n < length; ++n)
                    ASSERT_EQ (r.channels[(size_t) c][(size_t) n], reference.channels[(size_t) c][(size_t) n])
                        << "type " << type << ", blocks of " << blocking[0] << (blocking.size() > 1 ? " and more" : "")
                        << ", channel " << c << ", sample " << n;
        }
    }
}

TEST (OrganEngine, EventsOutsideTheBlockActAtItsEdges)
{
    // Stamped before the block: at its start. Past its end: after its last
    // sample, so the next block starts with them. A block of no samples still
    // takes its events.
    struct Block
    {
        int length;
        std::vector<MidiEvent> midi;
    };
    const auto settings = settingsWith (0);
    auto play = [&] (const std::vector<Block>& blocks) {
        Engine e;
        std::vector<float> out;
        for (const auto& b : blocks)
        {
            std::vector<float> block ((size_t) b.length);
            float* channels[] = { block.data() };
            e.engine->process (settings, b.midi, channels, 1, b.length);
            out.insert (out.end(), block.begin(), block.end());
        }
        return out;
    };
    const auto note = [] (int sample) { return std::vector<MidiEvent> { MidiEvent::noteOn (sample, 60, 100) }; };

    const auto atStart = play ({ { 64, note (0) }, { 64, {} } });
    const auto atNextStart = play ({ { 64, {} }, { 64, note (0) } });
    EXPECT_NE (atStart, atNextStart);
    EXPECT_EQ (play ({ { 64, note (-5) }, { 64, {} } }), atStart);
    EXPECT_EQ (play ({ { 64, note (64) }, { 64, {} } }), atNextStart);
    EXPECT_EQ (play ({ { 64, note (100000) }, { 64, {} } }), atNextStart);
    EXPECT_EQ (play ({ { 64, {} }, { 0, note (0) }, { 64, {} } }), atNextStart);
}

TEST (OrganEngine, DriveActsOnlyAboveOnePercent)
{
    const std::vector<MidiEvent> chord { MidiEvent::noteOn (0, 48, 100), MidiEvent::noteOn (0, 60, 100), MidiEvent::noteOn (0, 67, 100) };
    const struct
    {
        float drive; // percent
        bool driven;
    } cases[] = { { 0.0f, false }, { 1.0f, false }, { 1.1f, true }, { 20.0f, true }, { 100.0f, true } };

    for (int type : { 0, 3 })
    {
        for (const auto& c : cases)
        {
            const auto settings = settingsWith (type, c.drive);
            const auto r = render (settings, chord, 4096, { 512 });
            std::vector<float> expected = r.engine;
            if (c.driven)
                DriveStage::applyDrive (expected.data(), (int) expected.size(), settings.driveAmount, settings.driveType, settings.driveMakeup);
            OutputStage::process (expected.data(), (int) expected.size(), settings.volumeLevel, 1.0f);
            EXPECT_EQ (r.saturated, expected) << "type " << type << ", drive " << c.drive << " %";
        }
    }
}

TEST (OrganEngine, FocusGainFadesAnUnattendedOrgan)
{
    // Focus mode on and nobody looking: every sample is the plain one times
    // 0.999 once more; attended, or with focus mode off, nothing changes. (The
    // reverb at 0, once its wet gain has glided away, only scales both alike.)
    const std::vector<MidiEvent> chord { MidiEvent::noteOn (0, 60, 100), MidiEvent::noteOn (0, 64, 100) };
    auto dry = [] (BlockSettings s) {
        s.reverbAmount = 0.0f;
        return s;
    };
    const auto plain = render (dry (settingsWith (0)), chord, 3000, { 512 });
    EXPECT_EQ (render (dry (settingsWith (0, 20.0f, true, true)), chord, 3000, { 512 }).channels, plain.channels);
    EXPECT_EQ (render (dry (settingsWith (0, 20.0f, false, false)), chord, 3000, { 512 }).channels, plain.channels);

    const auto faded = render (dry (settingsWith (0, 20.0f, true, false)), chord, 3000, { 512 });
    int compared = 0;
    for (int n = 512; n < 3000; ++n)
    {
        const float reference = plain.channels[0][(size_t) n];
        if (std::abs (reference) < 1.0e-3f)
            continue;
        ++compared;
        ASSERT_NEAR (faded.channels[0][(size_t) n] / reference, std::pow (0.999, n + 1), 1.0e-4) << "sample " << n;
    }
    EXPECT_GT (compared, 1000);
}

TEST (OrganEngine, WritesLeftAndRightOrTheirAverageAndLeavesOtherChannels)
{
    // With the reverb at 0, once its wet gain has glided to 0 (10 ms), it
    // doubles the dry sound in one and two channels and is left out with
    // more: mono is the average of left and right, and eight channels carry
    // left and right in their first two and nothing new in the others.
    const std::vector<MidiEvent> chord { MidiEvent::noteOn (0, 48, 100), MidiEvent::noteOn (0, 60, 100), MidiEvent::noteOn (0, 67, 100) };
    constexpr int settled = 512; // samples
    for (int type = 0; type < 4; ++type)
    {
        auto settings = settingsWith (type);
        settings.reverbAmount = 0.0f;
        const auto stereo = render (settings, chord, 4096, { 512 }, 2);
        const auto mono = render (settings, chord, 4096, { 512 }, 1);
        const auto eight = render (settings, chord, 4096, { 512 }, 8);

        EXPECT_NE (stereo.channels[0], stereo.channels[1]) << "type " << type << ": the rotors make left and right differ";
        for (int n = settled; n < 4096; ++n)
        {
            ASSERT_NEAR (mono.channels[0][(size_t) n], (stereo.channels[0][(size_t) n] + stereo.channels[1][(size_t) n]) * 0.5f, 1.0e-6f)
                << "type " << type << ", sample " << n;
            for (size_t c = 0; c < 2; ++c)
                ASSERT_EQ (eight.channels[c][(size_t) n] * 2.0f, stereo.channels[c][(size_t) n]) << "type " << type << ", sample " << n;
        }
        for (size_t c = 2; c < 8; ++c)
            EXPECT_EQ (eight.channels[c], std::vector<float> (4096, 7.0f)) << "channel " << c;

        // No channel at all: the chain still runs, and nothing is written.
        EXPECT_EQ (render (settings, chord, 4096, { 512 }, 0).engine, stereo.engine);
    }
}
