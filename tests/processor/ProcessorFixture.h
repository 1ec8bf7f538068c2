#pragma once

#include "OrganProcessor.h"

#include <gtest/gtest.h>

#include <cmath>

// A processor prepared at a sample rate, with helpers to play blocks into it.
struct PreparedProcessor
{
    explicit PreparedProcessor (double rate = 48000.0, int channels = 2, int blockSize = 512)
        : sampleRate (rate), buffer (channels, blockSize)
    {
        processor.setPlayConfigDetails (0, juce::jmin (channels, 2), rate, blockSize);
        processor.prepareToPlay (rate, blockSize);
    }

    juce::RangedAudioParameter& parameter (const char* id) { return *processor.parameters.getParameter (id); }
    float raw (const char* id) { return processor.parameters.getRawParameterValue (id)->load(); }
    void setRaw (const char* id, float value)
    {
        auto& p = parameter (id);
        p.setValueNotifyingHost (p.convertTo0to1 (value));
    }

    // Plays one block with the given MIDI; returns the buffer.
    juce::AudioBuffer<float>& play (const juce::MidiBuffer& midi = {}, int numSamples = -1)
    {
        if (numSamples >= 0)
            buffer.setSize (buffer.getNumChannels(), numSamples, false, false, true);
        juce::MidiBuffer events (midi);
        processor.processBlock (buffer, events);
        return buffer;
    }

    juce::AudioBuffer<float>& play (std::initializer_list<juce::MidiMessage> messages)
    {
        juce::MidiBuffer midi;
        for (const auto& m : messages)
            midi.addEvent (m, 0);
        return play (midi);
    }

    bool allFinite() const
    {
        for (int c = 0; c < buffer.getNumChannels(); ++c)
            for (int i = 0; i < buffer.getNumSamples(); ++i)
                if (! std::isfinite (buffer.getSample (c, i)))
                    return false;
        return true;
    }

    double sampleRate;
    OrganProcessor processor;
    juce::AudioBuffer<float> buffer;
};

inline juce::MidiMessage cc (int controller, int value, int channel = 1)
{
    return juce::MidiMessage::controllerEvent (channel, controller, value);
}
