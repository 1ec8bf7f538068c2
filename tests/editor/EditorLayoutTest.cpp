#include "EditorFixture.h"

#include <map>

namespace
{
using Rect = juce::Rectangle<int>;

// Where every child sits in the three sizes the window takes: as it opens
// (700 x 520, keyboard hidden), with the keyboard shown (700 x 520) and after the
// keyboard is switched off again (700 x 450).
struct Placement
{
    Rect opened, keysShown, keysHidden;
};

std::map<juce::String, Placement> expectedPlacements()
{
    auto fixed = [] (Rect r) { return Placement { r, r, r }; };

    std::map<juce::String, Placement> table {
        { "keysButton", { { 640, 502, 50, 16 }, { 640, 442, 50, 16 }, { 640, 432, 50, 16 } } },
        { "focusButton", { { 576, 502, 58, 16 }, { 576, 442, 58, 16 }, { 576, 432, 58, 16 } } },
        { "b3Button", fixed ({ 15, 59, 163, 30 }) },
        { "farfisaButton", fixed ({ 184, 59, 163, 30 }) },
        { "voxButton", fixed ({ 353, 59, 163, 30 }) },
        { "churchButton", fixed ({ 522, 59, 163, 30 }) },
        { "percButton", fixed ({ 430, 115, 49, 24 }) },
        { "percSoftButton", fixed ({ 481, 115, 49, 24 }) },
        { "percFastButton", fixed ({ 532, 115, 49, 24 }) },
        { "percHarmonicBox", fixed ({ 583, 115, 49, 24 }) },
        { "paradiseButton", fixed ({ 634, 115, 53, 24 }) },
        { "brakeButton", fixed ({ 429, 142, 70, 22 }) },
    };

    // The knob grid: three columns 86 / 86 / 87 wide, two rows sharing the height.
    const struct
    {
        const char* name;
        int x, width, row;
    } knobs[] = { { "leslie", 429, 86, 0 }, { "drive", 515, 86, 0 }, { "chorus", 601, 87, 0 },
                  { "reverb", 429, 86, 1 }, { "click", 515, 86, 1 }, { "volume", 601, 87, 1 } };
    const int labelTop[2][3] = { { 168, 168, 168 }, { 332, 302, 297 } }; // [row][size]
    const int knobHeight[3] = { 150, 120, 115 };

    for (const auto& k : knobs)
    {
        Placement label, knob;
        Rect* labels[] = { &label.opened, &label.keysShown, &label.keysHidden };
        Rect* knobRects[] = { &knob.opened, &knob.keysShown, &knob.keysHidden };
        for (int size = 0; size < 3; ++size)
        {
            *labels[size] = { k.x, labelTop[k.row][size], k.width, 14 };
            *knobRects[size] = { k.x, labelTop[k.row][size] + 14, k.width, knobHeight[size] };
        }
        table[juce::String (k.name) + "Label"] = label;
        table[juce::String (k.name) + "Knob"] = knob;
    }

    // Nine 45-pixel drawbar columns from x = 12, the caption in the bottom 14 pixels.
    for (int i = 0; i < 9; ++i)
    {
        table["drawbar" + juce::String (i)] = { { 14 + 45 * i, 114, 41, 368 },
                                                { 14 + 45 * i, 114, 41, 308 },
                                                { 14 + 45 * i, 114, 41, 298 } };
        table["drawbarLabel" + juce::String (i)] = { { 12 + 45 * i, 482, 45, 14 },
                                                     { 12 + 45 * i, 422, 45, 14 },
                                                     { 12 + 45 * i, 412, 45, 14 } };
    }
    return table;
}

enum class Size
{
    opened,
    keysShown,
    keysHidden
};

void expectLayout (OrganEditorTestAccess& access, Size size)
{
    const auto table = expectedPlacements();
    const auto children = access.namedChildren();
    ASSERT_EQ (children.size(), table.size());

    for (const auto& [name, child] : children)
    {
        const auto& p = table.at (name);
        const auto expected = size == Size::opened ? p.opened : size == Size::keysShown ? p.keysShown : p.keysHidden;
        EXPECT_EQ (child->getBounds(), expected) << name;
        EXPECT_TRUE (child->isVisible()) << name;
    }
}
} // namespace

