// Renders the instrument's editor to PNG files, one per organ type and one with
// the on-screen keyboard shown, for the documentation.
//
//   screenshots [output directory]     (default: docs/images)

#include "OrganEditor.h"
#include "OrganProcessor.h"

#include <iostream>
#include <memory>

namespace
{
bool writePng (juce::Component& component, const juce::File& file)
{
    const auto image = component.createComponentSnapshot (component.getLocalBounds());
    file.deleteFile();
    juce::FileOutputStream out (file);
    juce::PNGImageFormat png;
    if (! out.openedOk() || ! png.writeImageToStream (image, out))
    {
        std::cerr << "cannot write " << file.getFullPathName() << "\n";
        return false;
    }
    std::cout << file.getFullPathName() << " (" << image.getWidth() << " x " << image.getHeight() << ")\n";
    return true;
}

void setOrganType (OrganProcessor& processor, int type)
{
    auto* parameter = processor.parameters.getParameter ("organType");
    parameter->setValueNotifyingHost (parameter->convertTo0to1 ((float) type));
}

juce::Button* findButton (juce::Component& parent, const juce::String& text)
{
    for (auto* child : parent.getChildren())
        if (auto* button = dynamic_cast<juce::Button*> (child); button != nullptr && button->getButtonText() == text)
            return button;
    return nullptr;
}
} // namespace

int main (int argc, char** argv)
{
    juce::ScopedJuceInitialiser_GUI juceInitialiser;

    const juce::File directory = juce::File::getCurrentWorkingDirectory().getChildFile (argc > 1 ? argv[1] : "docs/images");
    if (! directory.createDirectory())
    {
        std::cerr << "cannot create " << directory.getFullPathName() << "\n";
        return 1;
    }

    const char* names[] = { "b3", "farfisa", "vox", "church" };
    bool ok = true;

    for (int type = 0; type < 4; ++type)
    {
        OrganProcessor processor;
        setOrganType (processor, type);
        std::unique_ptr<juce::AudioProcessorEditor> editor (processor.createEditorIfNeeded());
        ok = writePng (*editor, directory.getChildFile (juce::String ("editor-") + names[type] + ".png")) && ok;
    }

    // The keyboard shown, with a chord held on it.
    {
        OrganProcessor processor;
        std::unique_ptr<juce::AudioProcessorEditor> editor (processor.createEditorIfNeeded());
        auto* keys = findButton (*editor, "KEYS");
        if (keys == nullptr)
        {
            std::cerr << "no KEYS switch in the editor\n";
            return 1;
        }
        keys->setToggleState (true, juce::sendNotificationSync);
        for (int note : { 60, 64, 67, 72 })
            processor.onScreenKeyboard.noteOn (1, note, 0.8f);
        ok = writePng (*editor, directory.getChildFile ("editor-keys.png")) && ok;
    }

    return ok ? 0 : 1;
}
