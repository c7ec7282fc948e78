#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/**
    The update's progress bar, as the framework draws it, which also tells a
    screen reader what it shows: its title, and as its value the percentage
    done and, while the firmware is being sent, the time left ("42 %, 1:27
    left"). The framework's own bar reads out a bare number from 0 to 1.

    Message thread.
*/
class UpdateProgressBar final : public juce::ProgressBar
{
public:
    /** Follows progress, as juce::ProgressBar does. */
    explicit UpdateProgressBar (double& progress);

    /** The time the transfer still takes, in seconds; negative: none to tell
        (nothing is being sent). */
    void setSecondsLeft (double seconds);

    /** What a screen reader reads as the bar's value. */
    juce::String describeValue() const;

    std::unique_ptr<juce::AccessibilityHandler> createAccessibilityHandler() override;

private:
    double& progress;
    double secondsLeft = -1.0;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (UpdateProgressBar)
};
