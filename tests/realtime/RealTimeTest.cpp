// The audio thread of the built plug-ins, watched from inside: the VST3 loaded
// through JUCE's VST3 hosting and the LV2 through its descriptor, as hosts
// load them, play blocks with notes, controllers, parameter changes and
// organ-type changes while the real-time probe (RealTimeProbe.cpp, loaded with
// LD_PRELOAD) notes every call that allocates, waits for a lock or enters the
// kernel. A call made from inside the plug-in fails the test unless it is one
// the plug-in's JUCE wrapper makes by design, listed below with the reason.
#include "Lv2Plugin.h"
#include "PluginLoading.h"
#include "RealTimeProbe.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace
{
// Calls from inside the plug-in that JUCE's wrappers make by design. A call
// passes when its function is `function` and, with `innermost`, the plug-in's
// frame that made it, or else any of its frames in the plug-in, is named by
// `frame`.
struct Allowed
{
    const char* function;
    const char* frame;
    bool innermost;
    const char* reason;
};
const Allowed allowed[] = {
    { "pthread_mutex_lock", "JuceVST3Component::processAudio", true,
      "the VST3 wrapper's callback lock, held around every block; the message thread takes it only to prepare and release" },
    { "pthread_mutex_lock", "LV2PluginInstance::run", true,
      "the LV2 wrapper's callback lock, held around every block; the message thread takes it only to prepare and release" },
    { "pthread_mutex_lock", "sendValueChangedMessageToListeners", false,
      "a parameter's listeners told of a change: the controllers that stand for parameters (drawbars, rotary speed "
      "and brake) move them with setValueNotifyingHost, as designed, and the wrappers hand a host's automation on the same way" },
};

struct Probe
{
    RealTimeProbeArm arm = reinterpret_cast<RealTimeProbeArm> (dlsym (RTLD_DEFAULT, "realtime_probe_arm"));
    RealTimeProbeDisarm disarm = reinterpret_cast<RealTimeProbeDisarm> (dlsym (RTLD_DEFAULT, "realtime_probe_disarm"));
    bool loaded() const { return arm != nullptr && disarm != nullptr; }
};

// One call the plug-in made, by the names of its frames in the plug-in.
struct PluginCall
{
    std::string function;
    std::vector<std::string> frames; // innermost first: frames[0] made the call
};

// A system library: the C and C++ runtimes and the like, whose functions
// (operator new, say) pass a call on for whoever called them.
bool isSystemLibrary (const char* file)
{
    return std::strncmp (file, "/lib", 4) == 0 || std::strncmp (file, "/usr/lib", 8) == 0;
}

// The calls of `calls` that the shared object `module` made itself: the first
// frame past the probe and the system libraries is in it. (A host callback
// that locks, called from the plug-in, is the host's.) Frames are named by
// addr2line, which reads the symbol table the dynamic one leaves out.
std::vector<PluginCall> callsFrom (const std::string& module, const std::vector<RealTimeProbeCall>& calls)
{
    Dl_info self {};
    dladdr (reinterpret_cast<void*> (&isSystemLibrary), &self);
    Dl_info probe {};
    dladdr (dlsym (RTLD_DEFAULT, "realtime_probe_arm"), &probe);

    std::vector<PluginCall> found;
    std::vector<std::vector<uintptr_t>> offsets;
    std::set<uintptr_t> unique;
    for (const auto& call : calls)
    {
        std::vector<uintptr_t> inModule;
        bool caller = true; // still looking for the frame that made the call
        bool ours = false;
        for (int f = 0; f < call.frames; ++f)
        {
            Dl_info info {};
            if (dladdr (call.stack[f], &info) == 0 || info.dli_fname == nullptr)
                continue;
            const bool inPlugin = module == info.dli_fname;
            if (caller && (info.dli_fbase == probe.dli_fbase || isSystemLibrary (info.dli_fname)))
                continue;
            if (caller)
                ours = inPlugin;
            caller = false;
            if (inPlugin)
                inModule.push_back ((uintptr_t) call.stack[f] - (uintptr_t) info.dli_fbase - 1);
        }
        if (ours)
        {
            found.push_back ({ call.function, {} });
            offsets.push_back (inModule);
            unique.insert (inModule.begin(), inModule.end());
        }
    }

    std::map<uintptr_t, std::string> names;
    std::string command = "addr2line -f -C -e '" + module + "'";
    for (auto offset : unique)
    {
        char hex[32];
        std::snprintf (hex, sizeof (hex), " 0x%zx", (size_t) offset);
        command += hex;
    }
    if (FILE* pipe = unique.empty() ? nullptr : popen (command.c_str(), "r"))
    {
        char line[4096];
        auto next = unique.begin();
        for (bool name = true; next != unique.end() && std::fgets (line, sizeof (line), pipe) != nullptr; name = ! name)
            if (name)
                names[*next] = std::string (line, std::strcspn (line, "\n"));
            else
                ++next;
        pclose (pipe);
    }

    for (size_t i = 0; i < found.size(); ++i)
        for (auto offset : offsets[i])
            found[i].frames.push_back (names.count (offset) != 0 ? names[offset] : "?");
    return found;
}

// Fails for every call not allowed above; prints each allowed kind once.
void expectOnlyAllowedCalls (const std::vector<PluginCall>& calls, const char* format)
{
    std::set<const Allowed*> reported;
    for (const auto& call : calls)
    {
        const Allowed* reason = nullptr;
        for (const auto& a : allowed)
            for (size_t f = 0; f < call.frames.size() && (f == 0 || ! a.innermost); ++f)
                if (call.function == a.function && call.frames[f].find (a.frame) != std::string::npos)
                    reason = &a;

        if (reason == nullptr)
        {
            std::string where;
            for (const auto& frame : call.frames)
                where += "\n    in " + frame;
            ADD_FAILURE() << format << ": " << call.function << " on the audio thread" << where;
        }
        else if (reported.insert (reason).second)
        {
            std::printf ("%s: allowed %s in %s: %s\n", format, reason->function, reason->frame, reason->reason);
        }
    }
    std::printf ("%s: %zu calls from inside the plug-in on the audio thread, all of the kinds above\n", format, calls.size());
}

// A busy performance, the same for both formats: for each organ type, notes at
// odd positions, the controllers the organ knows, releases and all-notes-off.
struct Message
{
    int sample;
    std::array<uint8_t, 3> bytes;
};

std::vector<std::vector<Message>> performance()
{
    std::vector<std::vector<Message>> blocks;
    for (int round = 0; round < 2; ++round)
    {
        std::vector<Message> notes, controllers, releases;
        for (int note = 36; note < 97; note += 5)
            notes.push_back ({ (note * 7) % 64, { 0x90, (uint8_t) note, 100 } });
        for (uint8_t controller : { 1, 11, 64, 80, 21, 25, 29, 41, 45, 49 })
            controllers.push_back ({ 10 + controller % 50, { 0xb0, controller, (uint8_t) (round == 0 ? 100 : 20) } });
        for (int note = 36; note < 97; note += 10)
            releases.push_back ({ note % 64, { 0x80, (uint8_t) note, 0 } });
        releases.push_back ({ 60, { 0xb0, 123, 0 } });
        blocks.insert (blocks.end(), { notes, {}, controllers, {}, releases, {} });
    }
    return blocks;
}
} // namespace

