#pragma once

#include "engine/ApplicationEngine.h"

#include <juce_gui_basics/juce_gui_basics.h>

/**
    The main window's content: 500 x 395.

    For now a plain panel of the final size; the window's real content replaces it.
*/
class MainWindowComponent final : public juce::Component
    , public juce::ReferenceCountedObject
    , public juce::KeyListener
{
public:
    using Ptr = juce::ReferenceCountedObjectPtr<MainWindowComponent>;

    explicit MainWindowComponent (ApplicationEngine::Ptr engine);
    ~MainWindowComponent() override;

    /** Consumes every key press that reaches it. Message thread. */
    using juce::Component::keyPressed;
    bool keyPressed (const juce::KeyPress& key, juce::Component* originatingComponent) override;

private:
    ApplicationEngine::Ptr engine;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainWindowComponent)
};
