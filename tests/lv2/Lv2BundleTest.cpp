// The built LV2 bundle read with lilv, the library LV2 hosts use: its presets,
// each applied to an instance of the plug-in, and its metadata.
#include "FactoryPresets.h"
#include "StateVariants.h"

#include <juce_core/juce_core.h>

#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/atom/forge.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/midi/midi.h>
#include <lv2/options/options.h>
#include <lv2/patch/patch.h>
#include <lv2/parameters/parameters.h>
#include <lv2/presets/presets.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace
{
const std::string pluginUri = JucePlugin_LV2URI;

// The bundle loaded into a lilv world of its own, with the features the plug-in needs.
class Lv2Bundle : public ::testing::Test
{
protected:
    void SetUp() override
    {
        world = lilv_world_new();
        LilvNode* bundle = lilv_new_file_uri (world, nullptr, BRASSGATE_LV2_BUNDLE "/");
        lilv_world_load_bundle (world, bundle);
        lilv_node_free (bundle);

        LilvNode* uri = node (pluginUri);
        plugin = lilv_plugins_get_by_uri (lilv_world_get_all_plugins (world), uri);
        lilv_world_load_resource (world, uri); // the plug-in's description, with its parameters
        lilv_node_free (uri);
        ASSERT_NE (plugin, nullptr);

        map = { this, [] (LV2_URID_Map_Handle h, const char* u) { return static_cast<Lv2Bundle*> (h)->urid (u); } };
        options = { { LV2_OPTIONS_INSTANCE, 0, urid (LV2_BUF_SIZE__maxBlockLength), sizeof (int32_t), urid (LV2_ATOM__Int), &blockLength },
                    { LV2_OPTIONS_INSTANCE, 0, urid (LV2_BUF_SIZE__minBlockLength), sizeof (int32_t), urid (LV2_ATOM__Int), &minimumBlock },
                    { LV2_OPTIONS_INSTANCE, 0, urid (LV2_BUF_SIZE__nominalBlockLength), sizeof (int32_t), urid (LV2_ATOM__Int), &blockLength },
                    { LV2_OPTIONS_INSTANCE, 0, urid (LV2_PARAMETERS__sampleRate), sizeof (float), urid (LV2_ATOM__Float), &sampleRate },
                    { LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr } };
    }

    void TearDown() override { lilv_world_free (world); }

    LV2_URID urid (const char* uri)
    {
        const auto [it, added] = urids.emplace (uri, (LV2_URID) urids.size() + 1);
        if (added)
            uriOf.push_back (uri);
        return it->second;
    }

    LilvNode* node (const std::string& uri) { return lilv_new_uri (world, uri.c_str()); }

    std::string literal (const LilvNode* subject, const char* predicate)
    {
        LilvNode* p = node (predicate);
        LilvNode* value = lilv_world_get (world, subject, p, nullptr);
        std::string text = value != nullptr ? lilv_node_as_string (value) : "";
        lilv_node_free (value);
        lilv_node_free (p);
        return text;
    }

    // The presets the bundle lists for the plug-in, by label.
    std::map<std::string, const LilvNode*> presets()
    {
        std::map<std::string, const LilvNode*> found;
        LilvNode* presetClass = node (LV2_PRESETS__Preset);
        related = lilv_plugin_get_related (plugin, presetClass);
        lilv_node_free (presetClass);
        LILV_FOREACH (nodes, i, related)
        {
            const LilvNode* preset = lilv_nodes_get (related, i);
            lilv_world_load_resource (world, preset);
            found[literal (preset, "http://www.w3.org/2000/01/rdf-schema#label")] = preset;
        }
        return found;
    }

    // An instance of the plug-in with the features it needs.
    LilvInstance* instantiate()
    {
        features = { &mapFeature, &optionsFeature, &boundedFeature, nullptr };
        mapFeature = { LV2_URID__map, &map };
        optionsFeature = { LV2_OPTIONS__options, options.data() };
        boundedFeature = { LV2_BUF_SIZE__boundedBlockLength, nullptr };
        return lilv_plugin_instantiate (plugin, sampleRate, features.data());
    }

    // The ports besides the two audio outputs: MIDI and patch messages in
    // (`input`), the plug-in's messages out (`output`), and the three control
    // ports, which must outlive the instance.
    struct MessagePorts
    {
        alignas (8) std::array<uint8_t, 4096> input {};
        alignas (8) std::array<uint8_t, 4096> output {};
        float latency = 0.0f, freeWheeling = 0.0f, enabled = 1.0f;

        void connect (LilvInstance* instance)
        {
            lilv_instance_connect_port (instance, 2, input.data());
            lilv_instance_connect_port (instance, 3, output.data());
            lilv_instance_connect_port (instance, 4, &latency);
            lilv_instance_connect_port (instance, 5, &freeWheeling);
            lilv_instance_connect_port (instance, 6, &enabled);
        }
    };

    // The parameter values an instance holds, read from the state it saves for a host.
    std::unique_ptr<juce::XmlElement> savedParameters (LilvInstance* instance)
    {
        const auto* stateInterface = static_cast<const LV2_State_Interface*> (lilv_instance_get_extension_data (instance, LV2_STATE__interface));
        StoredState stored;
        if (stateInterface == nullptr
            || stateInterface->save (lilv_instance_get_handle (instance), StoredState::store, &stored,
                                     LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE, features.data())
                   != LV2_STATE_SUCCESS)
            return nullptr;

        juce::MemoryBlock blob;
        if (! blob.fromBase64Encoding (juce::String::fromUTF8 (stored.values[urid ((pluginUri + ":StateString").c_str())].c_str()))
            || blob.getSize() <= 9)
            return nullptr;
        return juce::parseXML (juce::String::fromUTF8 (static_cast<const char*> (blob.getData()) + 8, (int) blob.getSize() - 9));
    }

    // What the plug-in stores when a host saves its state, by key.
    struct StoredState
    {
        static LV2_State_Status store (LV2_State_Handle handle, uint32_t key, const void* value, size_t size, uint32_t, uint32_t)
        {
            static_cast<StoredState*> (handle)->values[key] = std::string (static_cast<const char*> (value), size);
            return LV2_STATE_SUCCESS;
        }
        std::map<uint32_t, std::string> values;
    };

    LV2_Feature mapFeature {}, optionsFeature {}, boundedFeature {};
    std::vector<const LV2_Feature*> features;

    LilvWorld* world = nullptr;
    const LilvPlugin* plugin = nullptr;
    LilvNodes* related = nullptr;
    std::map<std::string, LV2_URID> urids;
    std::vector<std::string> uriOf { "" };
    LV2_URID_Map map {};
    int32_t blockLength = 512, minimumBlock = 1;
    float sampleRate = 48000.0f;
    std::vector<LV2_Options_Option> options;
};

} // namespace