using EditorLayout = EditorFixture;

TEST_F (EditorLayout, PlacesEveryChildInTheThreeWindowSizes)
{
    openEditor();
    auto& keyboard = access->keyboard();

    // Opened: 700 x 520, KEYS off, the keyboard takes no room.
    EXPECT_EQ (editor->getWidth(), 700);
    EXPECT_EQ (editor->getHeight(), 520);
    EXPECT_FALSE (access->keysButton().getToggleState());
    EXPECT_TRUE (keyboard.getBounds().isEmpty());
    expectLayout (*access, Size::opened);

    // KEYS on: the same window, the keyboard across the bottom, the rest above it.
    clickAndWait (access->keysButton());
    EXPECT_EQ (editor->getWidth(), 700);
    EXPECT_EQ (editor->getHeight(), 520);
    EXPECT_TRUE (keyboard.isVisible());
    EXPECT_EQ (keyboard.getBounds(), Rect (0, 460, 700, 60));
    expectLayout (*access, Size::keysShown);

    // KEYS off: the keyboard hides and the window shrinks to 700 x 450.
    clickAndWait (access->keysButton());
    EXPECT_EQ (editor->getWidth(), 700);
    EXPECT_EQ (editor->getHeight(), 450);
    EXPECT_FALSE (keyboard.isVisible());
    expectLayout (*access, Size::keysHidden);

    // And on again: back to 700 x 520 with the keyboard.
    clickAndWait (access->keysButton());
    EXPECT_EQ (editor->getHeight(), 520);
    EXPECT_EQ (keyboard.getBounds(), Rect (0, 460, 700, 60));
    expectLayout (*access, Size::keysShown);
}

TEST_F (EditorLayout, EachControlFollowsItsOwnParameter)
{
    openEditor();
    std::map<juce::String, juce::Component*> byName;
    for (const auto& [name, child] : access->namedChildren())
        byName[name] = child;

    // A slider's value, a switch's state or a box's item index.
    auto shown = [] (juce::Component* c)
    {
        if (auto* slider = dynamic_cast<juce::Slider*> (c))
            return slider->getValue();
        if (auto* button = dynamic_cast<juce::Button*> (c))
            return button->getToggleState() ? 1.0 : 0.0;
        if (auto* box = dynamic_cast<juce::ComboBox*> (c))
            return (double) box->getSelectedItemIndex();
        return -1.0;
    };

    // Every value differs from the parameter's default and from the other rows.
    const struct
    {
        const char* id;
        const char* control;
        float value;
    } bindings[] = {
        { "leslieSpeed", "leslieKnob", 12.0f }, { "drive", "driveKnob", 34.0f },
        { "chorus", "chorusKnob", 56.0f },      { "reverb", "reverbKnob", 78.0f },
        { "volume", "volumeKnob", 21.0f },      { "keyClick", "clickKnob", 43.0f },
        { "percussion", "percButton", 0.0f },   { "percSoft", "percSoftButton", 1.0f },
        { "percFast", "percFastButton", 0.0f }, { "percHarmonic", "percHarmonicBox", 0.0f },
        { "paradiseMod", "paradiseButton", 1.0f }, { "leslieBrake", "brakeButton", 1.0f },
        { "focusMode", "focusButton", 1.0f },
    };

    for (const auto& b : bindings)
    {
        setParameter (b.id, b.value);
        EXPECT_EQ (shown (byName.at (b.control)), (double) b.value) << b.id;
    }

    // Every knob shows its value with "%", the leslie knob too.
    for (const auto* knob : { "leslieKnob", "driveKnob", "chorusKnob", "reverbKnob", "volumeKnob", "clickKnob" })
        EXPECT_TRUE (dynamic_cast<juce::Slider*> (byName.at (knob))->getTextFromValue (50.0).endsWith ("%")) << knob;
}
