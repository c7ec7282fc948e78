#include "Artwork.h"

#include "ControllerIllustration.h"

namespace artwork
{
    namespace
    {
        /** A clear picture of width x height points at the scale, and a context
            that draws on it in points. At scale 1 no transform is added at all. */
        struct Canvas
        {
            Canvas (int width, int height, int scale)
                : image (juce::Image::ARGB, width * scale, height * scale, true)
                , g (image)
            {
                if (scale != 1)
                    g.addTransform (juce::AffineTransform::scale ((float) scale));
            }

            juce::Image image;
            juce::Graphics g;
        };

        constexpr int backgroundWidth = 500;
        constexpr int backgroundHeight = 395;

        const juce::Colour panelTopColour (0xffefefef);
        const juce::Colour panelBottomColour (0xffdddddd);
        const juce::Colour ruleColour (0xff00afec);
        const juce::Colour frameColour (0xff9f9f9f);

        constexpr int ruleTop = 140;                               // rows 140, 141 and 142
        const juce::Rectangle<int> frameBounds (19, 256, 463, 28); // outer lines on x 19 and 481, y 256 and 283

        juce::Font sansSerif (float height, int styleFlags)
        {
            return juce::Font (juce::Font::getDefaultSansSerifFontName(), height, styleFlags);
        }

        void drawPanel (juce::Graphics& g)
        {
            g.setGradientFill (juce::ColourGradient::vertical (panelTopColour, 0.0f, panelBottomColour, (float) backgroundHeight));
            g.fillAll();
        }

        void drawTitles (juce::Graphics& g)
        {
            g.setColour (juce::Colour (0xff1d1f22));
            g.setFont (sansSerif (40.0f, juce::Font::bold).withExtraKerningFactor (-0.02f));
            g.drawText ("Korvan", 18, 16, 180, 44, juce::Justification::centredLeft, false);

            g.setColour (juce::Colour (0xff4a4d52));
            g.setFont (sansSerif (30.0f, juce::Font::plain));
            g.drawText ("QB4 II", 20, 62, 180, 36, juce::Justification::centredLeft, false);

            g.setColour (juce::Colour (0xff8c8f94));
            g.setFont (sansSerif (11.0f, juce::Font::bold).withExtraKerningFactor (0.18f));
            g.drawText ("FIRMWARE UPDATER", 21, 100, 180, 14, juce::Justification::centredLeft, false);
        }

        void drawRule (juce::Graphics& g)
        {
            // A light edge above, the brand blue in the middle, a deeper edge below,
            // and a faint highlight under it, so that it reads as a raised strip.
            g.setColour (ruleColour.interpolatedWith (juce::Colours::white, 0.25f));
            g.fillRect (0, ruleTop, backgroundWidth, 1);
            g.setColour (ruleColour);
            g.fillRect (0, ruleTop + 1, backgroundWidth, 1);
            g.setColour (ruleColour.interpolatedWith (juce::Colour (0xff005f8c), 0.3f));
            g.fillRect (0, ruleTop + 2, backgroundWidth, 1);
            g.setColour (juce::Colours::white.withAlpha (0.55f));
            g.fillRect (0, ruleTop + 3, backgroundWidth, 1);
        }

        void drawProgressFrame (juce::Graphics& g)
        {
            // Stroking through pixel centres puts each straight line on exactly one
            // column or row.
            const auto outline = frameBounds.toFloat().reduced (0.5f);
            constexpr float cornerSize = 3.0f;

            g.setColour (juce::Colour (0xffd3d3d3));
            g.fillRoundedRectangle (outline, cornerSize);

            // A soft inner shadow along the top gives the well some depth.
            g.setColour (juce::Colours::black.withAlpha (0.07f));
            g.fillRect (frameBounds.getX() + 2, frameBounds.getY() + 1, frameBounds.getWidth() - 4, 1);

            g.setColour (frameColour);
            g.drawRoundedRectangle (outline, cornerSize, 1.0f);
        }
    } // namespace