TEST_F (Lv2Bundle, ListsEveryFactoryPresetWithItsLabel)
{
    const auto found = presets();
    std::set<std::string> labels;
    for (const auto& [label, preset] : found)
        labels.insert (label);

    std::set<std::string> expected;
    for (const auto& p : factoryPresets)
        expected.insert (p.name);

    EXPECT_EQ (labels, expected);
    lilv_nodes_free (related);
}

TEST_F (Lv2Bundle, EveryPresetAppliesItsState)
{
    LilvInstance* instance = instantiate();
    ASSERT_NE (instance, nullptr);

    const auto found = presets();
    ASSERT_EQ (found.size(), (size_t) numFactoryPresets);

    for (const auto& p : factoryPresets)
    {
        ASSERT_EQ (found.count (p.name), 1u) << p.name;
        LilvState* state = lilv_state_new_from_world (world, &map, found.at (p.name));
        ASSERT_NE (state, nullptr) << p.name;
        lilv_state_restore (state, instance, nullptr, nullptr, 0, features.data());
        lilv_state_free (state);

        // Read back what the plug-in now holds, as a host saving a session would.
        const auto xml = savedParameters (instance);
        ASSERT_NE (xml, nullptr) << p.name;
        for (int i = 0; i < numParameters; ++i)
        {
            const auto* child = xml->getChildByAttribute ("id", parameterTable[(size_t) i].id);
            ASSERT_NE (child, nullptr) << p.name << ": " << parameterTable[(size_t) i].id;
            EXPECT_NEAR (child->getDoubleAttribute ("value"), p.values[(size_t) i], 1.0e-4) << p.name << ": " << parameterTable[(size_t) i].id;
        }
    }

    lilv_nodes_free (related);
    lilv_instance_free (instance);
}

