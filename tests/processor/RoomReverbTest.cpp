#include "InstructionSets.h"
#include "RoomReverb.h"
#include "SampleRate.h"

#include <juce_audio_basics/juce_audio_basics.h>

#include <gtest/gtest.h>

#include <vector>

// The organ's own reverb against the framework's, which it replaces: the same
// samples to the bit, at every sample rate the organ plays at, for every room
// setting, mono and stereo, in blocks of changing size, with the settings
// changing while the room still rings, on every instruction set.
namespace
{
struct Pair
{
    explicit Pair (double rate)
    {
        ours.prepare (rate);
        theirs.setSampleRate (rate);
    }

    void set (float amount)
    {
        const auto s = ReverbSettings::forAmount (amount);
        ours.setSettings (s);
        juce::Reverb::Parameters p;
        p.roomSize = s.roomSize;
        p.damping = s.damping;
        p.wetLevel = s.wetLevel;
        p.dryLevel = s.dryLevel;
        p.width = s.width;
        theirs.setParameters (p);
    }

    RoomReverb ours;
    juce::Reverb theirs;
};
} // namespace

TEST (RoomReverb, ComputesWhatTheFrameworksReverbComputes)
{
    const double rates[] = { lowestSampleRate, 8000.0, 22050.0, 44100.0, 48000.0, 88200.0, 96000.0, 192000.0, 384000.0, 768000.0,
                             highestSampleRate };
    const float amounts[] = { 0.0f, 0.25f, 0.5f, 0.8f, 1.0f };
    const int blockSizes[] = { 1, 511, 64, 4096, 7, 1000 };

    for (const auto target : instructionsets::available())
    {
        instructionsets::with (target, [&] {
            for (const double rate : rates)
            {
                for (int channels : { 1, 2 })
                {
                    Pair pair (rate);
                    juce::Random random (42);
                    std::vector<std::vector<float>> ours (2), theirs (2);
                    int block = 0;

                    // Each room setting for a while, changed mid-ring; the signal a
                    // burst of noise, then quiet, so the tail rings out under it.
                    for (const float amount : amounts)
                    {
                        pair.set (amount);
                        for (int round = 0; round < 4; ++round)
                        {
                            const int n = blockSizes[block++ % std::size (blockSizes)];
                            for (int c = 0; c < 2; ++c)
                            {
                                ours[(size_t) c].resize ((size_t) n);
                                for (auto& x : ours[(size_t) c])
                                    x = round == 0 ? random.nextFloat() * 2.0f - 1.0f : 0.0f;
                                theirs[(size_t) c] = ours[(size_t) c];
                            }

                            float* pointers[] = { ours[0].data(), ours[1].data() };
                            pair.ours.process (pointers, channels, n);
                            if (channels == 1)
                                pair.theirs.processMono (theirs[0].data(), n);
                            else
                                pair.theirs.processStereo (theirs[0].data(), theirs[1].data(), n);

                            for (int c = 0; c < channels; ++c)
                                for (int i = 0; i < n; ++i)
                                    ASSERT_EQ (ours[(size_t) c][(size_t) i], theirs[(size_t) c][(size_t) i])
                                        << instructionsets::nameOf (target) << ", " << rate << " Hz, " << channels
                                        << " channel(s), amount " << amount << ", block " << block << ", channel " << c
                                        << ", sample " << i;
                        }
                    }
                }
            }
        });
    }
}

TEST (RoomReverb, LeavesOtherChannelCountsAlone)
{
    RoomReverb reverb;
    reverb.prepare (48000.0);
    std::vector<std::vector<float>> channels (3, std::vector<float> (64, 0.5f));
    float* pointers[] = { channels[0].data(), channels[1].data(), channels[2].data() };
    reverb.process (pointers, 3, 64);
    reverb.process (pointers, 0, 64);
    for (const auto& c : channels)
        EXPECT_EQ (c, std::vector<float> (64, 0.5f));
}
