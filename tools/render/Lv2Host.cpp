#include "Lv2Host.h"

// Older instruments still take MIDI through the deprecated event and uri-map
// extensions, which this host offers alongside the atom ports.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/atom/util.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/core/lv2.h>
#include <lv2/event/event.h>
#include <lv2/midi/midi.h>
#include <lv2/options/options.h>
#include <lv2/parameters/parameters.h>
#include <lv2/uri-map/uri-map.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>

namespace Lv2Host
{
namespace
{
// URIs to small integers and back, for urid:map and the older uri-map.
struct UridMap
{
    std::map<std::string, LV2_URID> ids;
    std::vector<std::string> uris;

    LV2_URID map (const char* uri)
    {
        const auto found = ids.find (uri);
        if (found != ids.end())
            return found->second;
        uris.emplace_back (uri);
        return ids[uri] = (LV2_URID) uris.size();
    }

    static LV2_URID mapCallback (LV2_URID_Map_Handle h, const char* uri) { return static_cast<UridMap*> (h)->map (uri); }
    static const char* unmapCallback (LV2_URID_Unmap_Handle h, LV2_URID id)
    {
        auto* self = static_cast<UridMap*> (h);
        return id >= 1 && id <= self->uris.size() ? self->uris[id - 1].c_str() : nullptr;
    }
    static uint32_t uriToId (LV2_URI_Map_Callback_Data h, const char*, const char* uri) { return static_cast<UridMap*> (h)->map (uri); }
};

// Work the plug-in schedules, done right after the block that asked for it.
struct Worker
{
    std::vector<std::vector<char>> requests, responses;

    static LV2_Worker_Status schedule (LV2_Worker_Schedule_Handle h, uint32_t size, const void* data)
    {
        auto* self = static_cast<Worker*> (h);
        self->requests.emplace_back (static_cast<const char*> (data), static_cast<const char*> (data) + size);
        return LV2_WORKER_SUCCESS;
    }

    static LV2_Worker_Status respond (LV2_Worker_Respond_Handle h, uint32_t size, const void* data)
    {
        auto* self = static_cast<Worker*> (h);
        self->responses.emplace_back (static_cast<const char*> (data), static_cast<const char*> (data) + size);
        return LV2_WORKER_SUCCESS;
    }
};

uint32_t eventRef (LV2_Event_Callback_Data, LV2_Event*) { return 0; }
uint32_t eventUnref (LV2_Event_Callback_Data, LV2_Event*) { return 0; }

struct World
{
    LilvWorld* world = lilv_world_new();
    World() { lilv_world_load_all (world); }
    ~World() { lilv_world_free (world); }

    LilvNode* uri (const char* u) { return lilv_new_uri (world, u); }

