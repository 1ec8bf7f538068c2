// bench: renders fixed scenarios through the built plug-in and, in the same run,
// through a peer organ hosted as LV2 by lilv (setBfree's tone-wheel organ for
// "B3", the foo-yc20 combo organ for the voice organs), and prints the
// real-time factor of each (seconds of audio per CPU second of the rendering
// thread) with both sides' output levels. A side that falls silent while its
// notes are held gives an error, not a figure.
//
//   bench [--plugin PATH] [--reference none] [--seconds S] [--rounds N] [--instruction-set NAME] [--only NAMES]

#include "Lv2Host.h"
#include "MidiRenderer.h"
#include "SineKernel.h"

#include <hwy/targets.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iostream>

namespace
{
#ifndef BRASSGATE_DEFAULT_VST3
 #define BRASSGATE_DEFAULT_VST3 ""
#endif

constexpr double sampleRate = 48000.0; // Hz
constexpr int blockSize = 512;         // samples, through the VST3
constexpr int smallBlockSize = 64;     // samples, both organs through lilv

const juce::String toneWheelPeer ("http://gareus.org/oss/lv2/b_synth");
const juce::String comboPeer ("http://studionumbersix.com/foo/lv2/yc20");

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

std::vector<int> everyKey()
{
    std::vector<int> keys;
    for (int note = 36; note <= 96; ++note)
        keys.push_back (note);
    return keys;
}

const Scenario scenarios[] = {
    { "idle", 0, false, false, {}, false },
    { "chord4", 0, false, false, { 48, 55, 60, 64 }, false },
    { "full10", 0, true, true, { 36, 43, 50, 57, 64, 71, 78, 84, 90, 96 }, false },
    { "phrase", 0, false, false, {}, true },
    // The heaviest load of the tone-wheel organ: all 61 keys, every drawbar out.
    { "B3 all61", 0, true, true, everyKey(), false },
    { "FARFISA", 1, false, false, sixteenNotes, false },
    { "VOX", 2, false, false, sixteenNotes, false },
    { "CHURCH", 3, false, false, sixteenNotes, false },
    // The heaviest registration of the voice organs, every drawbar sounding an
    // oscillator of its own; the peer at its full registration too.
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

// Our LV2 takes its registration as MIDI, like the peer: the drawbars with
// controllers 41 to 49 (127 fully out) and the rotary speaker fast with
// controller 1; its other settings stay at their defaults (chorus 30 %).
juce::MidiMessageSequence withOurControllers (juce::MidiMessageSequence seq, const Scenario& s)
{
    if (s.allDrawbarsOut)
        for (int c = 41; c <= 49; ++c)
            seq.addEvent (juce::MidiMessage::controllerEvent (1, c, 127), 0.0);
    if (s.fast)
        seq.addEvent (juce::MidiMessage::controllerEvent (1, 1, 127), 0.0);
    seq.sort();
    return seq;
}

// The tone-wheel peer takes its drawbars as controllers 70 to 78 (0 fully out)
// and switches its rotary speaker fast with controller 1.
juce::MidiMessageSequence withPeerControllers (juce::MidiMessageSequence seq, const Scenario& s)
{
    if (s.organType == 0)
    {
        if (s.allDrawbarsOut)
            for (int c = 70; c <= 78; ++c)
                seq.addEvent (juce::MidiMessage::controllerEvent (1, c, 0), 0.0);
        seq.addEvent (juce::MidiMessage::controllerEvent (1, 1, s.fast ? 127 : 0), 0.0);
        seq.sort();
    }
    return seq;
}

// The combo peer's registration: its defaults, or every footage of both
// manuals and the bass out ("full registration").
std::vector<std::pair<juce::String, float>> peerControls (const Scenario& s)
{
    std::vector<std::pair<juce::String, float>> controls;
    if (s.organType != 0 && s.allDrawbarsOut)
        for (auto* symbol : { "b_16", "b_8", "i_16", "i_8", "i_4", "i_2_2p3", "i_2", "i_1_3p5", "i_1", "ii_16", "ii_8", "ii_4", "ii_2" })
            controls.emplace_back (symbol, 1.0f);
    return controls;
}

double realTimeFactor (const MidiRenderer::Result& r)
{
    return (r.audio.getNumSamples() / sampleRate) / juce::jmax (1.0e-9, r.cpuSeconds);
}

float decibels (float gain)
{
    return juce::Decibels::gainToDecibels (gain, -200.0f);
}

// The RMS level (linear) of the last second before the held notes end: an
// organ whose notes are held must still sound there.
float heldLevel (const MidiRenderer::Result& r, double seconds)
{
    const int end = juce::jmin (r.audio.getNumSamples(), (int) (seconds * sampleRate) - blockSize);
    const int start = juce::jmax (0, end - (int) sampleRate);
    double sum = 0.0;
    for (int c = 0; c < r.audio.getNumChannels(); ++c)
        for (int i = start; i < end; ++i)
            sum += (double) r.audio.getSample (c, i) * r.audio.getSample (c, i);
    const int count = (end - start) * r.audio.getNumChannels();
    return count > 0 ? (float) std::sqrt (sum / count) : 0.0f;
}

juce::String processorName()
{
    std::ifstream cpuinfo ("/proc/cpuinfo");
    std::string line;
    while (std::getline (cpuinfo, line))
        if (line.rfind ("model name", 0) == 0)
            return juce::String (line.substr (line.find (':') + 1)).trim();
    return "an unknown processor";
}

juce::String column (const juce::String& text, int width) { return text.paddedLeft (' ', width); }
} // namespace

int main (int argc, char* argv[])
{
    juce::ScopedJuceInitialiser_GUI juce;

    juce::String plugin (BRASSGATE_DEFAULT_VST3), instructionSet;
    juce::StringArray only;
    bool withPeers = true;
    double seconds = 20.0;
    int rounds = 3;

    const char* usage = "usage: bench [--plugin PATH] [--reference none] [--seconds S] [--rounds N] [--instruction-set NAME] [--only NAMES]\n"
                        "  renders the fixed scenarios through the plug-in (default: the VST3 built with this\n"
                        "  tool) and through the peer organs hosted as LV2 (setBfree for B3, foo-yc20 for the\n"
                        "  voice organs; none to skip them), S seconds each (1 to 600, default 20), N\n"
                        "  alternating rounds (1 to 20, default 3), and prints the real-time factors and levels.\n"
                        "  --instruction-set holds the engines to a narrower set than this processor's widest\n"
                        "  (AVX2, SSE4, ...), to measure what processors without the wider one get\n"
                        "  --only runs just the scenarios named, separated by commas (\"chord4,B3 all61\")\n";

    for (int i = 1; i < argc; i += 2)
    {
        const juce::String arg (argv[i]);
        if (arg == "--help" || arg == "-h")
        {
            std::cout << usage;
            return 0;
        }
        if (arg != "--plugin" && arg != "--reference" && arg != "--seconds" && arg != "--rounds" && arg != "--instruction-set" && arg != "--only")
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
        else if (arg == "--reference") withPeers = value != "none";
        else if (arg == "--seconds") seconds = juce::jlimit (1.0, 600.0, value.getDoubleValue());
        else if (arg == "--instruction-set") instructionSet = value;
        else if (arg == "--only") only = juce::StringArray::fromTokens (value, ",", "");
        else rounds = juce::jlimit (1, 20, value.getIntValue());
    }

    for (const auto& name : only)
    {
        if (std::none_of (std::begin (scenarios), std::end (scenarios), [&] (const Scenario& s) { return name == s.name; }))
        {
            std::cerr << "bench: there is no scenario " << name << "\n" << usage;
            return 2;
        }
    }

    // The engines in the plug-in share this process's SIMD library, so its
    // target mask holds them to the set named.
    if (instructionSet.isNotEmpty())
    {
        std::int64_t chosen = 0;
        juce::StringArray names;
        for (const auto target : hwy::SupportedAndGeneratedTargets())
        {
            names.add (hwy::TargetName (target));
            if (instructionSet.equalsIgnoreCase (hwy::TargetName (target)) || (instructionSet.equalsIgnoreCase ("AVX-512") && target == HWY_AVX3))
                chosen = target;
        }
        if (chosen == 0)
        {
            std::cerr << "bench: this processor runs none of the engines' instruction sets named " << instructionSet
                      << "; it runs " << names.joinIntoString (", ") << "\n";
            return 2;
        }
        hwy::SetSupportedTargetsForTest (chosen);
    }

    MidiRenderer::Settings settings;
    settings.sampleRate = sampleRate;
    settings.blockSize = blockSize;
    settings.channels = 2;
    settings.tailSeconds = 0.0;
    // JUCE's VST3 hosting does work of its own around each block, so there
    // the CPU time is read around each block. Through lilv the host's loop is
    // lean and the same for both organs, and a clock reading per 64 samples
    // would weigh on the faster organ, so the small blocks are timed as a whole run.
    MidiRenderer::Settings smallBlocks = settings;
    smallBlocks.blockSize = smallBlockSize;
    smallBlocks.timeWholeRun = true;

    // The freshly built LV2 is the one played: lilv reads its folder and the
    // system's, but not ~/.lv2, where an older copy may be installed (with two
    // copies of one plug-in, lilv may load either one's library).
    {
        const char* path = std::getenv ("LV2_PATH");
        const auto builtFolder = juce::File (BRASSGATE_DEFAULT_LV2).getParentDirectory().getFullPathName();
        const juce::String systemFolders ("/usr/lib/x86_64-linux-gnu/lv2:/usr/lib/aarch64-linux-gnu/lv2:/usr/lib/lv2:/usr/local/lib/lv2");
        setenv ("LV2_PATH", (builtFolder + ":" + (path != nullptr ? juce::String (path) : systemFolders)).toRawUTF8(), 1);
    }

    std::cout << "Real-time factor (seconds of audio per CPU second, one thread), " << sampleRate / 1000.0 << " kHz, " << seconds
              << " s per scenario, best of " << rounds << " alternating rounds\n";
    std::cout << "Processor: " << processorName() << "; engines' instruction set: " << sinekernel::instructionSetName() << "\n";

    bool anySilent = false;
    juce::StringArray peerErrors;

    // One table: every scenario (or, with small blocks, the tone-wheel ones),
    // ours through the VST3 in 512-sample blocks, or, with small blocks, ours
    // and the peer both as LV2 through lilv, as lean a host for each.
    auto table = [&] (bool small) -> bool
    {
        const auto& blocks = small ? smallBlocks : settings;
        std::cout << "\n" << blocks.blockSize << "-sample blocks; ours through " << (small ? "lilv (LV2)" : "JUCE's VST3 hosting")
                  << ", the peer through lilv (LV2); CPU time read " << (blocks.timeWholeRun ? "around the whole run" : "around each block")
                  << "\n";
        std::cout << juce::String ("scenario").paddedRight (' ', 11) << column ("ours", 8) << column ("peer", 8) << column ("ratio", 7)
                  << "    levels dBFS, peak / RMS: ours; peer\n";

        for (const auto& s : scenarios)
        {
            if ((! only.isEmpty() && ! only.contains (s.name)) || (small && s.organType != 0))
                continue;
            const auto seq = notesOf (s, seconds);
            const auto& peer = s.organType == 0 ? toneWheelPeer : comboPeer;
            bool peerUsable = withPeers;

            // Ours and the peer take turns, round after round; each keeps its
            // fastest round, the one least disturbed by whatever else the machine ran.
            double ourFactor = 0.0, peerFactor = 0.0;
            MidiRenderer::Result ours, theirs;

            for (int round = 0; round < rounds; ++round)
            {
                juce::String error;
                if (small)
                {
                    if (! Lv2Host::render (JucePlugin_LV2URI, withOurControllers (seq, s), blocks, {}, ours, error))
                    {
                        std::cerr << "bench: " << error << "\n";
                        return false;
                    }
                }
                else
                {
                    auto instance = MidiRenderer::loadPlugin (plugin, blocks, error);
                    if (instance == nullptr)
                    {
                        std::cerr << "bench: " << error << "\n";
                        return false;
                    }
                    configureOurs (*instance, s);
                    ours = MidiRenderer::render (*instance, seq, blocks);
                }
                ourFactor = juce::jmax (ourFactor, realTimeFactor (ours));

                if (peerUsable)
                {
                    if (Lv2Host::render (peer, withPeerControllers (seq, s), blocks, peerControls (s), theirs, error))
                        peerFactor = juce::jmax (peerFactor, realTimeFactor (theirs));
                    else
                    {
                        peerUsable = false;
                        peerErrors.addIfNotAlreadyThere (peer + ": " + error);
                    }
                }
            }

            // An organ with notes held must sound to the end; one that does not has
            // stopped working, and its speed means nothing.
            const bool notesHeld = ! s.held.empty() || s.phrase;
            const bool oursSilent = notesHeld && decibels (heldLevel (ours, seconds)) < -80.0f;
            const bool peerSilent = peerUsable && notesHeld && decibels (heldLevel (theirs, seconds)) < -80.0f;
            anySilent = anySilent || oursSilent || peerSilent;

            juce::String peerColumn ("-"), ratioColumn ("-"), peerLevels;
            if (peerUsable)
            {
                peerColumn = peerSilent ? "silent" : juce::String (peerFactor, 1);
                ratioColumn = oursSilent || peerSilent ? "-" : juce::String (ourFactor / peerFactor, 2);
                peerLevels = "; " + juce::String (decibels (theirs.peak), 1) + " / " + juce::String (decibels (theirs.rms), 1);
            }

            std::cout << juce::String (s.name).paddedRight (' ', 11) << column (oursSilent ? "silent" : juce::String (ourFactor, 1), 8)
                      << column (peerColumn, 8) << column (ratioColumn, 7) << "    " << juce::String (decibels (ours.peak), 1) << " / "
                      << juce::String (decibels (ours.rms), 1) << peerLevels << std::endl;
        }
        return true;
    };

    if (! table (false) || ! table (true))
        return 1;

    if (withPeers)
        std::cout << "\npeers (LV2, hosted by lilv, the same MIDI): " << toneWheelPeer << " for B3, " << comboPeer
                  << " for the voice organs; ratio = ours / peer\n";
    for (const auto& e : peerErrors)
        std::cout << "A peer could not be played: " << e << "\n";
    if (anySilent)
    {
        std::cerr << "bench: an organ fell silent while its notes were held; its figures are not given\n";
        return 1;
    }
    return 0;
}
