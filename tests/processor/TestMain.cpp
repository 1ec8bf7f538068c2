#include <juce_events/juce_events.h>

#include <gtest/gtest.h>

// The parameter tree and the editor need JUCE's message manager.
int main (int argc, char** argv)
{
    juce::ScopedJuceInitialiser_GUI juce;
    testing::InitGoogleTest (&argc, argv);
    return RUN_ALL_TESTS();
}
