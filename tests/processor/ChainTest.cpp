#include "BlockRenders.h"
#include "ProcessorFixture.h"

// The per-sample chain and the output write, observed through whole blocks. The
// reverb is set to 0 so that what leaves the processor is the dry chain (the
// reverb then only scales it, identically for every channel layout).
namespace
{
struct DryProcessor : PreparedProcessor
{
    explicit DryProcessor (int channels = 2) : PreparedProcessor (48000.0, channels, 512)
    {
        setRaw ("reverb", 0.0f);
    }

    float peakOver (int blocks, std::initializer_list<juce::MidiMessage> first = {})
    {
        float peak = 0.0f;
        play (first);
        for (int b = 0; b < blocks; ++b)
        {
            for (int c = 0; c < buffer.getNumChannels(); ++c)
                peak = juce::jmax (peak, buffer.getMagnitude (c, 0, buffer.getNumSamples()));
            if (b + 1 < blocks)
                play();
        }
        return peak;
    }
};

juce::MidiMessage on (int note, int channel = 1) { return juce::MidiMessage::noteOn (channel, note, (juce::uint8) 100); }
juce::MidiMessage off (int note, int channel = 1) { return juce::MidiMessage::noteOff (channel, note); }
} // namespace

TEST (OrganChain, MonoOutputCarriesTheAverageOfLeftAndRight)
{
    DryProcessor stereo (2), mono (1);
    for (int block = 0; block < 20; ++block)
    {
        const std::initializer_list<juce::MidiMessage> midi = { on (48), on (60), on (67) };
        stereo.play (block == 0 ? midi : std::initializer_list<juce::MidiMessage> {});
        mono.play (block == 0 ? midi : std::initializer_list<juce::MidiMessage> {});
        for (int i = 0; i < 512; ++i)
        {
            const float expected = (stereo.buffer.getSample (0, i) + stereo.buffer.getSample (1, i)) * 0.5f;
            ASSERT_NEAR (mono.buffer.getSample (0, i), expected, 1.0e-5f) << "block " << block << " sample " << i;
        }
    }
    EXPECT_GT (stereo.buffer.getMagnitude (0, 512), 0.01f);
}

TEST (OrganChain, ExpressionActsWithinTheBlockItArrives)
{
    for (int type = 0; type < 4; ++type)
    {
        DryProcessor silent, loud;
        silent.setRaw ("organType", (float) type);
        loud.setRaw ("organType", (float) type);
        silent.play();
        loud.play();
        EXPECT_EQ (silent.peakOver (10, { on (60), cc (11, 0) }), 0.0f) << "type " << type;
        EXPECT_GT (loud.peakOver (10, { on (60), cc (11, 127) }), 0.05f) << "type " << type;
    }
}

TEST (OrganChain, ANoteEndsWhateverTheOrganTypeAtItsNoteOff)
{
    // The organ type changes between a note's note-on and its note-off. Three
    // seconds later the note has ended, both on the organ that took the note-on
    // and on every other.
    for (int typeAtOn = 0; typeAtOn < 4; ++typeAtOn)
    {
        for (int typeAtOff = 0; typeAtOff < 4; ++typeAtOff)
        {
            DryProcessor p;
            p.setRaw ("organType", (float) typeAtOn);
            p.play ({ on (60) });
            p.play();
            p.setRaw ("organType", (float) typeAtOff);
            p.play ({ off (60) });

            p.setRaw ("organType", (float) typeAtOn);
            for (int block = 0; block < 3 * 48000 / 512; ++block)
                p.play();

            for (int type = 0; type < 4; ++type)
            {
                p.setRaw ("organType", (float) type);
                const float peak = p.peakOver (4);
                EXPECT_LT (peak, 1.0e-4f) << "on at type " << typeAtOn << ", off at type " << typeAtOff << ", played on type " << type;
            }
        }
    }
}

