// The built LV2 bundle read with lilv, the library LV2 hosts use: its presets,
// each applied to an instance of the plug-in, and its metadata.
#include "FactoryPresets.h"

#include <juce_core/juce_core.h>

#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/options/options.h>
#include <lv2/parameters/parameters.h>
#include <lv2/presets/presets.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>

#include <gtest/gtest.h>

#include <map>
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
    const LV2_Feature mapFeature { LV2_URID__map, &map };
    const LV2_Feature optionsFeature { LV2_OPTIONS__options, options.data() };
    const LV2_Feature boundedFeature { LV2_BUF_SIZE__boundedBlockLength, nullptr };
    const LV2_Feature* features[] = { &mapFeature, &optionsFeature, &boundedFeature, nullptr };

    LilvInstance* instance = lilv_plugin_instantiate (plugin, sampleRate, features);
    ASSERT_NE (instance, nullptr);
    const auto* stateInterface = static_cast<const LV2_State_Interface*> (lilv_instance_get_extension_data (instance, LV2_STATE__interface));
    ASSERT_NE (stateInterface, nullptr);

    const auto found = presets();
    ASSERT_EQ (found.size(), (size_t) numFactoryPresets);

    for (const auto& p : factoryPresets)
    {
        ASSERT_EQ (found.count (p.name), 1u) << p.name;
        LilvState* state = lilv_state_new_from_world (world, &map, found.at (p.name));
        ASSERT_NE (state, nullptr) << p.name;
        lilv_state_restore (state, instance, nullptr, nullptr, 0, features);
        lilv_state_free (state);

        // Read back what the plug-in now holds, as a host saving a session would.
        StoredState stored;
        ASSERT_EQ (stateInterface->save (lilv_instance_get_handle (instance), StoredState::store, &stored,
                                         LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE, features),
                   LV2_STATE_SUCCESS);
        const auto text = stored.values[urid ((pluginUri + ":StateString").c_str())];
        juce::MemoryBlock blob;
        ASSERT_TRUE (blob.fromBase64Encoding (juce::String::fromUTF8 (text.c_str()))) << p.name;
        ASSERT_GT (blob.getSize(), 9u);
        const auto xml = juce::parseXML (juce::String::fromUTF8 (static_cast<const char*> (blob.getData()) + 8, (int) blob.getSize() - 9));
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
    EXPECT_EQ (literal (maintainer, "http://xmlns.com/foaf/0.1/name"), "Orrinmoor");
    EXPECT_EQ (literal (maintainer, "http://xmlns.com/foaf/0.1/mbox"), "");
    lilv_node_free (maintainer);
    lilv_node_free (maintainerProperty);
    lilv_node_free (uri);
}