TEST (RealTime, Vst3AudioThreadNeverAllocatesLocksOrCallsTheSystem)
{
    Probe probe;
    ASSERT_TRUE (probe.loaded()) << "run with the real-time probe in LD_PRELOAD";

    auto instance = pluginloading::load (48000.0, 64);
    ASSERT_NE (instance, nullptr);
    auto& parameters = instance->getParameters();
    const auto blocks = performance();
    juce::AudioBuffer<float> buffer (2, 64);

    // Parameter changes a host automates, one set per organ type.
    const std::map<juce::String, float> automation { { "Drive", 0.6f }, { "Reverb", 0.9f }, { "Volume", 0.5f },
                                                      { "Chorus/Vibrato", 0.8f }, { "Focus Mode", 1.0f }, { "16'", 0.25f } };

    std::vector<RealTimeProbeCall> calls (512);
    std::vector<RealTimeProbeCall> noted;
    for (int pass = 0; pass < 2; ++pass) // the first pass only warms up: first touches are not the audio thread's habit
    {
        for (int type = 0; type < 4; ++type)
        {
            parameters[0]->setValue ((float) type / 3.0f);
            for (auto* p : parameters)
                if (automation.count (p->getName (100)) != 0)
                    p->setValue (type % 2 == 0 ? automation.at (p->getName (100)) : 1.0f - automation.at (p->getName (100)));

            for (const auto& block : blocks)
            {
                juce::MidiBuffer midi;
                for (const auto& m : block)
                    midi.addEvent (m.bytes.data(), 3, m.sample);

                if (pass == 1)
                    probe.arm();
                instance->processBlock (buffer, midi);
                if (pass == 1)
                {
                    const int count = probe.disarm (calls.data(), (int) calls.size());
                    noted.insert (noted.end(), calls.begin(), calls.begin() + std::min (count, (int) calls.size()));
                }
            }
        }
    }

    expectOnlyAllowedCalls (callsFrom (BRASSGATE_VST3_LIBRARY, noted), "VST3");
}

TEST (RealTime, Lv2AudioThreadNeverAllocatesLocksOrCallsTheSystem)
{
    Probe probe;
    ASSERT_TRUE (probe.loaded()) << "run with the real-time probe in LD_PRELOAD";

    Lv2Plugin plugin (BRASSGATE_LV2_BUNDLE, BRASSGATE_LV2_LIBRARY, JucePlugin_LV2URI);
    ASSERT_TRUE (plugin.ok());
    const auto blocks = performance();
    const std::map<std::string, float> automation { { "drive", 60.0f }, { "reverb", 90.0f }, { "volume", 50.0f },
                                                    { "chorus", 80.0f }, { "focusMode", 1.0f }, { "drawbar0", 2.0f } };

    std::vector<RealTimeProbeCall> calls (512);
    std::vector<RealTimeProbeCall> noted;
    for (int pass = 0; pass < 2; ++pass)
    {
        for (int type = 0; type < 4; ++type)
        {
            for (size_t b = 0; b < blocks.size(); ++b)
            {
                std::vector<std::pair<std::string, float>> changes;
                if (b == 0)
                {
                    changes.push_back ({ "organType", (float) type });
                    for (const auto& [id, value] : automation)
                        changes.push_back ({ id, type % 2 == 0 ? value : 0.0f });
                }
                std::vector<std::pair<int, std::array<uint8_t, 3>>> midi;
                for (const auto& m : blocks[b])
                    midi.push_back ({ m.sample, m.bytes });
                plugin.prepareBlock (midi, changes);

                if (pass == 1)
                    probe.arm();
                plugin.runPreparedBlock();
                if (pass == 1)
                {
                    const int count = probe.disarm (calls.data(), (int) calls.size());
                    noted.insert (noted.end(), calls.begin(), calls.begin() + std::min (count, (int) calls.size()));
                }
            }
        }
    }

    expectOnlyAllowedCalls (callsFrom (BRASSGATE_LV2_LIBRARY, noted), "LV2");
}
