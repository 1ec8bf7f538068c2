// render: plays a Standard MIDI File through a plug-in and writes a WAV.
//
//   render [--plugin PATH|URI] [--midi FILE] [--out FILE] [--rate HZ] [--block N]
//          [--channels N] [--tail SECONDS] [--set "PARAMETER NAME=NORMALISED VALUE"]... [--quiet] [--help]
//
// --help also lists the plug-in's parameters with their choices or ranges. Bad
// arguments exit with 2, a file or plug-in that cannot be read with 1. A VST3 is
// hosted through JUCE, an LV2 plug-in (named by its URI) through lilv.
//
// Prints the output's peak and RMS level and the real-time factor (seconds of
// audio per second spent inside the plug-in's processBlock).

#include "Lv2Host.h"
#include "MidiRenderer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <vector>

namespace
{
#ifndef BRASSGATE_DEFAULT_VST3
 #define BRASSGATE_DEFAULT_VST3 ""
#endif

void usage (std::ostream& out)
{
    out << "usage: render [--plugin PATH|URI] [--midi FILE] [--out FILE] [--rate HZ] [--block N]\n"
           "              [--channels N] [--tail SECONDS] [--set \"NAME=VALUE\"]... [--quiet] [--help]\n"
           "defaults: the VST3 built with this tool, demo/demo.mid, render.wav, 48000 Hz,\n"
           "          512-sample blocks, 2 channels, 2 s of tail\n"
           "--set sets a parameter by the name the host shows to a normalised VALUE, 0 to 1\n";
}

float decibels (float gain) { return juce::Decibels::gainToDecibels (gain, -200.0f); }

// The parameters of a loaded plug-in, each with its choices or its range as the
// normalised values --set takes.
void listParameters (juce::AudioPluginInstance& instance)
{
    std::cout << "\nparameters of " << instance.getName() << ":\n";
    for (auto* p : instance.getParameters())
    {
        // The VST3 wrapper's hidden controller parameters are no one's to set.
        if (! p->isAutomatable())
            continue;

        std::cout << "  \"" << p->getName (100) << "\": ";
        const int steps = p->getNumSteps();
        if (p->isDiscrete() && steps > 1 && steps <= 8)
        {
            for (int k = 0; k < steps; ++k)
            {
                const float value = (float) k / (float) (steps - 1);
                std::cout << (k > 0 ? ", " : "") << p->getText (value, 100) << " = " << juce::String (value, 4);
            }
        }
        else
        {
            const auto label = p->getLabel().isEmpty() ? juce::String() : " " + p->getLabel();
            std::cout << p->getText (0.0f, 100) << label << " at 0 to " << p->getText (1.0f, 100) << label << " at 1";
        }
        std::cout << "\n";
    }
}

// Edits between two names, ignoring case.
int distance (const juce::String& a, const juce::String& b)
{
    const auto x = a.toLowerCase(), y = b.toLowerCase();
    std::vector<int> row ((size_t) y.length() + 1);
    for (int j = 0; j <= y.length(); ++j)
        row[(size_t) j] = j;
    for (int i = 1; i <= x.length(); ++i)
    {
        int diagonal = row[0];
        row[0] = i;
        for (int j = 1; j <= y.length(); ++j)
        {
            const int above = row[(size_t) j];
            row[(size_t) j] = std::min ({ above + 1, row[(size_t) j - 1] + 1, diagonal + (x[i - 1] == y[j - 1] ? 0 : 1) });
            diagonal = above;
        }
    }
    return row.back();
}

// The three parameter names nearest to `name`, quoted.
juce::String closestNames (juce::AudioPluginInstance& instance, const juce::String& name)
{
    std::vector<std::pair<int, juce::String>> names;
    for (auto* p : instance.getParameters())
        if (p->isAutomatable())
            names.emplace_back (distance (name, p->getName (100)), p->getName (100));
    std::stable_sort (names.begin(), names.end(), [] (const auto& a, const auto& b) { return a.first < b.first; });

    juce::StringArray nearest;
    for (size_t i = 0; i < names.size() && i < 3; ++i)
        nearest.add ("\"" + names[i].second + "\"");
    return nearest.joinIntoString (", ");
}

// A whole, finite number, or nothing.
std::optional<double> numberIn (const juce::String& text)
{
    const auto trimmed = text.trim();
    char* end = nullptr;
    const double value = std::strtod (trimmed.toRawUTF8(), &end);
    if (trimmed.isEmpty() || end == nullptr || *end != 0 || ! std::isfinite (value))
        return std::nullopt;
    return value;
}
// Writes the WAV and prints its levels and the real-time factor; false if the file cannot be written.
bool report (const juce::File& out, const MidiRenderer::Result& result, const MidiRenderer::Settings& settings)
{
    juce::String error;
    if (! MidiRenderer::writeWav (out, result.audio, settings.sampleRate, error))
    {
        std::cerr << "render: " << error << "\n";
        return false;
    }

    const double audioSeconds = result.audio.getNumSamples() / settings.sampleRate;
    std::cout << "Wrote " << out.getFullPathName() << "\n"
              << "  peak " << juce::String (decibels (result.peak), 1) << " dBFS, RMS "
              << juce::String (decibels (result.rms), 1) << " dBFS\n"
              << "  real-time factor " << juce::String (audioSeconds / juce::jmax (1.0e-9, result.processSeconds), 1)
              << " (" << juce::String (audioSeconds, 2) << " s of audio in "
              << juce::String (result.processSeconds, 3) << " s)" << std::endl;
    return true;
}
} // namespace

