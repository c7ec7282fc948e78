#include "emulator/ColourVisionSimulator.h"
#include "ui/Pictures.h"

#include <gtest/gtest.h>

#include <juce_gui_basics/juce_gui_basics.h>

namespace
{
    juce::String hex (juce::Colour c) { return "#" + c.toDisplayString (true); }

    /** The mean of (R + G + B) / 3 weighted by alpha: the grey a picture shows,
        its transparent corners not counting. */
    double meanGrey (const juce::Image& image)
    {
        double weightedSum = 0.0, weights = 0.0;

        for (int y = 0; y < image.getHeight(); ++y)
            for (int x = 0; x < image.getWidth(); ++x)
            {
                const auto c = image.getPixelAt (x, y);
                weightedSum += c.getFloatAlpha() * (c.getRed() + c.getGreen() + c.getBlue()) / 3.0;
                weights += c.getFloatAlpha();
            }

        return weightedSum / weights;
    }

    bool isGreyish (juce::Colour c)
    {
        return std::abs (c.getRed() - c.getBlue()) < 12 && std::abs (c.getGreen() - c.getBlue()) < 12;
    }
} // namespace

TEST (ArtworkTests, EveryPictureIsAnRgbaPngOfItsSize)
{
    const std::tuple<const char*, const Pictures::Picture*, int, int> pictures[] = {
        { "backgroundPicture", &Pictures::backgroundPicture, 500, 395 },
        { "updateButtonNormalPicture", &Pictures::updateButtonNormalPicture, 150, 30 },
        { "updateButtonOverPicture", &Pictures::updateButtonOverPicture, 150, 30 },
        { "updateButtonDownPicture", &Pictures::updateButtonDownPicture, 150, 30 },
        { "deviceFoundPicture", &Pictures::deviceFoundPicture, 12, 12 },
        { "deviceNotFoundPicture", &Pictures::deviceNotFoundPicture, 12, 12 },
    };

    for (const auto& [name, picture, width, height] : pictures)
    {
        SCOPED_TRACE (name);
        ASSERT_GT (picture->size, 33);

        // PNG signature, then the header chunk: bit depth 8, colour type 6 (RGBA).
        const auto* bytes = reinterpret_cast<const unsigned char*> (picture->data);
        EXPECT_EQ (juce::String::fromUTF8 (picture->data + 1, 3), "PNG");
        EXPECT_EQ (juce::String::fromUTF8 (picture->data + 12, 4), "IHDR");
        EXPECT_EQ (bytes[24], 8);
        EXPECT_EQ (bytes[25], 6);

        const auto image = picture->image();
        ASSERT_TRUE (image.isValid());
        EXPECT_EQ (image.getWidth(), width);
        EXPECT_EQ (image.getHeight(), height);

        // The same picture at scale 2: twice the pixels each way, the same greys.
        const auto large = picture->largeImage();
        EXPECT_EQ (large.getBounds(), image.getBounds() * 2);
        EXPECT_NEAR (meanGrey (large), meanGrey (image), 1.0);
    }
}

TEST (ArtworkTests, BackgroundIsAnOpaqueLightGreyPanel)
{
    const auto image = Pictures::backgroundPicture.image();

    for (int y = 0; y < image.getHeight(); ++y)
        for (int x = 0; x < image.getWidth(); ++x)
            ASSERT_EQ (image.getPixelAt (x, y).getAlpha(), 255) << x << ", " << y;

    // About #EFEFEF at the top and #DDDDDD at the bottom, lighter to darker.
    const auto top = image.getPixelAt (2, 2);
    const auto bottom = image.getPixelAt (250, 394);
    EXPECT_TRUE (isGreyish (top) && std::abs (top.getRed() - 0xef) <= 3) << hex (top);
    EXPECT_TRUE (isGreyish (bottom) && std::abs (bottom.getRed() - 0xdd) <= 3) << hex (bottom);
}

