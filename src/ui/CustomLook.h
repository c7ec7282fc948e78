#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/**
    The main window's look-and-feel: LookAndFeel_V3 with the program's own
    progress bar, a blue top-to-bottom gradient inside a one-pixel margin over
    the bar's background colour, with white centred text.

    The picture button is drawn as V3 draws it, with a focus ring while it has
    the keyboard focus. Everything else (labels, the notices) keeps the V3
    drawing. It sets no colours, fonts or options of its own; in particular the
    bar's foreground colour is never used.
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

    /** Draws the picture as V3 does and, while the button has the keyboard
        focus, a ring two points wide around its rounded edge, dark blue over the
        grey button, so that it shows where Return and Space go without relying
        on colour alone. Message thread. */
    void drawImageButton (juce::Graphics& g, juce::Image* image, int imageX, int imageY, int imageW, int imageH,
                          const juce::Colour& overlayColour, float imageOpacity, juce::ImageButton& button) override;

    /** The focus ring's colour. */
    static const juce::Colour focusRingColour;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (CustomLook)
};
