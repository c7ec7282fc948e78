#include "ui/CustomLook.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace
{
    constexpr int barWidth = 460;
    constexpr int barHeight = 26;

    const juce::Colour topColour (0xff28b4fa);
    const juce::Colour middleColour (0xff25a8f2);

    /** Paints a bar of the given size through the look into a cleared image. */
    juce::Image paintBar (CustomLook& look, juce::ProgressBar& bar, int width, int height,
                          double value, const juce::String& text)
    {
        juce::Image image (juce::Image::ARGB, width, height, true);
        juce::Graphics g (image);
        look.drawProgressBar (g, bar, width, height, value, text);
        return image;
    }

    /** A bar as the main window sets it up: transparent background, a blue
        foreground that must not show. */
    struct BarFixture
    {
        BarFixture()
        {
            bar.setLookAndFeel (&look);
            bar.setColour (juce::ProgressBar::backgroundColourId, juce::Colours::transparentBlack);
            bar.setColour (juce::ProgressBar::foregroundColourId, juce::Colour (0xff0000ff));
            bar.setSize (barWidth, barHeight);
        }

        ~BarFixture() { bar.setLookAndFeel (nullptr); }

        juce::Image paint (double valueToShow, const juce::String& text = {}, int width = barWidth, int height = barHeight)
        {
            return paintBar (look, bar, width, height, valueToShow, text);
        }

        CustomLook look;
        double value = 0.0;
        juce::ProgressBar bar { value };
    };

    bool isClear (juce::Colour c) { return c.getAlpha() == 0; }

    int countNonClear (const juce::Image& image)
    {
        int count = 0;

        for (int y = 0; y < image.getHeight(); ++y)
            for (int x = 0; x < image.getWidth(); ++x)
                if (! isClear (image.getPixelAt (x, y)))
                    ++count;

        return count;
    }

    bool imagesEqual (const juce::Image& a, const juce::Image& b)
    {
        if (a.getBounds() != b.getBounds())
            return false;

        for (int y = 0; y < a.getHeight(); ++y)
            for (int x = 0; x < a.getWidth(); ++x)
                if (a.getPixelAt (x, y).getARGB() != b.getPixelAt (x, y).getARGB())
                    return false;

        return true;
    }

    /** The box around every pixel the predicate accepts; empty if none. */
    template <typename Predicate>
    juce::Rectangle<int> boundingBox (const juce::Image& image, Predicate accepts)
    {
        int left = image.getWidth(), top = image.getHeight(), right = -1, bottom = -1;

        for (int y = 0; y < image.getHeight(); ++y)
            for (int x = 0; x < image.getWidth(); ++x)
                if (accepts (image.getPixelAt (x, y)))
                {
                    left = juce::jmin (left, x);
                    right = juce::jmax (right, x);
                    top = juce::jmin (top, y);
                    bottom = juce::jmax (bottom, y);
                }

        if (right < 0)
            return {};

        return { left, top, right - left + 1, bottom - top + 1 };
    }

    ::testing::AssertionResult coloursNear (juce::Colour actual, juce::Colour expected, int tolerance)
    {
        const auto near = [tolerance] (int a, int b) { return std::abs (a - b) <= tolerance; };

        if (actual.getAlpha() == 255
            && near (actual.getRed(), expected.getRed())
            && near (actual.getGreen(), expected.getGreen())
            && near (actual.getBlue(), expected.getBlue()))
            return ::testing::AssertionSuccess();

        return ::testing::AssertionFailure() << "got #" << actual.toDisplayString (true)
                                             << ", expected #" << expected.toDisplayString (true)
                                             << " +-" << tolerance;
    }

    /** The fill's colour at a pixel row's centre: top colour to middle colour
        over the top 30 % of the height, the middle colour below. */
    juce::Colour expectedFillColour (int y, int height)
    {
        const auto position = ((double) y + 0.5) / (double) height;
        return topColour.interpolatedWith (middleColour, (float) juce::jmin (1.0, position / 0.3));
    }
} // namespace