TEST (ArtworkTests, BlueRuleCrossesTheFullWidthAtRows140To142)
{
    const auto image = Pictures::backgroundPicture.image();

    for (const auto x : { 0, 1, 19, 137, 250, 390, 481, 498, 499 })
    {
        SCOPED_TRACE (juce::String ("x ") + juce::String (x));

        EXPECT_EQ (image.getPixelAt (x, 141).getARGB(), 0xff00afecu) << hex (image.getPixelAt (x, 141));

        for (const auto y : { 140, 142 })
        {
            const auto c = image.getPixelAt (x, y);
            EXPECT_TRUE (c.getBlue() > 180 && c.getRed() < 110 && c.getBlue() > c.getRed() + 100) << "y " << y << ": " << hex (c);
        }

        // The rows around it are the panel's grey: the rule is three pixels high.
        for (const auto y : { 139, 143 })
            EXPECT_TRUE (isGreyish (image.getPixelAt (x, y))) << "y " << y << ": " << hex (image.getPixelAt (x, y));
    }
}

TEST (ArtworkTests, ProgressFrameLiesOnColumns19And481AndRows256And283)
{
    const auto image = Pictures::backgroundPicture.image();
    const juce::Colour frame (0xff9f9f9f);

    // The straight parts of the one-pixel frame.
    for (int y = 262; y <= 277; ++y)
    {
        EXPECT_EQ (image.getPixelAt (19, y), frame) << "x 19, y " << y << ": " << hex (image.getPixelAt (19, y));
        EXPECT_EQ (image.getPixelAt (481, y), frame) << "x 481, y " << y << ": " << hex (image.getPixelAt (481, y));
    }

    for (const auto x : { 30, 137, 250, 400, 470 })
    {
        EXPECT_EQ (image.getPixelAt (x, 256), frame) << "x " << x << ", y 256: " << hex (image.getPixelAt (x, 256));
        EXPECT_EQ (image.getPixelAt (x, 283), frame) << "x " << x << ", y 283: " << hex (image.getPixelAt (x, 283));
    }

    // Just outside it the panel; inside it a grey darker than the panel but
    // lighter than the frame, where the progress bar's margin shows it.
    const auto panel = image.getPixelAt (10, 270);

    for (const auto& [x, y] : { std::pair (18, 270), std::pair (482, 270), std::pair (250, 255), std::pair (250, 284) })
    {
        const auto c = image.getPixelAt (x, y);
        EXPECT_TRUE (isGreyish (c) && std::abs (c.getRed() - panel.getRed()) <= 3) << x << ", " << y << ": " << hex (c);
    }

    for (const auto& [x, y] : { std::pair (20, 270), std::pair (480, 270), std::pair (250, 260), std::pair (250, 282) })
    {
        const auto c = image.getPixelAt (x, y);
        EXPECT_TRUE (isGreyish (c)) << x << ", " << y << ": " << hex (c);
        EXPECT_LT (c.getRed(), panel.getRed() - 5) << x << ", " << y << ": " << hex (c);
        EXPECT_GT (c.getRed(), frame.getRed() + 20) << x << ", " << y << ": " << hex (c);
    }
}

TEST (ArtworkTests, HeaderHoldsTitlesAtTheLeftAndTheControllerAtTheRight)
{
    const auto image = Pictures::backgroundPicture.image();

    const auto countPixels = [&image] (juce::Rectangle<int> area, auto predicate) {
        int count = 0;

        for (int y = area.getY(); y < area.getBottom(); ++y)
            for (int x = area.getX(); x < area.getRight(); ++x)
                if (predicate (image.getPixelAt (x, y)))
                    ++count;

        return count;
    };

    const auto dark = [] (juce::Colour c) { return c.getBrightness() < 0.35f; };
    const auto vivid = [] (juce::Colour c) { return c.getSaturation() > 0.6f && c.getBrightness() > 0.6f; };

    // Titles: dark type at the top left, on the panel.
    EXPECT_GT (countPixels ({ 15, 10, 185, 100 }, dark), 500);

    // The controller: a mostly dark body with coloured lights at the top right.
    const juce::Rectangle<int> controller (215, 20, 260, 95);
    EXPECT_GT (countPixels (controller, dark), controller.getWidth() * controller.getHeight() / 2);
    EXPECT_GT (countPixels (controller, vivid), 300);

    // Below the rule, away from the frame, the panel is plain.
    EXPECT_EQ (countPixels ({ 0, 150, 500, 100 }, [] (juce::Colour c) { return ! isGreyish (c); }), 0);
    EXPECT_EQ (countPixels ({ 0, 290, 500, 105 }, [] (juce::Colour c) { return ! isGreyish (c); }), 0);
}

