// bench: renders fixed scenarios through the built plug-in and, in the same run,
// through a reference tone-wheel organ hosted as LV2, and prints the real-time
// factor of each (seconds of audio per CPU second of the rendering thread).
//
//   bench [--plugin PATH] [--reference URI|none] [--seconds S] [--rounds N]

#include "MidiRenderer.h"
#include "SineKernel.h"

#include <iostream>

namespace
{
#ifndef BRASSGATE_DEFAULT_VST3
 #define BRASSGATE_DEFAULT_VST3 ""
#endif

constexpr double sampleRate = 48000.0; // Hz
constexpr int blockSize = 512;         // samples

struct Scenario
{
    const char* name;
    int organType;        // 0 "B3", 1 "FARFISA", 2 "VOX", 3 "CHURCH"
    bool allDrawbarsOut;  // otherwise the default registration
    bool fast;            // rotary speaker fast (otherwise the default, slow)
    std::vector<int> held; // notes held for the whole scenario
    bool phrase;          // eight overlapping notes a second
};

const std::vector<int> sixteenNotes { 36, 40, 43, 48, 52, 55, 60, 64, 67, 72, 76, 79, 84, 88, 91, 96 };

const Scenario scenarios[] = {
    { "idle", 0, false, false, {}, false },
    { "chord4", 0, false, false, { 48, 55, 60, 64 }, false },
    { "full10", 0, true, true, { 36, 43, 50, 57, 64, 71, 78, 84, 90, 96 }, false },
    { "phrase", 0, false, false, {}, true },
    { "FARFISA", 1, false, false, sixteenNotes, false },
    { "VOX", 2, false, false, sixteenNotes, false },
    { "CHURCH", 3, false, false, sixteenNotes, false },
    // Not one of the fixed scenarios: the heaviest registration of the voice
    // organs, every drawbar sounding an oscillator of its own.
    { "CHURCH all", 3, true, false, sixteenNotes, false },
};

juce::MidiMessageSequence notesOf (const Scenario& s, double seconds)
{
    juce::MidiMessageSequence seq;
    for (int note : s.held)
    {
        seq.addEvent (juce::MidiMessage::noteOn (1, note, (juce::uint8) 100), 0.0);
        seq.addEvent (juce::MidiMessage::noteOff (1, note), seconds);
    }

    if (s.phrase)
    {
        // A note every 125 ms, each held 500 ms: four to five sound at any time.
        const int pattern[] = { 48, 55, 60, 64, 67, 72, 76, 79, 84, 79, 76, 72, 67, 64, 60, 55 };
        int i = 0;
        for (double t = 0.0; t + 0.5 <= seconds; t += 0.125, ++i)
        {
            const int note = pattern[i % 16] + (i / 16 % 3) * 2;
            seq.addEvent (juce::MidiMessage::noteOn (1, note, (juce::uint8) 100), t);
            seq.addEvent (juce::MidiMessage::noteOff (1, note), t + 0.5);
        }
    }

    // Keep the scenario its full length even without notes.
    seq.addEvent (juce::MidiMessage::controllerEvent (1, 110, 0), seconds);
    seq.updateMatchedPairs();
    seq.sort();
    return seq;
}

// Our instrument: the scenario's settings go in through the host's parameters.
void configureOurs (juce::AudioPluginInstance& plugin, const Scenario& s)
{
    auto set = [&] (const juce::String& name, float normalised)
    {
        for (auto* p : plugin.getParameters())
            if (p->getName (100) == name)
                p->setValueNotifyingHost (normalised);
    };

    set ("Organ Type", (float) s.organType / 3.0f);
    if (s.allDrawbarsOut)
        for (auto* name : { "16'", "5-1/3'", "8'", "4'", "2-2/3'", "2'", "1-3/5'", "1-1/3'", "1'" })
            set (name, 1.0f);
    set ("Leslie Speed", s.fast ? 0.85f : 0.15f);
    set ("Chorus/Vibrato", 0.3f); // chorus on
}

// The reference organ takes its drawbars as controllers 70 to 78 (0 fully out) and
// switches its rotary speaker fast with controller 1.
juce::MidiMessageSequence withReferenceControllers (juce::MidiMessageSequence seq, const Scenario& s)
{
    if (s.allDrawbarsOut)
        for (int c = 70; c <= 78; ++c)
            seq.addEvent (juce::MidiMessage::controllerEvent (1, c, 0), 0.0);
    seq.addEvent (juce::MidiMessage::controllerEvent (1, 1, s.fast ? 127 : 0), 0.0);
    seq.sort();
    return seq;
}

double realTimeFactor (const MidiRenderer::Result& r)
{
    return (r.audio.getNumSamples() / sampleRate) / juce::jmax (1.0e-9, r.cpuSeconds);
}
} // namespace

