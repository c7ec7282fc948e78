#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/**
    The main window's look-and-feel: LookAndFeel_V3 with the program's own
    progress bar, a blue top-to-bottom gradient inside a one-pixel margin over
    the bar's background colour, with white centred text.

    Everything else (labels, the picture button) keeps the V3 drawing. It sets no
    colours, fonts or options of its own; in particular the bar's foreground
    colour is never used.
*/
class CustomLook final : public juce::LookAndFeel_V3
{
public:
    CustomLook();
    ~CustomLook() override;

    /** Paints a progress bar: the background colour over the whole area, then,
        for a value from 0 to 1, the gradient fill, then the text if there is one.
        Values outside 0 to 1 (and NaN) draw no fill. Message thread. */
    void drawProgressBar (juce::Graphics& g, juce::ProgressBar& bar, int width, int height,
                          double progress, const juce::String& textToShow) override;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (CustomLook)
};