TEST (ArtworkTests, UpdateButtonsAreGreyRoundedAndCaptionedInWhite)
{
    const std::tuple<const char*, const Pictures::Picture*, double> buttons[] = {
        { "normal", &Pictures::updateButtonNormalPicture, 154.0 },
        { "over", &Pictures::updateButtonOverPicture, 169.0 },
        { "down", &Pictures::updateButtonDownPicture, 136.0 },
    };

    for (const auto& [name, picture, expectedGrey] : buttons)
    {
        SCOPED_TRACE (name);
        const auto image = picture->image();

        EXPECT_NEAR (meanGrey (image), expectedGrey, 3.0);

        // Rounded: the corners are transparent, the edges' middles opaque.
        for (const auto& [x, y] : { std::pair (0, 0), std::pair (149, 0), std::pair (0, 29), std::pair (149, 29) })
            EXPECT_EQ (image.getPixelAt (x, y).getAlpha(), 0) << x << ", " << y;

        for (const auto& [x, y] : { std::pair (75, 0), std::pair (75, 29), std::pair (0, 15), std::pair (149, 15) })
            EXPECT_EQ (image.getPixelAt (x, y).getAlpha(), 255) << x << ", " << y;

        // Grey body at the ends of the caption's row, solid white glyphs between.
        EXPECT_TRUE (isGreyish (image.getPixelAt (6, 15))) << hex (image.getPixelAt (6, 15));
        int white = 0;

        for (int y = 8; y < 22; ++y)
            for (int x = 15; x < 135; ++x)
                if (image.getPixelAt (x, y).getARGB() == 0xffffffffu)
                    ++white;

        EXPECT_GT (white, 150);
    }

    EXPECT_GT (meanGrey (Pictures::updateButtonOverPicture.image()), meanGrey (Pictures::updateButtonNormalPicture.image()));
    EXPECT_GT (meanGrey (Pictures::updateButtonNormalPicture.image()), meanGrey (Pictures::updateButtonDownPicture.image()));
}

TEST (ArtworkTests, LampsAreRoundGreenAndRed)
{
    const auto found = Pictures::deviceFoundPicture.image();
    const auto notFound = Pictures::deviceNotFoundPicture.image();

    for (const auto& [x, y] : { std::pair (6, 6), std::pair (5, 7), std::pair (7, 8) })
    {
        const auto green = found.getPixelAt (x, y);
        const auto red = notFound.getPixelAt (x, y);

        EXPECT_TRUE (green.getAlpha() == 255 && green.getGreen() > green.getRed() + 60 && green.getGreen() > green.getBlue() + 60)
            << x << ", " << y << ": " << hex (green);
        EXPECT_TRUE (red.getAlpha() == 255 && red.getRed() > red.getGreen() + 60 && red.getRed() > red.getBlue() + 60)
            << x << ", " << y << ": " << hex (red);
    }

    // To eyes without red or green cones the lamps still differ clearly in
    // brightness, not by hue alone.
    using Sim = ColourVisionSimulator;
    for (const auto deficiency : { Sim::Deficiency::protanopia, Sim::Deficiency::deuteranopia })
        EXPECT_GT (Sim::meanLuminance (found, deficiency) - Sim::meanLuminance (notFound, deficiency), 60.0);

    // Transparent outside the circle: every corner pixel.
    for (const auto& [x, y] : { std::pair (0, 0), std::pair (11, 0), std::pair (0, 11), std::pair (11, 11) })
    {
        EXPECT_EQ (found.getPixelAt (x, y).getAlpha(), 0) << x << ", " << y;
        EXPECT_EQ (notFound.getPixelAt (x, y).getAlpha(), 0) << x << ", " << y;
    }
}
