#pragma once

// The built LV2 plug-in as an LV2 host drives it, for the state fuzzer: loaded
// from its bundle, instantiated with the features it needs, its state saved and
// restored through its state interface (as lilv_state_restore hands a stored
// property to it) and one block run.
#include <lv2/atom/atom.h>
#include <lv2/atom/forge.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/core/lv2.h>
#include <lv2/midi/midi.h>
#include <lv2/options/options.h>
#include <lv2/parameters/parameters.h>
#include <lv2/patch/patch.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>

#include <dlfcn.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

class Lv2Plugin
{
public:
    // Loads `library` (the plug-in's shared object inside `bundle`); ok() tells whether it worked.
    Lv2Plugin (const std::string& bundle, const std::string& library, const std::string& uri)
    {
        handleOfLibrary = dlopen (library.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handleOfLibrary == nullptr)
            return;
        const auto entry = reinterpret_cast<LV2_Descriptor_Function> (dlsym (handleOfLibrary, "lv2_descriptor"));
        for (uint32_t i = 0; entry != nullptr && (descriptor = entry (i)) != nullptr; ++i)
            if (uri == descriptor->URI)
                break;
        if (descriptor == nullptr)
            return;
        pluginUri = uri;

        map = { this, [] (LV2_URID_Map_Handle h, const char* u) { return static_cast<Lv2Plugin*> (h)->urid (u); } };
        options = { { LV2_OPTIONS_INSTANCE, 0, urid (LV2_BUF_SIZE__maxBlockLength), sizeof (int32_t), urid (LV2_ATOM__Int), &blockLength },
                    { LV2_OPTIONS_INSTANCE, 0, urid (LV2_BUF_SIZE__minBlockLength), sizeof (int32_t), urid (LV2_ATOM__Int), &minimumBlock },
                    { LV2_OPTIONS_INSTANCE, 0, urid (LV2_BUF_SIZE__nominalBlockLength), sizeof (int32_t), urid (LV2_ATOM__Int), &blockLength },
                    { LV2_OPTIONS_INSTANCE, 0, urid (LV2_PARAMETERS__sampleRate), sizeof (float), urid (LV2_ATOM__Float), &sampleRate },
                    { LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr } };
        mapFeature = { LV2_URID__map, &map };
        optionsFeature = { LV2_OPTIONS__options, options.data() };
        boundedFeature = { LV2_BUF_SIZE__boundedBlockLength, nullptr };
        features = { &mapFeature, &optionsFeature, &boundedFeature, nullptr };

        instance = descriptor->instantiate (descriptor, sampleRate, (bundle + "/").c_str(), features.data());
        if (instance == nullptr)
            return;
        state = static_cast<const LV2_State_Interface*> (descriptor->extension_data (LV2_STATE__interface));
        stateKey = urid ((uri + ":StateString").c_str());

        descriptor->connect_port (instance, 0, left.data());
        descriptor->connect_port (instance, 1, right.data());
        descriptor->connect_port (instance, 2, input.data());
        descriptor->connect_port (instance, 3, output.data());
        descriptor->connect_port (instance, 4, &latency);
        descriptor->connect_port (instance, 5, &freeWheeling);
        descriptor->connect_port (instance, 6, &enabled);
        if (descriptor->activate != nullptr)
            descriptor->activate (instance);
    }

    ~Lv2Plugin()
    {
        if (instance != nullptr)
        {
            if (descriptor->deactivate != nullptr)
                descriptor->deactivate (instance);
            descriptor->cleanup (instance);
        }
        // The library stays loaded: its static objects may outlive the instance.
    }

    bool ok() const { return instance != nullptr && state != nullptr; }

    // Hands `text` to the plug-in as the stored state string.
    void restore (const std::string& text)
    {
        restoring = &text;
        state->restore (instance, retrieve, this, LV2_STATE_IS_POD, features.data());
        restoring = nullptr;
    }

    // The state string the plug-in stores for a host to save.
    std::string save()
    {
        stored.clear();
        state->save (instance, store, this, LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE, features.data());
        return std::string (stored.c_str()); // without the string atom's terminating zero
    }