TEST (CustomLookTests, FillSpansTheInnerMarginInProportionToTheValue)
{
    BarFixture fixture;

    for (const auto value : { 0.25, 0.5, 0.731, 1.0 })
    {
        SCOPED_TRACE (juce::String ("value ") + juce::String (value));
        const auto image = fixture.paint (value);

        const auto fillEnd = 1.0 + value * (barWidth - 2); // exclusive, in pixels
        const auto lastFullColumn = (int) std::floor (fillEnd) - 1;
        const auto firstClearColumn = (int) std::ceil (fillEnd);

        // Inside: rows 1 to height - 2, columns 1 up to the fill's end.
        for (const auto y : { 1, barHeight / 2, barHeight - 2 })
        {
            EXPECT_FALSE (isClear (image.getPixelAt (1, y))) << "y " << y;
            EXPECT_FALSE (isClear (image.getPixelAt (lastFullColumn, y))) << "y " << y;
            EXPECT_TRUE (isClear (image.getPixelAt (0, y))) << "left margin, y " << y;

            if (firstClearColumn < barWidth)
            {
                EXPECT_TRUE (isClear (image.getPixelAt (firstClearColumn, y))) << "beyond the fill, y " << y;
            }
        }

        // The one-pixel margin above and below stays untouched.
        for (const auto x : { 1, lastFullColumn / 2, lastFullColumn })
        {
            EXPECT_TRUE (isClear (image.getPixelAt (x, 0))) << "x " << x;
            EXPECT_TRUE (isClear (image.getPixelAt (x, barHeight - 1))) << "x " << x;
        }

        // Nothing else is painted: the covered area matches the fill's area.
        const auto expectedArea = value * (barWidth - 2) * (barHeight - 2);
        EXPECT_NEAR ((double) countNonClear (image), expectedArea, barHeight - 2);
    }
}

TEST (CustomLookTests, FullBarStopsOnePixelShortOfEveryEdge)
{
    BarFixture fixture;
    const auto image = fixture.paint (1.0);

    EXPECT_EQ (boundingBox (image, [] (juce::Colour c) { return ! isClear (c); }),
               juce::Rectangle<int> (1, 1, barWidth - 2, barHeight - 2));
    EXPECT_EQ (countNonClear (image), (barWidth - 2) * (barHeight - 2));
}

TEST (CustomLookTests, FillShadesFromTopColourToMiddleColourOverTheTopThirtyPercent)
{
    BarFixture fixture;
    const auto image = fixture.paint (1.0);

    for (const auto x : { 1, 200, barWidth - 2 })
    {
        SCOPED_TRACE (juce::String ("x ") + juce::String (x));

        // The ramp starts at the bar's top edge, so the first filled row, whose
        // centre lies 1.5 pixels down, is already about 2 green levels past the
        // top colour. Each row matches the ramp at its centre to within the
        // gradient table's rounding.
        for (int y = 1; y < barHeight - 1; ++y)
            EXPECT_TRUE (coloursNear (image.getPixelAt (x, y), expectedFillColour (y, barHeight), 1)) << "y " << y;

        // From 30 % of the height down it is the middle colour itself: the stop
        // at 1.0 only ends the ramp and never tints the lower rows.
        for (int y = (int) std::ceil (0.3 * barHeight); y < barHeight - 1; ++y)
            EXPECT_TRUE (coloursNear (image.getPixelAt (x, y), middleColour, 1)) << "y " << y;
    }

    // It really is a ramp: the top is lighter than the bottom.
    EXPECT_GT (image.getPixelAt (100, 1).getGreen(), image.getPixelAt (100, barHeight - 2).getGreen() + 5);
}

TEST (CustomLookTests, ValuesOutsideZeroToOneDrawNoFill)
{
    BarFixture fixture;

    for (const auto value : { 0.0, -0.5, -1.0, 1.0001, 2.0, std::numeric_limits<double>::quiet_NaN(),
                              std::numeric_limits<double>::infinity() })
    {
        EXPECT_EQ (countNonClear (fixture.paint (value)), 0) << "value " << value;
    }
}

TEST (CustomLookTests, BackgroundIsTheBarsOwnColourNotItsParents)
{
    BarFixture fixture;

    fixture.bar.setColour (juce::ProgressBar::backgroundColourId, juce::Colour (0xff404040));
    auto image = fixture.paint (0.5);
    EXPECT_EQ (image.getPixelAt (0, 0).getARGB(), 0xff404040u);
    EXPECT_EQ (image.getPixelAt (barWidth - 1, barHeight - 1).getARGB(), 0xff404040u);

    // Without a colour of its own the bar takes the look's default, not the
    // colour a parent sets for its children.
    juce::Component parent;
    parent.setColour (juce::ProgressBar::backgroundColourId, juce::Colours::red);
    parent.addAndMakeVisible (fixture.bar);
    fixture.bar.removeColour (juce::ProgressBar::backgroundColourId);

    image = fixture.paint (0.5);
    EXPECT_EQ (image.getPixelAt (0, 0).getARGB(),
               fixture.look.findColour (juce::ProgressBar::backgroundColourId).getARGB());
    EXPECT_NE (image.getPixelAt (0, 0).getARGB(), juce::Colours::red.getARGB());

    parent.removeChildComponent (&fixture.bar);
}

