#pragma once

#include <juce_graphics/juce_graphics.h>

/** Draws a four-deck DJ controller seen from above: four decks with jog wheels
    and pads around a four-channel mixer, with a soft shadow below it.

    The drawing is designed on a 276 x 112 grid and scaled to fill the given
    area (keep that aspect ratio for round jog wheels); the shadow spills a few
    pixels beyond it. */
void drawControllerIllustration (juce::Graphics& g, juce::Rectangle<float> area);