TEST_F (Lv2Bundle, AMenuValueReachesTheOrganItNames)
{
    // A host sets the parameter to the value beside a label (patch:Set on the
    // control port), as a generic LV2 host's menu does; the plug-in then plays that organ.
    LilvInstance* instance = instantiate();
    ASSERT_NE (instance, nullptr);

    std::vector<float> left (512), right (512);
    MessagePorts ports;
    auto& input = ports.input;
    auto& output = ports.output;
    lilv_instance_connect_port (instance, 0, left.data());
    lilv_instance_connect_port (instance, 1, right.data());
    ports.connect (instance);
    lilv_instance_activate (instance);

    LV2_Atom_Forge forge;
    lv2_atom_forge_init (&forge, &map);

    for (const auto& [label, value] : std::map<std::string, float> { { "FARFISA", 1.0f }, { "VOX", 2.0f }, { "CHURCH", 3.0f }, { "B3", 0.0f } })
    {
        lv2_atom_forge_set_buffer (&forge, input.data(), input.size());
        LV2_Atom_Forge_Frame sequence, object;
        lv2_atom_forge_sequence_head (&forge, &sequence, 0);
        lv2_atom_forge_frame_time (&forge, 0);
        lv2_atom_forge_object (&forge, &object, 0, urid (LV2_PATCH__Set));
        lv2_atom_forge_key (&forge, urid (LV2_PATCH__property));
        lv2_atom_forge_urid (&forge, urid ((pluginUri + ":organType").c_str()));
        lv2_atom_forge_key (&forge, urid (LV2_PATCH__value));
        lv2_atom_forge_float (&forge, value);
        lv2_atom_forge_pop (&forge, &object);
        lv2_atom_forge_pop (&forge, &sequence);

        auto* out = reinterpret_cast<LV2_Atom*> (output.data());
        out->size = (uint32_t) output.size() - sizeof (LV2_Atom);
        out->type = urid (LV2_ATOM__Sequence);
        lilv_instance_run (instance, 512);

        const auto xml = savedParameters (instance);
        ASSERT_NE (xml, nullptr);
        EXPECT_EQ (xml->getChildByAttribute ("id", "organType")->getDoubleAttribute ("value"), value) << label;
    }

    lilv_instance_deactivate (instance);
    lilv_instance_free (instance);
}

TEST_F (Lv2Bundle, MenusCarryTheParametersOwnValues)
{
    // A host that offers an enumeration's labels sends the value beside the label;
    // it must be the parameter's own value, in its own range.
    const struct
    {
        const char* id;
        std::map<std::string, double> choices;
    } enumerations[] = {
        { "organType", { { "B3", 0 }, { "FARFISA", 1 }, { "VOX", 2 }, { "CHURCH", 3 } } },
        { "driveType", { { "TUBE", 0 }, { "FUZZ", 1 }, { "CRUNCH", 2 } } },
    };

    for (const auto& e : enumerations)
    {
        LilvNode* parameter = node (pluginUri + ":" + e.id);
        LilvNode* scalePoint = node (LV2_CORE__scalePoint);
        LilvNodes* points = lilv_world_find_nodes (world, parameter, scalePoint, nullptr);
        std::map<std::string, double> found;
        LILV_FOREACH (nodes, i, points)
        {
            const LilvNode* point = lilv_nodes_get (points, i);
            found[literal (point, "http://www.w3.org/2000/01/rdf-schema#label")] =
                std::stod (literal (point, "http://www.w3.org/1999/02/22-rdf-syntax-ns#value"));
        }
        EXPECT_EQ (found, e.choices) << e.id;
        EXPECT_EQ (literal (parameter, LV2_CORE__maximum), std::to_string ((int) e.choices.size() - 1)) << e.id;
        lilv_nodes_free (points);
        lilv_node_free (scalePoint);
        lilv_node_free (parameter);
    }
}

