#pragma once

#include <juce_audio_formats/juce_audio_formats.h>
#include <juce_audio_processors/juce_audio_processors.h>

// Loads a plug-in the way a DAW does and plays a MIDI sequence through it.
namespace MidiRenderer
{
struct Settings
{
    double sampleRate = 48000.0; // Hz
    int blockSize = 512;         // samples
    int channels = 2;
    double tailSeconds = 2.0;    // rendered after the last MIDI event

    // The times are read once around the whole run instead of around each
    // block: the host's own loop then counts, but no clock reading does. A
    // reading of the thread's CPU clock is a system call, and right after a
    // block it costs more than the back-to-back readings that are subtracted,
    // which weighs on a fast plug-in in small blocks far more than on a slow one.
    bool timeWholeRun = false;
};

struct Result
{
    juce::AudioBuffer<float> audio;
    double processSeconds = 0.0; // wall-clock time spent inside processBlock (or the whole run)
    double cpuSeconds = 0.0;     // CPU time of the rendering thread spent inside processBlock (or the whole run)
    float peak = 0.0f;           // linear
    float rms = 0.0f;            // linear, over all channels
};

// A VST3 bundle (a path). Returns null and sets `error` on failure. (LV2
// plug-ins are hosted by Lv2Host.)
std::unique_ptr<juce::AudioPluginInstance> loadPlugin (const juce::String& pathOrUri,
                                                      const Settings& settings,
                                                      juce::String& error);

// All tracks of a Standard MIDI File merged into one sequence with times in seconds.
bool readMidiFile (const juce::File& file, juce::MidiMessageSequence& sequence, juce::String& error);

// Plays the sequence through the plug-in. `progress` (may be empty) gets 0 to 1.
Result render (juce::AudioPluginInstance& plugin,
               const juce::MidiMessageSequence& sequence,
               const Settings& settings,
               const std::function<void (double)>& progress = {});

// CPU time of the calling thread, seconds: unlike wall-clock time it does not
// count the moments another process had the core.
double threadCpuSeconds();

// The calling thread's CPU time since `start` (a threadCpuSeconds reading),
// less what reading that clock itself costs (a system call, about a
// microsecond here, measured once per process): per block, that cost would
// otherwise weigh on a fast plug-in in small blocks more than on a slow one.
double cpuSecondsSince (double start);

// Calls progress (if any) with doneSamples / totalSamples, in steps of 5 % and at the end.
void reportProgress (const std::function<void (double)>& progress, int64_t doneSamples, int64_t totalSamples, double& lastReport);

// Sets the result's peak and RMS level from its audio.
void measureLevels (Result& result);

bool writeWav (const juce::File& file, const juce::AudioBuffer<float>& audio, double sampleRate, juce::String& error);
} // namespace MidiRenderer
