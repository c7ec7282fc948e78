#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/**
    An ImageButton that stays sharp on screens scaled above 100 %, as
    PictureComponent does, and that the keyboard can press: besides its three pictures at scale 1, set with
    ImageButton::setImages(), it can carry them at scale 2, which it draws
    wherever it is painted above scale 1. The scale-2 pictures are drawn at
    full opacity with no overlay colour, as the window sets the others.

    Message thread.
*/
class PictureButton final : public juce::ImageButton
{
public:
    /** The normal, under-the-mouse and pressed pictures at scale 2; invalid
        images draw the scale-1 ones everywhere. */
    void setLargeImages (const juce::Image& normal, const juce::Image& over, const juce::Image& down);

    void paintButton (juce::Graphics& g, bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown) override;

    /** Return and Space press the button while it is enabled and has the
        keyboard focus; other keys go on to its parents. */
    bool keyPressed (const juce::KeyPress& key) override;

private:
    juce::Image largeNormal, largeOver, largeDown;
};
