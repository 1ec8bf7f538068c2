#include "MidiRenderer.h"

#include <algorithm>
#include <ctime>
#include <vector>

namespace MidiRenderer
{
double threadCpuSeconds()
{
    timespec t {};
    clock_gettime (CLOCK_THREAD_CPUTIME_ID, &t);
    return (double) t.tv_sec + (double) t.tv_nsec * 1.0e-9;
}

double cpuSecondsSince (double start)
{
    const double end = threadCpuSeconds();

    // The median of many back-to-back readings: the time one reading adds
    // to the interval between two. Worked out once, after the first interval
    // has closed.
    static const double readingCost = [] {
        std::vector<double> costs (2001);
        for (auto& c : costs)
        {
            const double a = threadCpuSeconds();
            c = threadCpuSeconds() - a;
        }
        std::nth_element (costs.begin(), costs.begin() + 1000, costs.end());
        return costs[1000];
    }();
    return std::max (0.0, end - start - readingCost);
}

void reportProgress (const std::function<void (double)>& progress, int64_t doneSamples, int64_t totalSamples, double& lastReport)
{
    if (! progress)
        return;

    const double done = (double) doneSamples / (double) totalSamples;
    if (done - lastReport >= 0.05 || done >= 1.0)
    {
        progress (done);
        lastReport = done;
    }
}

std::unique_ptr<juce::AudioPluginInstance> loadPlugin (const juce::String& pathOrUri,
                                                      const Settings& settings,
                                                      juce::String& error)
{
    // LV2 plug-ins (named by their URIs) are hosted by Lv2Host instead: JUCE
    // 7.0.5's LV2 hosting leaves some instruments silent after their first block.
    if (pathOrUri.contains ("://"))
    {
        error = "an LV2 plug-in is hosted by Lv2Host, not here";
        return nullptr;
    }

    juce::AudioPluginFormatManager formats;
    formats.addFormat (new juce::VST3PluginFormat());
    const auto file = juce::File::getCurrentWorkingDirectory().getChildFile (pathOrUri);
    if (! file.exists())
    {
        error = "no plug-in at " + file.getFullPathName();
        return nullptr;
    }
    const juce::String identifier = file.getFullPathName();

    juce::OwnedArray<juce::PluginDescription> found;
    formats.getFormat (0)->findAllTypesForFile (found, identifier);

    if (found.isEmpty())
    {
        error = "no plug-in found for " + pathOrUri;
        return nullptr;
    }

    auto instance = formats.createPluginInstance (*found[0], settings.sampleRate, settings.blockSize, error);
    if (instance == nullptr)
        return nullptr;

    // Ask for the requested channel count; a plug-in that refuses it keeps its own layout.
    auto layout = instance->getBusesLayout();
    if (! layout.outputBuses.isEmpty())
    {
        layout.outputBuses.getReference (0) = juce::AudioChannelSet::canonicalChannelSet (settings.channels);
        instance->setBusesLayout (layout);
    }

    instance->setRateAndBufferSizeDetails (settings.sampleRate, settings.blockSize);
    instance->prepareToPlay (settings.sampleRate, settings.blockSize);
    return instance;
}

bool readMidiFile (const juce::File& file, juce::MidiMessageSequence& sequence, juce::String& error)
{
    juce::FileInputStream in (file);
    juce::MidiFile midi;

    if (! in.openedOk() || ! midi.readFrom (in))
    {
        error = "cannot read the MIDI file " + file.getFullPathName();
        return false;
    }

    midi.convertTimestampTicksToSeconds();
    sequence.clear();
    for (int t = 0; t < midi.getNumTracks(); ++t)
        sequence.addSequence (*midi.getTrack (t), 0.0);
    sequence.updateMatchedPairs();
    return true;
}

Result render (juce::AudioPluginInstance& plugin,
               const juce::MidiMessageSequence& sequence,
               const Settings& settings,
               const std::function<void (double)>& progress)
{
    const double endSeconds = (sequence.getNumEvents() > 0 ? sequence.getEndTime() : 0.0) + settings.tailSeconds;
    const auto totalSamples = (int64_t) std::ceil (endSeconds * settings.sampleRate);
    const int processChannels = juce::jmax (settings.channels,
                                            plugin.getTotalNumOutputChannels(),
                                            plugin.getTotalNumInputChannels());

    Result result;
    result.audio.setSize (settings.channels, (int) totalSamples);
    result.audio.clear();

    juce::AudioBuffer<float> block (processChannels, settings.blockSize);
    juce::MidiBuffer midi;
    int nextEvent = 0;
    double lastReport = -1.0;
    const bool timeBlocks = ! settings.timeWholeRun;
    const auto runStart = juce::Time::getHighResolutionTicks();
    const auto runCpuStart = threadCpuSeconds();

    for (int64_t start = 0; start < totalSamples; start += settings.blockSize)
    {
        const int numSamples = (int) juce::jmin ((int64_t) settings.blockSize, totalSamples - start);

        // Each event's sample is worked out once, the same way whatever the
        // block size, so that it lands on the same sample in every render.
        midi.clear();
        while (nextEvent < sequence.getNumEvents())
        {
            const auto& message = sequence.getEventPointer (nextEvent)->message;
            const auto eventSample = (int64_t) std::floor (message.getTimeStamp() * settings.sampleRate);
            if (eventSample >= start + numSamples)
                break;

            if (! message.isMetaEvent())
                midi.addEvent (message, (int) juce::jmax ((int64_t) 0, eventSample - start));
            ++nextEvent;
        }

        block.setSize (processChannels, numSamples, false, false, true);
        block.clear();

        if (timeBlocks)
        {
            const auto t0 = juce::Time::getHighResolutionTicks();
            const auto cpu0 = threadCpuSeconds();
            plugin.processBlock (block, midi);
            result.cpuSeconds += cpuSecondsSince (cpu0);
            result.processSeconds += juce::Time::highResolutionTicksToSeconds (juce::Time::getHighResolutionTicks() - t0);
        }
        else
        {
            plugin.processBlock (block, midi);
        }

        for (int c = 0; c < settings.channels; ++c)
            result.audio.copyFrom (c, (int) start, block, juce::jmin (c, processChannels - 1), 0, numSamples);

        MidiRenderer::reportProgress (progress, start + numSamples, totalSamples, lastReport);
    }

    if (! timeBlocks)
    {
        result.cpuSeconds = cpuSecondsSince (runCpuStart);
        result.processSeconds = juce::Time::highResolutionTicksToSeconds (juce::Time::getHighResolutionTicks() - runStart);
    }
    measureLevels (result);
    return result;
}

void measureLevels (Result& result)
{
    const int channels = result.audio.getNumChannels();
    const int samples = result.audio.getNumSamples();
    double sumSquares = 0.0;
    result.peak = 0.0f;
    for (int c = 0; c < channels; ++c)
    {
        result.peak = juce::jmax (result.peak, result.audio.getMagnitude (c, 0, samples));
        const float* data = result.audio.getReadPointer (c);
        for (int i = 0; i < samples; ++i)
            sumSquares += (double) data[i] * data[i];
    }

    const double count = (double) samples * channels;
    result.rms = count > 0 ? (float) std::sqrt (sumSquares / count) : 0.0f;
}

bool writeWav (const juce::File& file, const juce::AudioBuffer<float>& audio, double sampleRate, juce::String& error)
{
    file.deleteFile();
    auto stream = std::make_unique<juce::FileOutputStream> (file);
    if (! stream->openedOk())
    {
        error = "cannot write " + file.getFullPathName();
        return false;
    }

    // 32-bit float: the instrument may peak above full scale, and a host's mixer
    // would not clip it either.
    juce::WavAudioFormat wav;
    std::unique_ptr<juce::AudioFormatWriter> writer (
        wav.createWriterFor (stream.get(), sampleRate, (unsigned int) audio.getNumChannels(), 32, {}, 0));
    if (writer == nullptr)
    {
        error = "cannot create a WAV writer";
        return false;
    }

    stream.release(); // the writer owns the stream now
    return writer->writeFromAudioSampleBuffer (audio, 0, audio.getNumSamples());
}
} // namespace MidiRenderer