TEST_F (Lv2Bundle, DescribesAReleaseWithoutAnEmptyMailbox)
{
    // A minor version of 0, or an odd minor or micro version, marks a development version.
    LilvNode* uri = node (pluginUri);
    const auto minor = std::stoi (literal (uri, LV2_CORE__minorVersion));
    const auto micro = std::stoi (literal (uri, LV2_CORE__microVersion));
    EXPECT_GT (minor, 0);
    EXPECT_EQ (minor % 2, 0);
    EXPECT_EQ (micro % 2, 0);

    // The maker is named, with no mailbox (an empty one reads as the bundle's own file).
    LilvNode* maintainerProperty = node ("http://usefulinc.com/ns/doap#maintainer");
    LilvNode* maintainer = lilv_world_get (world, uri, maintainerProperty, nullptr);
    ASSERT_NE (maintainer, nullptr);
    EXPECT_EQ (literal (maintainer, "http://xmlns.com/foaf/0.1/name"), BRASSGATE_VENDOR);
    EXPECT_EQ (literal (maintainer, "http://xmlns.com/foaf/0.1/mbox"), "");
    lilv_node_free (maintainer);
    lilv_node_free (maintainerProperty);
    lilv_node_free (uri);
}

namespace
{
// A plug-in state in Turtle as an LV2 host keeps it in a session, holding `stateString`.
std::string stateTurtle (const std::string& stateString)
{
    return "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
           "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n"
           "@prefix state: <http://lv2plug.in/ns/ext/state#> .\n"
           "<" + pluginUri + "/savedState> a pset:Preset ;\n"
           "  lv2:appliesTo <" + pluginUri + "> ;\n"
           "  state:state [ <" + pluginUri + ":StateString> \"" + stateString + "\" ] .\n";
}
} // namespace

TEST_F (Lv2Bundle, DamagedStatesAreTurnedAwayWhole)
{
    // Every input is restored the way a host restores a session (lilv reads the
    // Turtle, then hands the property to the plug-in's state interface); none may
    // crash the host, allocate what its size prefix claims or change a parameter.
    std::vector<std::pair<std::string, std::string>> inputs;
    for (const auto& file : juce::File (BRASSGATE_DAMAGED_LV2_STATES).findChildFiles (juce::File::findFiles, false, "*.ttl"))
        inputs.emplace_back (file.getFileName().toStdString(), file.loadFileAsString().toStdString());
    ASSERT_GE (inputs.size(), 3u);

    const auto encoded = [] (const std::string& bytes) { return juce::MemoryBlock (bytes.data(), bytes.size()).toBase64Encoding().toStdString(); };
    const struct
    {
        const char* what;
        std::string stateString;
    } generated[] = {
        { "no size", ".AAAA" },
        { "no dot", "3" },
        { "a size the characters do not hold", "12.AAAA" },
        { "fewer bytes than the characters hold", "1.AAAA" },
        { "a character outside the alphabet", "3.AA-A" },
        { "a size past 64 bits", "184467440737095516160." },
    };
    for (const auto& g : generated)
        inputs.emplace_back (g.what, stateTurtle (g.stateString));

    // A size that matches, around text the plug-in's own reader turns away.
    for (const auto& file : juce::File (BRASSGATE_DAMAGED_STATES).findChildFiles (juce::File::findFiles, false, "xml-*.bin"))
    {
        juce::MemoryBlock bytes;
        ASSERT_TRUE (file.loadFileAsData (bytes));
        inputs.emplace_back (file.getFileName().toStdString(), stateTurtle (encoded (bytes.toString().toStdString())));
    }

    LilvInstance* instance = instantiate();
    ASSERT_NE (instance, nullptr);
    const auto found = presets();
    LilvState* jazz = lilv_state_new_from_world (world, &map, found.at ("Jazz Trio"));
    ASSERT_NE (jazz, nullptr);
    lilv_state_restore (jazz, instance, nullptr, nullptr, 0, features.data());
    lilv_state_free (jazz);
    const auto before = savedParameters (instance);
    ASSERT_NE (before, nullptr);

    for (const auto& [what, turtle] : inputs)
    {
        LilvState* state = lilv_state_new_from_string (world, &map, turtle.c_str());
        ASSERT_NE (state, nullptr) << what;
        lilv_state_restore (state, instance, nullptr, nullptr, 0, features.data());
        lilv_state_free (state);

        const auto after = savedParameters (instance);
        ASSERT_NE (after, nullptr) << what;
        EXPECT_TRUE (after->isEquivalentTo (before.get(), false)) << what;
    }

    // The same way in, a state with a size that matches is read.
    LilvInstance* fresh = instantiate();
    const auto* stateInterface = static_cast<const LV2_State_Interface*> (lilv_instance_get_extension_data (fresh, LV2_STATE__interface));
    StoredState defaults;
    stateInterface->save (lilv_instance_get_handle (fresh), StoredState::store, &defaults, LV2_STATE_IS_POD, features.data());
    lilv_instance_free (fresh);
    LilvState* state = lilv_state_new_from_string (world, &map, stateTurtle (defaults.values[urid ((pluginUri + ":StateString").c_str())].c_str()).c_str());
    lilv_state_restore (state, instance, nullptr, nullptr, 0, features.data());
    lilv_state_free (state);
    EXPECT_FALSE (savedParameters (instance)->isEquivalentTo (before.get(), false));

    lilv_nodes_free (related);
    lilv_instance_free (instance);
}

