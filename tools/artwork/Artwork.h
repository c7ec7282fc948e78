#pragma once

#include <juce_graphics/juce_graphics.h>

/** The main window's pictures, drawn with JUCE's graphics. Every function is
    deterministic: the same build draws the same pixels.

    Each picture is drawn at a scale too, from the same vector drawing, for
    screens scaled above 100 %: at scale 2 it has twice the pixels each way and
    shows the same picture. Sizes and positions below are at scale 1. */
namespace artwork
{
    /** The scales the window carries each picture at: 1, and 2 for every screen
        above 100 %. */
    constexpr int pictureScales[] = { 1, 2 };

    /** The 500 x 395 panel: wordmark, model name, controller illustration, the
        blue rule at y = 140 to 142 and the progress bar's frame, whose outer lines
        lie on x = 19 and 481, y = 256 and 283. */
    juce::Image createBackgroundPicture (int scale = 1);

    /** Mean greys of the three update button pictures. */
    constexpr double normalButtonGrey = 154.0;
    constexpr double overButtonGrey = 169.0;
    constexpr double downButtonGrey = 136.0;

    /** A 150 x 30 rounded grey button captioned "Update Firmware", its shade
        tuned so that meanGrey() of the picture is the target. A pressed button
        is shaded from dark at the top, the others from light at the top. The
        shade is tuned at scale 1 and kept at the other scales. */
    juce::Image createUpdateButtonPicture (double targetMeanGrey, bool pressed, int scale = 1);

    /** A 12 x 12 round lamp of this colour, transparent outside the circle:
        lit (bright, with glare) or off (dark and flat), so that the two differ
        in brightness to eyes that cannot tell red from green. */
    juce::Image createLampPicture (juce::Colour colour, bool lit, int scale = 1);

    /** The sizes of the app icon in the desktop's icon theme. */
    constexpr int appIconSizes[] = { 16, 24, 32, 48, 64, 128, 256 };

    /** The app icon, size x size: a dark rounded tile with a jog wheel and the
        brand-blue arrow of a download into it. Drawn on a 256 grid and scaled, so
        every size shows the same picture. */
    juce::Image createAppIcon (int size);

    /** The mean of (R + G + B) / 3 over the picture's pixels, each weighted by its
        alpha: the grey the picture shows, transparent corners not counting. */
    double meanGrey (const juce::Image& image);
} // namespace artwork