TEST (CustomLookTests, ForegroundColourHasNoEffect)
{
    BarFixture fixture;

    for (const auto value : { 0.0, 0.6, 1.0, -1.0 })
    {
        fixture.bar.setColour (juce::ProgressBar::foregroundColourId, juce::Colour (0xff0000ff));
        const auto withBlue = fixture.paint (value, "60%");
        fixture.bar.setColour (juce::ProgressBar::foregroundColourId, juce::Colours::red);
        const auto withRed = fixture.paint (value, "60%");

        EXPECT_TRUE (imagesEqual (withBlue, withRed)) << "value " << value;
    }
}

TEST (CustomLookTests, TextIsWhiteAndCentredWithOrWithoutFill)
{
    BarFixture fixture;

    for (const auto value : { 0.0, 0.42, -1.0 })
    {
        SCOPED_TRACE (juce::String ("value ") + juce::String (value));
        const auto image = fixture.paint (value, "42%");

        // Text pixels: the only pixels with a red channel well above the fill's 40.
        const auto isText = [value] (juce::Colour c) {
            return value > 0.0 ? c.getAlpha() == 255 && c.getRed() > 120 : ! isClear (c);
        };
        const auto box = boundingBox (image, isText);
        ASSERT_FALSE (box.isEmpty());

        EXPECT_NEAR (box.getCentreX(), barWidth / 2, 2) << box.toString();
        EXPECT_NEAR (box.getCentreY(), barHeight / 2, 2) << box.toString();

        // The glyphs' solid pixels are pure white.
        int solidWhite = 0;

        for (int y = box.getY(); y < box.getBottom(); ++y)
            for (int x = box.getX(); x < box.getRight(); ++x)
                if (image.getPixelAt (x, y).getARGB() == 0xffffffffu)
                    ++solidWhite;

        EXPECT_GT (solidWhite, 20);
    }
}

TEST (CustomLookTests, TextHeightFollowsTheBarsHeight)
{
    BarFixture fixture;
    const auto hasInk = [] (juce::Colour c) { return c.getAlpha() > 127; };

    const auto small = boundingBox (fixture.paint (-1.0, "100%", barWidth, barHeight), hasInk);
    const auto large = boundingBox (fixture.paint (-1.0, "100%", barWidth, 2 * barHeight), hasInk);

    // 0.6 of 26 is 15.6: digits and % of that font are about 11 pixels tall.
    EXPECT_NEAR (small.getHeight(), 0.6 * barHeight * 0.73, 2.0) << small.toString();
    EXPECT_NEAR ((double) large.getHeight() / small.getHeight(), 2.0, 0.2)
        << small.toString() << " " << large.toString();
    EXPECT_NEAR ((double) large.getWidth() / small.getWidth(), 2.0, 0.2)
        << small.toString() << " " << large.toString();
}

TEST (CustomLookTests, EmptyTextDrawsNoText)
{
    BarFixture fixture;

    EXPECT_EQ (countNonClear (fixture.paint (-1.0, {})), 0);
    EXPECT_TRUE (imagesEqual (fixture.paint (0.5, {}), fixture.paint (0.5)));
    EXPECT_FALSE (imagesEqual (fixture.paint (0.5, {}), fixture.paint (0.5, "50%")));
}

TEST (CustomLookTests, InstalledOnAProgressBarItDrawsTheBarAndItsPercentage)
{
    CustomLook look;
    double value = 0.5;
    juce::ProgressBar bar (value);
    bar.setLookAndFeel (&look);
    bar.setColour (juce::ProgressBar::backgroundColourId, juce::Colours::transparentBlack);
    bar.setColour (juce::ProgressBar::foregroundColourId, juce::Colour (0xff0000ff));
    bar.setSize (barWidth, barHeight);

    const auto snapshot = bar.createComponentSnapshot (bar.getLocalBounds()).convertedToFormat (juce::Image::ARGB);

    EXPECT_TRUE (isClear (snapshot.getPixelAt (0, 0)));
    EXPECT_TRUE (coloursNear (snapshot.getPixelAt (5, barHeight - 3), middleColour, 1));
    EXPECT_TRUE (coloursNear (snapshot.getPixelAt (1 + 229 - 1, barHeight - 3), middleColour, 1));
    EXPECT_TRUE (isClear (snapshot.getPixelAt (1 + 229 + 1, barHeight - 3)));

    // The percentage, "50%", straddles the fill's end in the middle of the bar.
    const auto text = boundingBox (snapshot, [] (juce::Colour c) { return c.getAlpha() > 0 && c.getRed() > 200; });
    EXPECT_NEAR (text.getCentreX(), barWidth / 2, 2) << text.toString();

    bar.setLookAndFeel (nullptr);
}