    juce::Image createBackgroundPicture (int scale)
    {
        Canvas canvas (backgroundWidth, backgroundHeight, scale);
        auto& g = canvas.g;

        drawPanel (g);
        drawTitles (g);
        drawControllerIllustration (g, { 207.0f, 12.0f, 276.0f, 112.0f });
        drawRule (g);
        drawProgressFrame (g);

        return canvas.image;
    }

    namespace
    {
        /** The button at one shade: body gradient around the given grey level. */
        juce::Image drawButton (double level, bool pressed, int scale)
        {
            constexpr int width = 150, height = 30;
            Canvas canvas (width, height, scale);
            auto& g = canvas.g;

            const auto grey = [level] (double offset) {
                return juce::Colour::greyLevel ((float) juce::jlimit (0.0, 1.0, (level + offset) / 255.0));
            };

            const auto body = juce::Rectangle<float> (0.0f, 0.0f, (float) width, (float) height);
            const auto outline = body.reduced (0.5f);
            constexpr float cornerSize = 5.0f;

            const auto top = grey (pressed ? -10.0 : 20.0);
            const auto bottom = grey (pressed ? 10.0 : -16.0);
            g.setGradientFill (juce::ColourGradient::vertical (top, 0.0f, bottom, (float) height));
            g.fillRoundedRectangle (body, cornerSize + 0.5f);

            // Upper sheen, or the pressed button's inner shadow.
            if (pressed)
            {
                g.setColour (juce::Colours::black.withAlpha (0.18f));
                g.fillRect (juce::Rectangle<float> (3.0f, 1.0f, (float) width - 6.0f, 1.0f));
            }
            else
            {
                g.setColour (juce::Colours::white.withAlpha (0.35f));
                g.fillRect (juce::Rectangle<float> (3.0f, 1.0f, (float) width - 6.0f, 1.0f));
            }

            g.setColour (grey (-48.0));
            g.drawRoundedRectangle (outline, cornerSize, 1.0f);

            // The caption, with a dark shadow a pixel below to keep it crisp on grey.
            const auto textArea = body.translated (0.0f, pressed ? 1.0f : 0.0f);
            g.setFont (juce::Font (juce::Font::getDefaultSansSerifFontName(), 14.0f, juce::Font::bold));
            g.setColour (juce::Colours::black.withAlpha (0.3f));
            g.drawText ("Update Firmware", textArea.translated (0.0f, 1.0f), juce::Justification::centred, false);
            g.setColour (juce::Colours::white);
            g.drawText ("Update Firmware", textArea, juce::Justification::centred, false);

            return canvas.image;
        }
    } // namespace

    juce::Image createUpdateButtonPicture (double targetMeanGrey, bool pressed, int scale)
    {
        // The mean grey rises with the body's level: bisect for the level that
        // gives the target.
        double low = 0.0, high = 255.0;

        for (int i = 0; i < 40; ++i)
        {
            const auto middle = (low + high) * 0.5;

            if (meanGrey (drawButton (middle, pressed, 1)) < targetMeanGrey)
                low = middle;
            else
                high = middle;
        }

        return drawButton ((low + high) * 0.5, pressed, scale);
    }

