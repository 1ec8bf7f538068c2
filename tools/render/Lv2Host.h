#pragma once

#include "MidiRenderer.h"

#include <utility>
#include <vector>

// Hosts an installed LV2 instrument with lilv, the LV2 reference library, and
// plays a MIDI sequence through it: MIDI in through an atom or a (deprecated)
// event port, audio out, every control port at its default unless set, and the
// worker run right after each block, as an offline host may. JUCE 7.0.5's own
// LV2 hosting leaves some instruments silent after their first block; this
// host is what the tools use for any plug-in named by its URI.
namespace Lv2Host
{
// An LV2 plug-in is named by its URI; anything else is a VST3 bundle path.
inline bool isUri (const juce::String& pathOrUri)
{
    return pathOrUri.contains ("://");
}

// A control port: its name, symbol, range and default, in the port's own units.
struct ControlPort
{
    juce::String name, symbol;
    float minimum, maximum, defaultValue;
};

// The instrument's control ports, or false with `error` set if it is not installed.
bool controlPorts (const juce::String& uri, std::vector<ControlPort>& ports, juce::String& error);

// Plays the sequence through the instrument `uri`. Each control (a port's name
// or symbol, and a value from 0 to 1 across the port's range) is set before the
// first sample. False, with `error` set, if the plug-in is not installed, needs
// a feature this host lacks, or names no such control.
bool render (const juce::String& uri,
             const juce::MidiMessageSequence& sequence,
             const MidiRenderer::Settings& settings,
             const std::vector<std::pair<juce::String, float>>& controls,
             MidiRenderer::Result& result,
             juce::String& error,
             const std::function<void (double)>& progress = {});
} // namespace Lv2Host