TEST_F (Lv2Bundle, RestoredStatesAreSavedAsTheyPlay)
{
    // States in the shapes damaged or hand-edited ones take, and state strings
    // with bytes of their size prefix and encoding changed: whatever is accepted,
    // the next save lists every parameter once, in its range, and restoring that
    // gives the same string back.
    LilvInstance* instance = instantiate();
    ASSERT_NE (instance, nullptr);
    const auto found = presets();
    LilvState* preset = lilv_state_new_from_world (world, &map, found.at ("Gospel Shout"));
    lilv_state_restore (preset, instance, nullptr, nullptr, 0, features.data());
    lilv_state_free (preset);

    const auto* stateInterface = static_cast<const LV2_State_Interface*> (lilv_instance_get_extension_data (instance, LV2_STATE__interface));
    const auto stateKey = urid ((pluginUri + ":StateString").c_str());
    const auto saveString = [&]
    {
        StoredState stored;
        stateInterface->save (lilv_instance_get_handle (instance), StoredState::store, &stored, LV2_STATE_IS_POD, features.data());
        return std::string (stored.values[stateKey].c_str());
    };
    const auto restoreString = [&] (const std::string& stateString)
    {
        LilvState* state = lilv_state_new_from_string (world, &map, stateTurtle (stateString).c_str());
        ASSERT_NE (state, nullptr) << stateString;
        lilv_state_restore (state, instance, nullptr, nullptr, 0, features.data());
        lilv_state_free (state);
    };

    const auto good = saveString();
    juce::MemoryBlock blob;
    ASSERT_TRUE (blob.fromBase64Encoding (good));
    const std::string text (static_cast<const char*> (blob.getData()) + 8, blob.getSize() - 9);

    std::vector<std::string> inputs;
    for (const auto& variant : statevariants::structured (text))
    {
        const auto bytes = statevariants::blobAround (variant);
        inputs.push_back (juce::MemoryBlock (bytes.data(), bytes.size()).toBase64Encoding().toStdString());
    }
    ASSERT_GT (inputs.size(), 100u);

    juce::Random random (22);
    const std::string alphabet = "0123456789.-+Aa/ ";
    for (int i = 0; i < 300; ++i)
    {
        auto s = good;
        const auto at = (size_t) random.nextInt ((int) juce::jmin<size_t> (s.size(), 12));
        s[at] = alphabet[(size_t) random.nextInt ((int) alphabet.size())];
        inputs.push_back (s);
    }

    for (const auto& input : inputs)
    {
        restoreString (input);
        const auto saved = saveString();
        const auto xml = savedParameters (instance);
        ASSERT_NE (xml, nullptr) << input;
        ASSERT_EQ (xml->getNumChildElements(), numParameters) << input;
        for (const auto& entry : parameterTable)
        {
            const auto* child = xml->getChildByAttribute ("id", entry.id);
            ASSERT_NE (child, nullptr) << input << ": " << entry.id;
            const auto value = child->getDoubleAttribute ("value", -1.0e9);
            EXPECT_TRUE (value >= entry.minimum && value <= entry.maximum) << input << ": " << entry.id;
        }
        restoreString (saved);
        EXPECT_EQ (saveString(), saved) << input;
    }

    lilv_nodes_free (related);
    lilv_instance_free (instance);
}

