#pragma once

#include "ui/MainWindowComponent.h"

#include <juce_gui_basics/juce_gui_basics.h>

/** The application's one window: fixed size, native title bar, close button only,
    showing a MainWindowComponent it shares but does not own. */
class MainWindow final : public juce::DocumentWindow
    , public juce::ReferenceCountedObject
{
public:
    using Ptr = juce::ReferenceCountedObjectPtr<MainWindow>;

    /** Creates the window on the desktop, centred and visible. Message thread. */
    explicit MainWindow (MainWindowComponent::Ptr component);
    ~MainWindow() override;

    /** Goes through the application's quit guard. Message thread. */
    void closeButtonPressed() override;

private:
    MainWindowComponent::Ptr mainComponent;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainWindow)
};