    // One block with no events; false when a sample is not finite.
    bool runBlockIsFinite()
    {
        auto* in = reinterpret_cast<LV2_Atom_Sequence*> (input.data());
        in->atom = { sizeof (LV2_Atom_Sequence_Body), urid (LV2_ATOM__Sequence) };
        in->body = { 0, 0 };
        auto* out = reinterpret_cast<LV2_Atom*> (output.data());
        *out = { (uint32_t) (output.size() - sizeof (LV2_Atom)), urid (LV2_ATOM__Sequence) };
        descriptor->run (instance, (uint32_t) left.size());
        for (size_t i = 0; i < left.size(); ++i)
            if (! std::isfinite (left[i]) || ! std::isfinite (right[i]))
                return false;
        return true;
    }

    // Writes the input of the next block: parameters set (patch:Set, by
    // parameter ID and value in the parameter's own units) at its start, then
    // MIDI messages at their frames.
    void prepareBlock (const std::vector<std::pair<int, std::array<uint8_t, 3>>>& midi,
                       const std::vector<std::pair<std::string, float>>& parameters)
    {
        LV2_Atom_Forge forge;
        lv2_atom_forge_init (&forge, &map);
        lv2_atom_forge_set_buffer (&forge, input.data(), input.size());
        LV2_Atom_Forge_Frame sequence;
        lv2_atom_forge_sequence_head (&forge, &sequence, 0);
        for (const auto& [id, value] : parameters)
        {
            LV2_Atom_Forge_Frame object;
            lv2_atom_forge_frame_time (&forge, 0);
            lv2_atom_forge_object (&forge, &object, 0, urid (LV2_PATCH__Set));
            lv2_atom_forge_key (&forge, urid (LV2_PATCH__property));
            lv2_atom_forge_urid (&forge, urid ((pluginUri + ":" + id).c_str()));
            lv2_atom_forge_key (&forge, urid (LV2_PATCH__value));
            lv2_atom_forge_float (&forge, value);
            lv2_atom_forge_pop (&forge, &object);
        }
        for (const auto& [frame, bytes] : midi)
        {
            lv2_atom_forge_frame_time (&forge, frame);
            lv2_atom_forge_atom (&forge, 3, urid (LV2_MIDI__MidiEvent));
            lv2_atom_forge_write (&forge, bytes.data(), 3);
        }
        lv2_atom_forge_pop (&forge, &sequence);
        auto* out = reinterpret_cast<LV2_Atom*> (output.data());
        *out = { (uint32_t) (output.size() - sizeof (LV2_Atom)), urid (LV2_ATOM__Sequence) };
    }

    // Runs the block prepareBlock wrote, and nothing else.
    void runPreparedBlock() { descriptor->run (instance, (uint32_t) left.size()); }

private:
    LV2_URID urid (const char* uri)
    {
        const auto [it, added] = urids.emplace (uri, (LV2_URID) urids.size() + 1);
        return it->second;
    }

    static const void* retrieve (LV2_State_Handle h, uint32_t key, size_t* size, uint32_t* type, uint32_t* flags)
    {
        auto& self = *static_cast<Lv2Plugin*> (h);
        if (key != self.stateKey || self.restoring == nullptr)
            return nullptr;
        *size = self.restoring->size() + 1; // a string atom ends in a zero byte
        *type = self.urid (LV2_ATOM__String);
        *flags = LV2_STATE_IS_POD;
        return self.restoring->c_str();
    }

    static LV2_State_Status store (LV2_State_Handle h, uint32_t key, const void* value, size_t size, uint32_t, uint32_t)
    {
        auto& self = *static_cast<Lv2Plugin*> (h);
        if (key == self.stateKey)
            self.stored.assign (static_cast<const char*> (value), size);
        return LV2_STATE_SUCCESS;
    }

    void* handleOfLibrary = nullptr;
    const LV2_Descriptor* descriptor = nullptr;
    LV2_Handle instance = nullptr;
    const LV2_State_Interface* state = nullptr;
    LV2_URID stateKey = 0;
    std::string pluginUri;
    const std::string* restoring = nullptr;
    std::string stored;

    std::map<std::string, LV2_URID> urids;
    LV2_URID_Map map {};
    std::vector<LV2_Options_Option> options;
    LV2_Feature mapFeature {}, optionsFeature {}, boundedFeature {};
    std::vector<const LV2_Feature*> features;
    int32_t blockLength = 64, minimumBlock = 1;
    float sampleRate = 48000.0f;

    std::array<float, 64> left {}, right {};
    alignas (8) std::array<uint8_t, 4096> input {}, output {};
    float latency = 0.0f, freeWheeling = 0.0f, enabled = 1.0f;
};
