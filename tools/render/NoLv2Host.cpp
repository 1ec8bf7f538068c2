#include "Lv2Host.h"

// The LV2 host of a build without LV2 (the Windows build): an LV2 plug-in named
// by its URI is turned away with a message, as one that is not installed is.
namespace Lv2Host
{
namespace
{
const char* notHosted = "this build hosts no LV2 plug-ins (the Linux build does); give a VST3 instead";
}

bool controlPorts (const juce::String&, std::vector<ControlPort>&, juce::String& error)
{
    error = notHosted;
    return false;
}

bool render (const juce::String&, const juce::MidiMessageSequence&, const MidiRenderer::Settings&,
             const std::vector<std::pair<juce::String, float>>&, MidiRenderer::Result&, juce::String& error,
             const std::function<void (double)>&)
{
    error = notHosted;
    return false;
}
} // namespace Lv2Host