    const LilvPlugin* find (const juce::String& uri, juce::String& error)
    {
        LilvNode* node = lilv_new_uri (world, uri.toRawUTF8());
        const LilvPlugin* plugin = lilv_plugins_get_by_uri (lilv_world_get_all_plugins (world), node);
        lilv_node_free (node);
        if (plugin == nullptr)
            error = "no LV2 plug-in installed with the URI " + uri;
        return plugin;
    }
};

bool isA (World& w, const LilvPlugin* plugin, const LilvPort* port, const char* classUri)
{
    LilvNode* node = w.uri (classUri);
    const bool is = lilv_port_is_a (plugin, port, node);
    lilv_node_free (node);
    return is;
}

ControlPort describe (const LilvPlugin* plugin, const LilvPort* port)
{
    LilvNode *def = nullptr, *min = nullptr, *max = nullptr;
    lilv_port_get_range (plugin, port, &def, &min, &max);
    LilvNode* name = lilv_port_get_name (plugin, port);
    ControlPort c { juce::String::fromUTF8 (lilv_node_as_string (name)),
                    juce::String::fromUTF8 (lilv_node_as_string (lilv_port_get_symbol (plugin, port))),
                    min != nullptr ? lilv_node_as_float (min) : 0.0f,
                    max != nullptr ? lilv_node_as_float (max) : 1.0f,
                    def != nullptr ? lilv_node_as_float (def) : 0.0f };
    if (def == nullptr)
        c.defaultValue = c.minimum;
    for (auto* n : { def, min, max, name })
        lilv_node_free (n);
    return c;
}
} // namespace

bool controlPorts (const juce::String& uri, std::vector<ControlPort>& ports, juce::String& error)
{
    World w;
    const LilvPlugin* plugin = w.find (uri, error);
    if (plugin == nullptr)
        return false;

    ports.clear();
    for (uint32_t i = 0; i < lilv_plugin_get_num_ports (plugin); ++i)
    {
        const LilvPort* port = lilv_plugin_get_port_by_index (plugin, i);
        if (isA (w, plugin, port, LV2_CORE__ControlPort) && isA (w, plugin, port, LV2_CORE__InputPort))
            ports.push_back (describe (plugin, port));
    }
    return true;
}

bool render (const juce::String& uri,
             const juce::MidiMessageSequence& sequence,
             const MidiRenderer::Settings& settings,
             const std::vector<std::pair<juce::String, float>>& controls,
             MidiRenderer::Result& result,
             juce::String& error,
             const std::function<void (double)>& progress)
{
    World w;
    const LilvPlugin* plugin = w.find (uri, error);
    if (plugin == nullptr)
        return false;

    // The features this host offers.
    UridMap urids;
    LV2_URID_Map map { &urids, UridMap::mapCallback };
    LV2_URID_Unmap unmap { &urids, UridMap::unmapCallback };
    LV2_URI_Map_Feature uriMap { &urids, UridMap::uriToId };
    LV2_Event_Feature eventFeature { nullptr, eventRef, eventUnref };
    Worker worker;
    LV2_Worker_Schedule schedule { &worker, Worker::schedule };

    const int32_t blockLength = settings.blockSize;
    const float rate = (float) settings.sampleRate;
    const LV2_URID atomInt = urids.map (LV2_ATOM__Int), atomFloat = urids.map (LV2_ATOM__Float);
    const LV2_Options_Option options[] = {
        { LV2_OPTIONS_INSTANCE, 0, urids.map (LV2_BUF_SIZE__minBlockLength), sizeof (int32_t), atomInt, &blockLength },
        { LV2_OPTIONS_INSTANCE, 0, urids.map (LV2_BUF_SIZE__maxBlockLength), sizeof (int32_t), atomInt, &blockLength },
        { LV2_OPTIONS_INSTANCE, 0, urids.map (LV2_BUF_SIZE__nominalBlockLength), sizeof (int32_t), atomInt, &blockLength },
        { LV2_OPTIONS_INSTANCE, 0, urids.map (LV2_PARAMETERS__sampleRate), sizeof (float), atomFloat, &rate },
        { LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr },
    };

    const LV2_Feature mapFeature { LV2_URID__map, &map }, unmapFeature { LV2_URID__unmap, &unmap },
        uriMapFeature { LV2_URI_MAP_URI, &uriMap }, eventsFeature { LV2_EVENT_URI, &eventFeature },
        scheduleFeature { LV2_WORKER__schedule, &schedule }, optionsFeature { LV2_OPTIONS__options, (void*) options },
        boundedFeature { LV2_BUF_SIZE__boundedBlockLength, nullptr };
    const LV2_Feature* features[] = { &mapFeature,      &unmapFeature,   &uriMapFeature, &eventsFeature,
                                      &scheduleFeature, &optionsFeature, &boundedFeature, nullptr };

    // A required feature this host lacks is a clear error, not a crash later.
    LilvNodes* required = lilv_plugin_get_required_features (plugin);
    LILV_FOREACH (nodes, i, required)
    {
        const char* feature = lilv_node_as_uri (lilv_nodes_get (required, i));
        bool offered = false;
        for (const auto* f : features)
            offered = offered || (f != nullptr && std::strcmp (f->URI, feature) == 0);
        if (! offered)
            error = "the LV2 plug-in needs a feature this host lacks: " + juce::String (feature);
    }
    lilv_nodes_free (required);
    if (error.isNotEmpty())
        return false;

    // The ports and their buffers.
    const uint32_t numPorts = lilv_plugin_get_num_ports (plugin);
    constexpr uint32_t eventCapacity = 65536; // bytes per MIDI buffer
    std::vector<float> controlValues (numPorts, 0.0f);
    std::vector<std::vector<float>> audioOut;
    std::vector<uint32_t> audioOutPorts;
    std::vector<std::vector<uint64_t>> messageBuffers (numPorts); // 8-byte aligned
    std::vector<uint32_t> atomIn, atomOut, eventIn;
    std::vector<std::pair<juce::String, float>> unset = controls;

    for (uint32_t i = 0; i < numPorts; ++i)
    {
        const LilvPort* port = lilv_plugin_get_port_by_index (plugin, i);
        const bool input = isA (w, plugin, port, LV2_CORE__InputPort);
        if (isA (w, plugin, port, LV2_CORE__ControlPort))
        {
            const auto c = describe (plugin, port);
            controlValues[i] = c.defaultValue;
            for (auto it = unset.begin(); it != unset.end();)
            {
                if (input && (it->first == c.name || it->first == c.symbol))
                {
                    controlValues[i] = c.minimum + juce::jlimit (0.0f, 1.0f, it->second) * (c.maximum - c.minimum);
                    it = unset.erase (it);
                }
                else
                {
                    ++it;
                }
            }
        }
        else if (isA (w, plugin, port, LV2_CORE__AudioPort) && ! input)
        {
            audioOutPorts.push_back (i);
            audioOut.emplace_back ((size_t) settings.blockSize, 0.0f);
        }
        else if (isA (w, plugin, port, LV2_ATOM__AtomPort) || isA (w, plugin, port, LV2_EVENT__EventPort))
        {
            messageBuffers[i].assign (eventCapacity / sizeof (uint64_t), 0);
            const bool isEvent = isA (w, plugin, port, LV2_EVENT__EventPort);
            (input ? (isEvent ? eventIn : atomIn) : atomOut).push_back (i);
        }
    }

    if (! unset.empty())
    {
        error = "the LV2 plug-in has no control named " + unset.front().first;
        return false;
    }
    if (audioOutPorts.empty())
    {
        error = "the LV2 plug-in has no audio output";
        return false;
    }

    LilvInstance* instance = lilv_plugin_instantiate (plugin, settings.sampleRate, features);
    if (instance == nullptr)
    {
        error = "the LV2 plug-in could not be instantiated";
        return false;
    }

    std::vector<float> silence ((size_t) settings.blockSize, 0.0f);
    for (uint32_t i = 0; i < numPorts; ++i)
    {
        const LilvPort* port = lilv_plugin_get_port_by_index (plugin, i);
        if (isA (w, plugin, port, LV2_CORE__ControlPort))
            lilv_instance_connect_port (instance, i, &controlValues[i]);
        else if (! messageBuffers[i].empty())
            lilv_instance_connect_port (instance, i, messageBuffers[i].data());
        else if (isA (w, plugin, port, LV2_CORE__InputPort))
            lilv_instance_connect_port (instance, i, silence.data());
    }
    for (size_t k = 0; k < audioOutPorts.size(); ++k)
        lilv_instance_connect_port (instance, audioOutPorts[k], audioOut[k].data());

    const auto* workerInterface = static_cast<const LV2_Worker_Interface*> (lilv_instance_get_extension_data (instance, LV2_WORKER__interface));
    const LV2_URID midiEvent = urids.map (LV2_MIDI__MidiEvent), atomSequence = urids.map (LV2_ATOM__Sequence),
                   atomChunk = urids.map (LV2_ATOM__Chunk);
    const uint16_t eventMidi = (uint16_t) urids.map (LV2_MIDI__MidiEvent);

    lilv_instance_activate (instance);

    const double endSeconds = (sequence.getNumEvents() > 0 ? sequence.getEndTime() : 0.0) + settings.tailSeconds;
    const auto totalSamples = (int64_t) std::ceil (endSeconds * settings.sampleRate);
    result = {};
    result.audio.setSize (settings.channels, (int) totalSamples);
    result.audio.clear();
    int nextEvent = 0;
    double lastReport = -1.0;
    const bool timeBlocks = ! settings.timeWholeRun;
    const auto runStart = juce::Time::getHighResolutionTicks();
    const auto runCpuStart = MidiRenderer::threadCpuSeconds();

    for (int64_t start = 0; start < totalSamples; start += settings.blockSize)
    {
        const int numSamples = (int) juce::jmin ((int64_t) settings.blockSize, totalSamples - start);
        const double blockEnd = (double) (start + numSamples) / settings.sampleRate;

        // This block's MIDI into every MIDI input, atom or event.
        for (uint32_t i : atomIn)
        {
            auto* seq = reinterpret_cast<LV2_Atom_Sequence*> (messageBuffers[i].data());
            seq->atom.type = atomSequence;
            seq->atom.size = sizeof (LV2_Atom_Sequence_Body);
            seq->body.unit = 0;
            seq->body.pad = 0;
        }
        for (uint32_t i : eventIn)
        {
            auto* buffer = reinterpret_cast<LV2_Event_Buffer*> (messageBuffers[i].data());
            buffer->data = reinterpret_cast<uint8_t*> (buffer + 1);
            buffer->header_size = sizeof (LV2_Event_Buffer);
            buffer->stamp_type = LV2_EVENT_AUDIO_STAMP;
            buffer->event_count = 0;
            buffer->capacity = eventCapacity - (uint32_t) sizeof (LV2_Event_Buffer);
            buffer->size = 0;
        }
        for (uint32_t i : atomOut)
        {
            auto* atom = reinterpret_cast<LV2_Atom*> (messageBuffers[i].data());
            atom->type = atomChunk;
            atom->size = eventCapacity - (uint32_t) sizeof (LV2_Atom);
        }

        for (; nextEvent < sequence.getNumEvents(); ++nextEvent)
        {
            const auto& message = sequence.getEventPointer (nextEvent)->message;
            if (message.getTimeStamp() >= blockEnd)
                break;
            if (message.isMetaEvent() || message.isSysEx())
                continue;

            const auto offset = (uint32_t) juce::jlimit (0, numSamples - 1, (int) std::floor (message.getTimeStamp() * settings.sampleRate) - (int) start);
            const auto size = (uint32_t) message.getRawDataSize();
            for (uint32_t i : atomIn)
            {
                auto* seq = reinterpret_cast<LV2_Atom_Sequence*> (messageBuffers[i].data());
                auto* ev = reinterpret_cast<LV2_Atom_Event*> (reinterpret_cast<char*> (&seq->body) + lv2_atom_pad_size (seq->atom.size));
                if (lv2_atom_pad_size (seq->atom.size) + sizeof (LV2_Atom_Event) + size + 8 > eventCapacity - sizeof (LV2_Atom))
                    continue;
                ev->time.frames = offset;
                ev->body.type = midiEvent;
                ev->body.size = size;
                std::memcpy (ev + 1, message.getRawData(), size);
                seq->atom.size = lv2_atom_pad_size (seq->atom.size) + (uint32_t) sizeof (LV2_Atom_Event) + size;
            }
            for (uint32_t i : eventIn)
            {
                auto* buffer = reinterpret_cast<LV2_Event_Buffer*> (messageBuffers[i].data());
                const uint32_t at = (buffer->size + 7u) & ~7u; // events start on 8-byte boundaries
                if (at + sizeof (LV2_Event) + size > buffer->capacity)
                    continue;
                auto* ev = reinterpret_cast<LV2_Event*> (buffer->data + at);
                ev->frames = offset;
                ev->subframes = 0;
                ev->type = eventMidi;
                ev->size = (uint16_t) size;
                std::memcpy (ev + 1, message.getRawData(), size);
                buffer->size = at + (uint32_t) sizeof (LV2_Event) + size;
                ++buffer->event_count;
            }
        }

        // The block, and the work it scheduled: both count as the plug-in's time.
        const auto t0 = timeBlocks ? juce::Time::getHighResolutionTicks() : 0;
        const auto cpu0 = timeBlocks ? MidiRenderer::threadCpuSeconds() : 0.0;
        lilv_instance_run (instance, (uint32_t) numSamples);
        if (workerInterface != nullptr)
        {
            auto requests = std::move (worker.requests);
            worker.requests.clear();
            for (auto& r : requests)
                workerInterface->work (lilv_instance_get_handle (instance), Worker::respond, &worker, (uint32_t) r.size(), r.data());
            for (auto& r : worker.responses)
                workerInterface->work_response (lilv_instance_get_handle (instance), (uint32_t) r.size(), r.data());
            worker.responses.clear();
            if (workerInterface->end_run != nullptr)
                workerInterface->end_run (lilv_instance_get_handle (instance));
        }
        if (timeBlocks)
        {
            result.cpuSeconds += MidiRenderer::cpuSecondsSince (cpu0);
            result.processSeconds += juce::Time::highResolutionTicksToSeconds (juce::Time::getHighResolutionTicks() - t0);
        }

        for (int c = 0; c < settings.channels; ++c)
            result.audio.copyFrom (c, (int) start, audioOut[(size_t) juce::jmin (c, (int) audioOut.size() - 1)].data(), numSamples);

        MidiRenderer::reportProgress (progress, start + numSamples, totalSamples, lastReport);
    }

    if (! timeBlocks)
    {
        result.cpuSeconds = MidiRenderer::cpuSecondsSince (runCpuStart);
        result.processSeconds = juce::Time::highResolutionTicksToSeconds (juce::Time::getHighResolutionTicks() - runStart);
    }
    lilv_instance_deactivate (instance);
    lilv_instance_free (instance);
    MidiRenderer::measureLevels (result);
    return true;
}
} // namespace Lv2Host