int main (int argc, char* argv[])
{
    juce::ScopedJuceInitialiser_GUI juce;

    juce::String plugin (BRASSGATE_DEFAULT_VST3), reference ("http://gareus.org/oss/lv2/b_synth");
    double seconds = 20.0;
    int rounds = 3;

    const char* usage = "usage: bench [--plugin PATH] [--reference URI|none] [--seconds S] [--rounds N]\n"
                        "  renders the fixed scenarios through the plug-in (default: the VST3 built with this\n"
                        "  tool) and the reference organ (default: setBfree's LV2 organ; none to skip it), S\n"
                        "  seconds each (1 to 600, default 20), N alternating rounds (1 to 20, default 3),\n"
                        "  and prints the real-time factors\n";

    for (int i = 1; i < argc; i += 2)
    {
        const juce::String arg (argv[i]);
        if (arg == "--help" || arg == "-h")
        {
            std::cout << usage;
            return 0;
        }
        if (arg != "--plugin" && arg != "--reference" && arg != "--seconds" && arg != "--rounds")
        {
            std::cerr << "bench: unknown option " << arg << "\n" << usage;
            return 2;
        }
        if (i + 1 >= argc)
        {
            std::cerr << "bench: " << arg << " needs a value\n" << usage;
            return 2;
        }

        const juce::String value (argv[i + 1]);
        if (arg == "--plugin") plugin = value;
        else if (arg == "--reference") reference = value;
        else if (arg == "--seconds") seconds = juce::jlimit (1.0, 600.0, value.getDoubleValue());
        else rounds = juce::jlimit (1, 20, value.getIntValue());
    }

    MidiRenderer::Settings settings;
    settings.sampleRate = sampleRate;
    settings.blockSize = blockSize;
    settings.channels = 2;
    settings.tailSeconds = 0.0;

    juce::String error, referenceError;
    bool referenceUsable = reference != "none";

    std::cout << "Real-time factor (seconds of audio per CPU second, one thread), " << sampleRate / 1000.0
              << " kHz, " << blockSize << "-sample blocks, " << seconds << " s per scenario, best of " << rounds
              << " alternating rounds\n";
    // The plug-in picks the same instruction set for its engines on this processor.
    std::cout << "Engines' instruction set here: " << sinekernel::instructionSetName() << "\n\n";
    std::cout << juce::String ("scenario").paddedRight (' ', 11) << juce::String ("ours").paddedLeft (' ', 10)
              << juce::String ("reference").paddedLeft (' ', 12) << juce::String ("ratio").paddedLeft (' ', 8) << "\n";

    for (const auto& s : scenarios)
    {
        const auto seq = notesOf (s, seconds);

        // Ours and the reference take turns, round after round; each keeps its
        // fastest round, the one least disturbed by whatever else the machine ran.
        double ourFactor = 0.0, refFactor = 0.0;
        float ourPeak = 0.0f, refPeak = 0.0f;

        for (int round = 0; round < rounds; ++round)
        {
            auto ours = MidiRenderer::loadPlugin (plugin, settings, error);
            if (ours == nullptr)
            {
                std::cerr << "bench: " << error << "\n";
                return 1;
            }
            configureOurs (*ours, s);
            const auto ourResult = MidiRenderer::render (*ours, seq, settings);
            ours.reset();
            ourFactor = juce::jmax (ourFactor, realTimeFactor (ourResult));
            ourPeak = ourResult.peak;

            if (referenceUsable)
            {
                auto ref = MidiRenderer::loadPlugin (reference, settings, referenceError);
                if (ref == nullptr)
                {
                    referenceUsable = false;
                }
                else
                {
                    const auto refResult = MidiRenderer::render (*ref, withReferenceControllers (seq, s), settings);
                    refFactor = juce::jmax (refFactor, realTimeFactor (refResult));
                    refPeak = refResult.peak;
                }
            }
        }

        juce::String referenceColumn ("-"), ratioColumn ("-"), referencePeak;
        if (referenceUsable)
        {
            referenceColumn = juce::String (refFactor, 1);
            ratioColumn = juce::String (ourFactor / refFactor, 2);
            referencePeak = ", reference " + juce::String (juce::Decibels::gainToDecibels (refPeak), 1);
        }

        std::cout << juce::String (s.name).paddedRight (' ', 11) << juce::String (ourFactor, 1).paddedLeft (' ', 10)
                  << referenceColumn.paddedLeft (' ', 12) << ratioColumn.paddedLeft (' ', 8)
                  << "    (peak dBFS: ours " << juce::String (juce::Decibels::gainToDecibels (ourPeak), 1)
                  << referencePeak << ")" << std::endl;
    }

    if (reference != "none" && ! referenceUsable)
        std::cout << "\nThe reference organ could not be loaded: " << referenceError << "\n";
    else if (referenceUsable)
        std::cout << "\nreference: " << reference << " (LV2), the same MIDI; ratio = ours / reference\n";
    return 0;
}