TEST_F (Lv2Bundle, NotesActAtTheirSampleWhateverTheBlockSize)
{
    // The same notes, at frame times no block size divides, in blocks of many
    // sizes: the same sound to the bit, and silence before the first note.
    constexpr int length = 16000; // samples
    struct Event
    {
        int sample;
        std::array<uint8_t, 3> bytes;
    };
    const std::vector<Event> events { { 1009, { 0x90, 60, 100 } }, { 3001, { 0x90, 67, 90 } },  { 5555, { 0x80, 60, 0 } },
                                      { 6007, { 0x91, 72, 127 } }, { 9973, { 0x80, 67, 0 } },   { 9973, { 0x81, 72, 0 } },
                                      { 11003, { 0x90, 48, 64 } }, { 14011, { 0x80, 48, 0 } } };
    blockLength = 4096;

    auto render = [&] (const std::vector<int>& blockSizes) {
        std::vector<float> left ((size_t) length), right ((size_t) length);
        LilvInstance* instance = instantiate();
        if (instance == nullptr)
            return left;

        MessagePorts ports;
        auto& input = ports.input;
        auto& output = ports.output;
        ports.connect (instance);
        lilv_instance_activate (instance);

        LV2_Atom_Forge forge;
        lv2_atom_forge_init (&forge, &map);
        size_t next = 0, pattern = 0;
        for (int start = 0; start < length;)
        {
            const int count = std::min (blockSizes[pattern++ % blockSizes.size()], length - start);
            lv2_atom_forge_set_buffer (&forge, input.data(), input.size());
            LV2_Atom_Forge_Frame sequence;
            lv2_atom_forge_sequence_head (&forge, &sequence, 0);
            for (; next < events.size() && events[next].sample < start + count; ++next)
            {
                lv2_atom_forge_frame_time (&forge, events[next].sample - start);
                lv2_atom_forge_atom (&forge, 3, urid (LV2_MIDI__MidiEvent));
                lv2_atom_forge_write (&forge, events[next].bytes.data(), 3);
            }
            lv2_atom_forge_pop (&forge, &sequence);

            auto* out = reinterpret_cast<LV2_Atom*> (output.data());
            out->size = (uint32_t) output.size() - sizeof (LV2_Atom);
            out->type = urid (LV2_ATOM__Sequence);
            lilv_instance_connect_port (instance, 0, left.data() + start);
            lilv_instance_connect_port (instance, 1, right.data() + start);
            lilv_instance_run (instance, (uint32_t) count);
            start += count;
        }

        lilv_instance_deactivate (instance);
        lilv_instance_free (instance);
        left.insert (left.end(), right.begin(), right.end());
        return left;
    };

    const auto reference = render ({ 256 });
    for (int n = 0; n < 1009; ++n)
        ASSERT_EQ (reference[(size_t) n], 0.0f) << "sound before the first note, at " << n;
    EXPECT_GT (std::abs (*std::max_element (reference.begin() + 1009, reference.begin() + 1209,
                                            [] (float a, float b) { return std::abs (a) < std::abs (b); })),
               1.0e-3f);

    for (const auto& blocks : std::vector<std::vector<int>> { { 1 }, { 16 }, { 64 }, { 512 }, { 4096 }, { 3, 700, 64, 1, 2048, 129 } })
    {
        const auto r = render (blocks);
        for (size_t n = 0; n < r.size(); ++n)
            ASSERT_EQ (r[n], reference[n]) << "blocks of " << blocks[0] << ", " << (n < (size_t) length ? "left" : "right")
                                           << ", sample " << n % length;
    }
}
