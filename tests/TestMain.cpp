#include <gtest/gtest.h>

#include <juce_gui_basics/juce_gui_basics.h>

namespace
{
    // Alert windows need JUCE's forgiving X error handler, which it only installs
    // when it believes it runs as an application. A factory that is never called
    // is enough for that.
    juce::JUCEApplicationBase* neverCreated() { return nullptr; }
} // namespace

int main (int argc, char** argv)
{
    ::testing::InitGoogleTest (&argc, argv);

    juce::JUCEApplicationBase::createInstance = &neverCreated;
    const juce::ScopedJuceInitialiser_GUI juce;

    return RUN_ALL_TESTS();
}