    juce::Image createLampPicture (juce::Colour colour, bool lit, int scale)
    {
        constexpr int size = 12;
        Canvas canvas (size, size, scale);
        auto& g = canvas.g;

        const auto disc = juce::Rectangle<float> ((float) size, (float) size).reduced (0.5f);
        const auto centre = disc.getCentre();
        const auto lens = disc.reduced (1.0f);

        // Dark bezel, then the lens.
        g.setColour (colour.darker (0.9f));
        g.fillEllipse (disc);

        if (! lit)
        {
            // Off: a dark, flat lens with a dull rim and no glare, so that it
            // tells itself from the lit lamp by brightness and look, not by hue.
            g.setColour (colour.darker (1.4f));
            g.fillEllipse (lens);
            g.setColour (colour.darker (0.5f));
            g.drawEllipse (lens.reduced (0.5f), 1.0f);
            return canvas.image;
        }

        // Lit from the top left, with its glare.
        g.setGradientFill (juce::ColourGradient (colour.brighter (0.6f), centre.x - 1.5f, centre.y - 2.0f,
                                                 colour.darker (0.25f), centre.x + 3.5f, centre.y + 4.5f, true));
        g.fillEllipse (lens);

        g.setColour (juce::Colours::white.withAlpha (0.7f));
        g.fillEllipse (juce::Rectangle<float> (3.5f, 2.0f).withCentre ({ centre.x - 1.4f, centre.y - 2.6f }));

        return canvas.image;
    }

    juce::Image createAppIcon (int size)
    {
        juce::Image image (juce::Image::ARGB, size, size, true);
        juce::Graphics g (image);
        g.addTransform (juce::AffineTransform::scale ((float) size / 256.0f));

        // The tile: graphite, lit from the top, with a thin lighter rim.
        const juce::Rectangle<float> tile (8.0f, 8.0f, 240.0f, 240.0f);
        g.setGradientFill (juce::ColourGradient::vertical (juce::Colour (0xff3a3d42), tile.getY(),
                                                           juce::Colour (0xff1d1f22), tile.getBottom()));
        g.fillRoundedRectangle (tile, 44.0f);
        g.setColour (juce::Colours::white.withAlpha (0.16f));
        g.drawRoundedRectangle (tile.reduced (3.0f), 41.0f, 6.0f);

        // A jog wheel: platter, rim and a cue mark.
        const juce::Rectangle<float> platter (40.0f, 70.0f, 150.0f, 150.0f);
        g.setGradientFill (juce::ColourGradient (juce::Colour (0xff6b6f76), platter.getX() + 40.0f, platter.getY() + 30.0f,
                                                 juce::Colour (0xff2a2c30), platter.getRight(), platter.getBottom(), true));
        g.fillEllipse (platter);
        g.setColour (juce::Colour (0xffc9ccd1));
        g.drawEllipse (platter.reduced (6.0f), 8.0f);
        g.setColour (juce::Colour (0xff1d1f22));
        g.fillEllipse (platter.withSizeKeepingCentre (34.0f, 34.0f));
        g.setColour (juce::Colours::white);
        g.fillRoundedRectangle (juce::Rectangle<float> (10.0f, 34.0f).withCentre ({ platter.getCentreX(), platter.getY() + 30.0f }), 4.0f);

        // The download arrow, brand blue, over the platter's upper right.
        juce::Path arrow;
        arrow.addRectangle (172.0f, 28.0f, 36.0f, 70.0f);
        arrow.addTriangle (146.0f, 96.0f, 234.0f, 96.0f, 190.0f, 148.0f);
        g.setColour (juce::Colour (0xff1d1f22));
        g.strokePath (arrow, juce::PathStrokeType (12.0f, juce::PathStrokeType::curved));
        g.setColour (juce::Colour (0xff00afec));
        g.fillPath (arrow);

        return image;
    }

    double meanGrey (const juce::Image& image)
    {
        const juce::Image::BitmapData pixels (image, juce::Image::BitmapData::readOnly);
        double weightedSum = 0.0, weights = 0.0;

        for (int y = 0; y < image.getHeight(); ++y)
        {
            for (int x = 0; x < image.getWidth(); ++x)
            {
                const auto c = pixels.getPixelColour (x, y);
                const auto alpha = c.getFloatAlpha();
                weightedSum += alpha * (c.getRed() + c.getGreen() + c.getBlue()) / 3.0;
                weights += alpha;
            }
        }

        return weights > 0.0 ? weightedSum / weights : 0.0;
    }
} // namespace artwork
