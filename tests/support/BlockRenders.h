#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

// The same MIDI played through a prepared processor (the organ's own, or a
// plug-in a host loaded) in blocks of other sizes, for tests that the sound
// does not depend on the host's block size.
namespace blockrenders
{
// A MIDI message at a sample from the render's start.
struct TimedMessage
{
    int sample;
    juce::MidiMessage message;
};

// Block sizes a host may use: fixed ones, and a pattern that keeps changing.
inline std::vector<std::vector<int>> blockSizePatterns()
{
    return { { 1 }, { 16 }, { 64 }, { 512 }, { 4096 }, { 3, 700, 64, 1, 2048, 129 } };
}

// `length` stereo samples in blocks whose sizes repeat `blockSizes` (none above
// the size the processor was prepared for), each block given the events that
// fall inside it.
inline juce::AudioBuffer<float> render (juce::AudioProcessor& processor, const std::vector<TimedMessage>& events, int length,
                                        const std::vector<int>& blockSizes)
{
    juce::AudioBuffer<float> out (2, length);
    out.clear();
    size_t next = 0, pattern = 0;
    for (int start = 0; start < length;)
    {
        const int count = std::min (blockSizes[pattern++ % blockSizes.size()], length - start);
        juce::MidiBuffer midi;
        for (; next < events.size() && events[next].sample < start + count; ++next)
            midi.addEvent (events[next].message, events[next].sample - start);
        juce::AudioBuffer<float> block (out.getArrayOfWritePointers(), 2, start, count);
        processor.processBlock (block, midi);
        start += count;
    }
    return out;
}

// The first (channel, sample) where two renders differ, if any.
inline std::optional<std::pair<int, int>> firstDifference (const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b)
{
    for (int c = 0; c < 2; ++c)
        for (int n = 0; n < a.getNumSamples(); ++n)
            if (a.getSample (c, n) != b.getSample (c, n))
                return std::make_pair (c, n);
    return std::nullopt;
}
} // namespace blockrenders
