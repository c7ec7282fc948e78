#pragma once

#include <juce_graphics/juce_graphics.h>

/**
    How colours look to eyes that lack the red or the green cones, the two
    commonest kinds of colour blindness (about one man in twelve has one of
    them): Machado, Oliveira and Fernandes's simulation (2009) at full severity.
    For the checks and screenshots that show the window's pictures still tell
    their states apart without hue.

    Pure: any thread.
*/
struct ColourVisionSimulator final
{
    enum class Deficiency
    {
        protanopia,  ///< no red cones
        deuteranopia ///< no green cones
    };

    /** The colour as such eyes see it; alpha kept. */
    static juce::Colour simulate (juce::Colour colour, Deficiency deficiency);

    /** The picture as such eyes see it. */
    static juce::Image simulate (const juce::Image& image, Deficiency deficiency);

    /** How bright the picture looks to such eyes: the mean luminance (Rec. 709
        weights) of its pixels as seen, weighted by their alpha, from 0 to 255. */
    static double meanLuminance (const juce::Image& image, Deficiency deficiency);
};