int main (int argc, char* argv[])
{
    juce::ScopedJuceInitialiser_GUI juce;

    juce::String plugin (BRASSGATE_DEFAULT_VST3), midiPath ("demo/demo.mid"), outPath ("render.wav");
    MidiRenderer::Settings settings;
    bool quiet = false, help = false;
    std::vector<std::pair<juce::String, float>> parameterSettings;

    for (int i = 1; i < argc; ++i)
    {
        const juce::String arg (argv[i]);

        if (arg == "--help" || arg == "-h") { help = true; continue; }
        if (arg == "--quiet") { quiet = true; continue; }

        const bool takesValue = arg == "--plugin" || arg == "--midi" || arg == "--out" || arg == "--rate" || arg == "--block"
                             || arg == "--channels" || arg == "--tail" || arg == "--set";
        if (! takesValue)
        {
            std::cerr << "render: unknown option " << arg << "\n";
            usage (std::cerr);
            return 2;
        }
        if (i + 1 >= argc)
        {
            std::cerr << "render: " << arg << " needs a value\n";
            usage (std::cerr);
            return 2;
        }

        const juce::String value (argv[++i]);
        if (arg == "--plugin") plugin = value;
        else if (arg == "--midi") midiPath = value;
        else if (arg == "--out") outPath = value;
        else if (arg == "--rate") settings.sampleRate = value.getDoubleValue();
        else if (arg == "--block") settings.blockSize = value.getIntValue();
        else if (arg == "--channels") settings.channels = value.getIntValue();
        else if (arg == "--tail") settings.tailSeconds = value.getDoubleValue();
        else
        {
            if (! value.containsChar ('='))
            {
                std::cerr << "render: --set takes \"NAME=VALUE\", not \"" << value << "\"\n";
                return 2;
            }
            const auto name = value.upToLastOccurrenceOf ("=", false, false);
            const auto text = value.fromLastOccurrenceOf ("=", false, false);
            const auto number = numberIn (text);
            if (! number)
            {
                std::cerr << "render: the value \"" << text << "\" for \"" << name << "\" is not a number\n";
                return 2;
            }
            if (*number < 0.0 || *number > 1.0)
            {
                std::cerr << "render: the value " << text << " for \"" << name
                          << "\" lies outside 0 to 1 (values are normalised; render --help lists them)\n";
                return 2;
            }
            parameterSettings.emplace_back (name, (float) *number);
        }
    }

    if (help)
    {
        usage (std::cout);
        juce::String error;
        std::vector<Lv2Host::ControlPort> ports;
        if (Lv2Host::isUri (plugin))
        {
            if (Lv2Host::controlPorts (plugin, ports, error))
            {
                std::cout << "\ncontrol ports of " << plugin << " (0 to 1 spans each range; parameters the plug-in\n"
                             "takes as patch messages are not among them):\n";
                for (const auto& c : ports)
                    std::cout << "  \"" << c.name << "\" (" << c.symbol << "): " << c.minimum << " to " << c.maximum
                              << ", default " << c.defaultValue << "\n";
            }
            else
            {
                std::cout << "\n(the controls of " << plugin << " cannot be listed: " << error << ")\n";
            }
        }
        else if (auto instance = MidiRenderer::loadPlugin (plugin, settings, error))
            listParameters (*instance);
        else
            std::cout << "\n(the parameters of " << plugin << " cannot be listed: " << error << ")\n";
        return 0;
    }

    if (settings.sampleRate < 1000.0 || settings.sampleRate > 1.0e6 || settings.blockSize < 1
        || settings.blockSize > 1 << 20 || settings.channels < 1 || settings.channels > 8
        || settings.tailSeconds < 0.0 || settings.tailSeconds > 600.0)
    {
        std::cerr << "render: rate must be 1000 to 1000000 Hz, block 1 to 1048576, channels 1 to 8, tail 0 to 600 s\n";
        return 2;
    }

    const auto cwd = juce::File::getCurrentWorkingDirectory();
    const auto midiFile = cwd.getChildFile (midiPath);
    if (! midiFile.existsAsFile())
    {
        std::cerr << "render: there is no file " << midiFile.getFullPathName() << "\n";
        return 1;
    }

    juce::String error;
    juce::MidiMessageSequence sequence;
    if (! MidiRenderer::readMidiFile (midiFile, sequence, error))
    {
        std::cerr << "render: " << midiFile.getFullPathName() << " is not a Standard MIDI File that can be read\n";
        return 1;
    }

    const double seconds = sequence.getEndTime() + settings.tailSeconds;
    std::function<void (double)> progress;
    if (! quiet && seconds > 5.0)
        progress = [] (double done) { std::cerr << "\r  " << juce::roundToInt (done * 100.0) << " %" << std::flush; };

    MidiRenderer::Result result;
    if (Lv2Host::isUri (plugin))
    {
        if (! quiet)
            std::cout << "Rendering " << midiPath << " (" << juce::String (seconds, 1) << " s) through " << plugin << " at "
                      << settings.sampleRate << " Hz, " << settings.blockSize << "-sample blocks, " << settings.channels
                      << " channel(s)" << std::endl;
        if (! Lv2Host::render (plugin, sequence, settings, parameterSettings, result, error, progress))
        {
            std::cerr << "render: " << error << "\n";
            return error.contains ("no control named") ? 2 : 1;
        }
        if (progress)
            std::cerr << "\n";
        return report (cwd.getChildFile (outPath), result, settings) ? 0 : 1;
    }

    auto instance = MidiRenderer::loadPlugin (plugin, settings, error);
    if (instance == nullptr)
    {
        std::cerr << "render: " << error << "\n";
        return 1;
    }

    // Parameters by their names as the host shows them, with normalised values.
    for (const auto& [name, value] : parameterSettings)
    {
        bool found = false;
        for (auto* p : instance->getParameters())
            if (p->getName (100) == name)
            {
                p->setValueNotifyingHost (value);
                found = true;
            }

        if (! found)
        {
            std::cerr << "render: the plug-in has no parameter named \"" << name << "\"; the closest are "
                      << closestNames (*instance, name) << "\n";
            return 2;
        }
    }

    if (! quiet)
        std::cout << "Rendering " << midiPath << " (" << juce::String (seconds, 1) << " s) through "
                  << instance->getName() << " at " << settings.sampleRate << " Hz, " << settings.blockSize
                  << "-sample blocks, " << settings.channels << " channel(s)" << std::endl;

    result = MidiRenderer::render (*instance, sequence, settings, progress);
    if (progress)
        std::cerr << "\n";

    instance->releaseResources();
    instance.reset();

    return report (cwd.getChildFile (outPath), result, settings) ? 0 : 1;
}
