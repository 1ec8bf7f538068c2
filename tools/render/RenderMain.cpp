// render: plays a Standard MIDI File through a plug-in and writes a WAV.
//
//   render [--plugin PATH|URI] [--midi FILE] [--out FILE] [--rate HZ] [--block N]
//          [--channels N] [--tail SECONDS] [--set "PARAMETER NAME=NORMALISED VALUE"]... [--quiet]
//
// Prints the output's peak and RMS level and the real-time factor (seconds of
// audio per second spent inside the plug-in's processBlock).

#include "MidiRenderer.h"

#include <iostream>

namespace
{
#ifndef BRASSGATE_DEFAULT_VST3
 #define BRASSGATE_DEFAULT_VST3 ""
#endif

void usage()
{
    std::cerr << "usage: render [--plugin PATH|URI] [--midi FILE] [--out FILE] [--rate HZ] [--block N]\n"
                 "              [--channels N] [--tail SECONDS] [--set \"NAME=VALUE 0..1\"]... [--quiet]\n"
                 "defaults: the VST3 built with this tool, demo/demo.mid, render.wav, 48000 Hz,\n"
                 "          512-sample blocks, 2 channels, 2 s of tail\n";
}

float decibels (float gain) { return juce::Decibels::gainToDecibels (gain, -200.0f); }
} // namespace

int main (int argc, char* argv[])
{
    juce::ScopedJuceInitialiser_GUI juce;

    juce::String plugin (BRASSGATE_DEFAULT_VST3), midiPath ("demo/demo.mid"), outPath ("render.wav");
    MidiRenderer::Settings settings;
    bool quiet = false;
    juce::StringPairArray parameterSettings;

    for (int i = 1; i < argc; ++i)
    {
        const juce::String arg (argv[i]);
        const bool hasValue = i + 1 < argc;
        auto value = [&] { return juce::String (argv[++i]); };

        if (arg == "--plugin" && hasValue) plugin = value();
        else if (arg == "--midi" && hasValue) midiPath = value();
        else if (arg == "--out" && hasValue) outPath = value();
        else if (arg == "--rate" && hasValue) settings.sampleRate = value().getDoubleValue();
        else if (arg == "--block" && hasValue) settings.blockSize = value().getIntValue();
        else if (arg == "--channels" && hasValue) settings.channels = value().getIntValue();
        else if (arg == "--tail" && hasValue) settings.tailSeconds = value().getDoubleValue();
        else if (arg == "--set" && hasValue && value().containsChar ('='))
            parameterSettings.set (juce::String (argv[i]).upToLastOccurrenceOf ("=", false, false),
                                   juce::String (argv[i]).fromLastOccurrenceOf ("=", false, false));
        else if (arg == "--quiet") quiet = true;
        else { usage(); return 2; }
    }

    if (settings.sampleRate < 1000.0 || settings.sampleRate > 1.0e6 || settings.blockSize < 1
        || settings.blockSize > 1 << 20 || settings.channels < 1 || settings.channels > 8
        || settings.tailSeconds < 0.0 || settings.tailSeconds > 600.0)
    {
        std::cerr << "render: rate must be 1000 to 1000000 Hz, block 1 to 1048576, channels 1 to 8, tail 0 to 600 s\n";
        return 2;
    }

    const auto cwd = juce::File::getCurrentWorkingDirectory();
    juce::String error;
    juce::MidiMessageSequence sequence;
    if (! MidiRenderer::readMidiFile (cwd.getChildFile (midiPath), sequence, error))
    {
        std::cerr << "render: " << error << "\n";
        return 1;
    }

    auto instance = MidiRenderer::loadPlugin (plugin, settings, error);
    if (instance == nullptr)
    {
        std::cerr << "render: " << error << "\n";
        return 1;
    }

    // Parameters by their names as the host shows them, with normalised values.
    for (const auto& name : parameterSettings.getAllKeys())
    {
        bool found = false;
        for (auto* p : instance->getParameters())
            if (p->getName (100) == name)
            {
                p->setValueNotifyingHost (juce::jlimit (0.0f, 1.0f, parameterSettings[name].getFloatValue()));
                found = true;
            }

        if (! found)
        {
            std::cerr << "render: the plug-in has no parameter named \"" << name << "\"\n";
            return 2;
        }
    }

    const double seconds = sequence.getEndTime() + settings.tailSeconds;
    if (! quiet)
        std::cout << "Rendering " << midiPath << " (" << juce::String (seconds, 1) << " s) through "
                  << instance->getName() << " at " << settings.sampleRate << " Hz, " << settings.blockSize
                  << "-sample blocks, " << settings.channels << " channel(s)" << std::endl;

    std::function<void (double)> progress;
    if (! quiet && seconds > 5.0)
        progress = [] (double done) { std::cerr << "\r  " << juce::roundToInt (done * 100.0) << " %" << std::flush; };

    const auto result = MidiRenderer::render (*instance, sequence, settings, progress);
    if (progress)
        std::cerr << "\n";

    instance->releaseResources();
    instance.reset();

    if (! MidiRenderer::writeWav (cwd.getChildFile (outPath), result.audio, settings.sampleRate, error))
    {
        std::cerr << "render: " << error << "\n";
        return 1;
    }

    const double audioSeconds = result.audio.getNumSamples() / settings.sampleRate;
    std::cout << "Wrote " << cwd.getChildFile (outPath).getFullPathName() << "\n"
              << "  peak " << juce::String (decibels (result.peak), 1) << " dBFS, RMS "
              << juce::String (decibels (result.rms), 1) << " dBFS\n"
              << "  real-time factor " << juce::String (audioSeconds / juce::jmax (1.0e-9, result.processSeconds), 1)
              << " (" << juce::String (audioSeconds, 2) << " s of audio in "
              << juce::String (result.processSeconds, 3) << " s)" << std::endl;
    return 0;
}
