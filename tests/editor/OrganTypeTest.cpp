#include "EditorFixture.h"

#include <thread>
#include <vector>

namespace
{
const juce::Colour accents[] = { juce::Colour (0xFFFFAA00), juce::Colour (0xFFFF2222), juce::Colour (0xFF2299FF),
                                 juce::Colour (0xFFFFDD44) };

std::array<bool, 4> onlySelected (int type)
{
    std::array<bool, 4> s {};
    s[(size_t) type] = true;
    return s;
}

// Records what a parameter tells its listeners, in order.
struct ParameterLog final : juce::AudioProcessorParameter::Listener
{
    explicit ParameterLog (juce::AudioProcessorParameter& p) : parameter (p) { parameter.addListener (this); }
    ~ParameterLog() override { parameter.removeListener (this); }

    void parameterValueChanged (int, float) override { events.push_back ("value"); }
    void parameterGestureChanged (int, bool starting) override { events.push_back (starting ? "begin" : "end"); }

    juce::AudioProcessorParameter& parameter;
    std::vector<std::string> events;
};
} // namespace

using OrganTypeSwitching = EditorFixture;

TEST_F (OrganTypeSwitching, AClickShowsAtOnceAndTheParameterFollowsAsOneGesture)
{
    openEditor();
    ParameterLog log (*processor.parameters.getParameter ("organType"));

    auto& farfisa = access->organButton (1);
    farfisa.mouseDown (mouseEventOn (farfisa));

    EXPECT_EQ (access->selectedButtons(), onlySelected (1));
    EXPECT_EQ (access->accent(), accents[1]);
    EXPECT_EQ (raw ("organType"), 0.0f); // the parameter follows later, on the message thread

    // A timer tick before the parameter has followed must not take the click back.
    tick();
    EXPECT_EQ (access->shownType(), 1);
    EXPECT_EQ (access->selectedButtons(), onlySelected (1));

    ASSERT_TRUE (runMessagesUntil ([&] { return raw ("organType") == 1.0f; }));
    EXPECT_EQ (log.events, (std::vector<std::string> { "begin", "value", "end" }));

    tick();
    EXPECT_EQ (access->selectedButtons(), onlySelected (1));
    EXPECT_EQ (access->accent(), accents[1]);

    // Clicking the type already shown sends nothing.
    log.events.clear();
    farfisa.mouseDown (mouseEventOn (farfisa));
    runMessagesUntil ([] { return false; }, 50);
    EXPECT_TRUE (log.events.empty());
    EXPECT_EQ (access->selectedButtons(), onlySelected (1));
}

TEST_F (OrganTypeSwitching, AChangeMadeElsewhereAfterAClickWins)
{
    // The host sets the type after the click but before the click has reached the
    // parameter: the host's value is what both the display and the parameter end at.
    openEditor();
    auto& vox = access->organButton (2);
    vox.mouseDown (mouseEventOn (vox));
    setParameter ("organType", 3.0f);
    tick();

    ASSERT_TRUE (runMessagesUntil ([&] { return access->shownType() == 3; }));
    runMessagesUntil ([] { return false; }, 250);
    EXPECT_EQ (raw ("organType"), 3.0f);
    EXPECT_EQ (access->selectedButtons(), onlySelected (3));
}

TEST_F (OrganTypeSwitching, AutomationFromTheAudioThreadReachesTheDisplayThroughTheTimer)
{
    openEditor();
    std::thread automation ([this] { setParameter ("organType", 3.0f); });
    automation.join();

    // The editor's own timer picks it up.
    ASSERT_TRUE (runMessagesUntil ([&] { return access->shownType() == 3; }));
    EXPECT_EQ (access->selectedButtons(), onlySelected (3));
    EXPECT_EQ (access->accent(), accents[3]);
}

TEST_F (OrganTypeSwitching, ANewEditorShowsTheCurrentType)
{
    setParameter ("organType", 2.0f);
    openEditor();
    EXPECT_EQ (access->selectedButtons(), onlySelected (2));
    EXPECT_EQ (access->accent(), accents[2]);
    EXPECT_EQ (raw ("organType"), 2.0f);
}

TEST_F (OrganTypeSwitching, ThePaintedWindowTakesTheAccentOfTheType)
{
    openEditor();

    // The accent whose colour lies nearest to a pixel.
    auto nearestAccent = [] (juce::Colour c)
    {
        int best = -1;
        float bestDistance = 1.0e9f;
        for (int i = 0; i < 4; ++i)
        {
            const float dr = (float) c.getRed() - accents[i].getRed(), dg = (float) c.getGreen() - accents[i].getGreen(),
                        db = (float) c.getBlue() - accents[i].getBlue();
            if (dr * dr + dg * dg + db * db < bestDistance)
            {
                bestDistance = dr * dr + dg * dg + db * db;
                best = i;
            }
        }
        return best;
    };

    // The frame is a faint line of the accent over the dark background: its hue is
    // the difference between the frame column and the column beside it, compared
    // with each accent's difference from the background.
    auto frameAccent = [] (const juce::Image& image, int y)
    {
        const auto frame = image.getPixelAt (0, y), inside = image.getPixelAt (1, y);
        const float d[] = { (float) frame.getRed() - inside.getRed(), (float) frame.getGreen() - inside.getGreen(),
                            (float) frame.getBlue() - inside.getBlue() };
        const juce::Colour background (0xFF1A0A02);
        int best = -1;
        float bestCosine = -2.0f;
        for (int i = 0; i < 4; ++i)
        {
            const float a[] = { (float) accents[i].getRed() - background.getRed(),
                                (float) accents[i].getGreen() - background.getGreen(),
                                (float) accents[i].getBlue() - background.getBlue() };
            const float dot = d[0] * a[0] + d[1] * a[1] + d[2] * a[2];
            const float cosine = dot / (std::sqrt (d[0] * d[0] + d[1] * d[1] + d[2] * d[2])
                                        * std::sqrt (a[0] * a[0] + a[1] * a[1] + a[2] * a[2]) + 1.0e-6f);
            if (cosine > bestCosine)
            {
                bestCosine = cosine;
                best = i;
            }
        }
        return best;
    };

    for (int type : { 2, 0, 3, 1 })
    {
        setParameter ("organType", (float) type);
        tick();
        const auto image = editor->createComponentSnapshot (editor->getLocalBounds());

        // The title's brightest pixel is its solid core, in the accent.
        juce::Colour brightest;
        for (int y = 8; y < 42; ++y)
            for (int x = 0; x < 700; ++x)
                if (const auto c = image.getPixelAt (x, y);
                    c.getRed() + c.getGreen() + c.getBlue() > brightest.getRed() + brightest.getGreen() + brightest.getBlue())
                    brightest = c;
        EXPECT_EQ (nearestAccent (brightest), type) << "title, type " << type;

        EXPECT_EQ (frameAccent (image, 200), type) << "frame, type " << type;

        // The knobs are drawn by the look and feel: the hub of the LESLIE knob is the accent.
        auto& knob = access->leslieKnob();
        const auto layout = knob.getLookAndFeel().getSliderLayout (knob);
        const auto hub = knob.getBounds().getPosition()
                         + juce::Point<int> (layout.sliderBounds.getX() + 8 + (layout.sliderBounds.getWidth() - 16) / 2,
                                             layout.sliderBounds.getY() + 8 + (layout.sliderBounds.getHeight() - 16) / 2);
        EXPECT_EQ (image.getPixelAt (hub.x, hub.y), accents[type]) << "knob hub, type " << type;
    }
}