TEST (OrganChain, FocusModeFadesAnUnattendedInstrument)
{
    DryProcessor plain, focused;
    focused.setRaw ("focusMode", 1.0f);
    focused.processor.editorAttention.store (false);

    for (int block = 0; block < 4; ++block)
    {
        juce::MidiBuffer midi;
        if (block == 0)
        {
            midi.addEvent (on (60), 0);
            midi.addEvent (on (64), 0);
        }
        plain.play (midi);
        focused.play (midi);
        for (int i = 0; i < 512; i += 37)
        {
            const float reference = plain.buffer.getSample (0, i);
            if (std::abs (reference) < 1.0e-3f)
                continue;
            const double expected = std::pow (0.999, block * 512 + i + 1);
            EXPECT_NEAR (focused.buffer.getSample (0, i) / reference, expected, 1.0e-3) << block << ":" << i;
        }
    }
}

TEST (OrganChain, NotesAreOneNoteWhateverTheirChannel)
{
    for (int type = 0; type < 4; ++type)
    {
        DryProcessor f;
        f.setRaw ("organType", (float) type);
        f.setRaw ("leslieBrake", 1.0f);
        f.play();
        EXPECT_GT (f.peakOver (8, { on (60, 1) }), 0.05f) << "type " << type;
        // Released from another channel: after the release and the speaker's short
        // lines, nothing is left.
        f.peakOver (20, { off (60, 9) });
        EXPECT_LT (f.peakOver (2), 1.0e-4f) << "type " << type;
    }
}

TEST (OrganChain, AllNotesOffSilencesAtOnceInEveryType)
{
    for (int controller : { 120, 123 })
        for (int type = 0; type < 4; ++type)
        {
            DryProcessor f;
            f.setRaw ("organType", (float) type);
            f.setRaw ("leslieBrake", 1.0f);
            f.play();
            EXPECT_GT (f.peakOver (8, { on (60), on (72) }), 0.05f);
            // A 25 ms release would still sound at more than half its level at the end of
            // this block; silenced keys leave only the output filters' last ringing.
            f.play ({ cc (controller, 0, 5) });
            EXPECT_LT (f.buffer.getMagnitude (256, 256), 1.0e-2f) << "controller " << controller << ", type " << type;
        }
}

TEST (OrganChain, EventsActAtTheirSampleWhateverTheBlockSize)
{
    // Notes, expression and (for the voice organs) the modulation wheel at
    // positions no block size divides, played in blocks of many sizes: the
    // same sound, reverb included, to the bit. With type "B3" the wheel also
    // moves the speed parameter, which a block reads at its start, so there
    // the wheel stays out.
    constexpr int length = 16000; // samples
    using blockrenders::TimedMessage;

    for (int type = 0; type < 4; ++type)
    {
        std::vector<TimedMessage> events { { 1009, on (60) }, { 2311, cc (11, 70) }, { 3001, on (67) }, { 5555, off (60) },
                                           { 6007, on (72) }, { 7001, cc (11, 127) }, { 9973, off (67) }, { 9973, off (72) },
                                           { 11003, on (48) }, { 13001, cc (123, 0) }, { 14011, on (62) } };
        if (type != 0)
            events.insert (events.begin() + 3, { 4099, cc (1, 120) });

        auto render = [&] (const std::vector<int>& blockSizes) {
            PreparedProcessor p (48000.0, 2, 4096);
            p.processor.setRandomSeed (1234);
            p.setRaw ("organType", (float) type);
            return blockrenders::render (p.processor, events, length, blockSizes);
        };

        const auto reference = render ({ 256 });
        for (int n = 0; n < 1009; ++n)
            ASSERT_EQ (reference.getSample (0, n), 0.0f) << "type " << type << ": sound before the first note, at " << n;
        EXPECT_GT (reference.getMagnitude (0, 1009, 200), 1.0e-3f) << "type " << type;

        for (const auto& blocks : blockrenders::blockSizePatterns())
        {
            const auto difference = blockrenders::firstDifference (render (blocks), reference);
            EXPECT_FALSE (difference.has_value()) << "type " << type << ", blocks of " << blocks[0] << ": channel "
                                                  << difference->first << ", sample " << difference->second;
        }
    }
}
