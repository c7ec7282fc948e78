#include "ControllerIllustration.h"

namespace
{
    constexpr float designWidth = 276.0f;
    constexpr float designHeight = 112.0f;

    constexpr float deckWidth = 50.0f;
    constexpr float mixerWidth = 64.0f;
    constexpr float sideMargin = 6.0f;

    const juce::Colour innerDeckColour (0xff00afec); // decks 1 and 2
    const juce::Colour outerDeckColour (0xffff9a2e); // decks 3 and 4

    void fillVertical (juce::Graphics& g, juce::Rectangle<float> r, juce::Colour top, juce::Colour bottom)
    {
        g.setGradientFill (juce::ColourGradient::vertical (top, r.getY(), bottom, r.getBottom()));
    }

    void drawKnob (juce::Graphics& g, juce::Point<float> centre, float radius, float angle)
    {
        const auto outer = juce::Rectangle<float> (radius * 2.0f, radius * 2.0f).withCentre (centre);

        g.setColour (juce::Colour (0xff0e0f11));
        g.fillEllipse (outer.expanded (0.6f));
        g.setGradientFill (juce::ColourGradient (juce::Colour (0xff6a7079), centre.x - radius * 0.5f, centre.y - radius,
                                                 juce::Colour (0xff24272b), centre.x + radius * 0.5f, centre.y + radius, false));
        g.fillEllipse (outer);
        g.setColour (juce::Colour (0xff1b1d20));
        g.fillEllipse (outer.reduced (radius * 0.3f));

        const auto tip = centre.getPointOnCircumference (radius * 0.95f, angle);
        g.setColour (juce::Colours::white.withAlpha (0.9f));
        g.drawLine ({ centre.getPointOnCircumference (radius * 0.25f, angle), tip }, 0.9f);
    }

    void drawPad (juce::Graphics& g, juce::Rectangle<float> r, juce::Colour colour, bool lit)
    {
        if (lit)
        {
            g.setColour (colour.withAlpha (0.35f));
            g.fillRoundedRectangle (r.expanded (1.0f), 2.5f);
            fillVertical (g, r, colour.brighter (0.35f), colour.darker (0.15f));
        }
        else
        {
            fillVertical (g, r, juce::Colour (0xff4a4e55), juce::Colour (0xff33363b));
        }

        g.fillRoundedRectangle (r, 1.6f);
        g.setColour (juce::Colours::black.withAlpha (0.55f));
        g.drawRoundedRectangle (r, 1.6f, 0.6f);
    }

    void drawRoundButton (juce::Graphics& g, juce::Point<float> centre, float radius, juce::Colour ring)
    {
        const auto r = juce::Rectangle<float> (radius * 2.0f, radius * 2.0f).withCentre (centre);
        fillVertical (g, r, juce::Colour (0xff50545b), juce::Colour (0xff2a2d31));
        g.fillEllipse (r);
        g.setColour (ring);
        g.drawEllipse (r.reduced (0.4f), 1.1f);
    }

    void drawJogWheel (juce::Graphics& g, juce::Point<float> centre, float radius, juce::Colour accent, float markerAngle)
    {
        const auto circle = [centre] (float r) { return juce::Rectangle<float> (r * 2.0f, r * 2.0f).withCentre (centre); };

        // The wheel sits in a dark well.
        g.setColour (juce::Colour (0xff101114));
        g.fillEllipse (circle (radius + 1.4f));

        // Brushed metal rim: light at the top left, dark at the bottom right.
        g.setGradientFill (juce::ColourGradient (juce::Colour (0xffe4e7eb), centre.x - radius * 0.7f, centre.y - radius * 0.7f,
                                                 juce::Colour (0xff6c727a), centre.x + radius * 0.7f, centre.y + radius * 0.7f, false));
        g.fillEllipse (circle (radius));

        // Grip ridges along the rim.
        g.setColour (juce::Colours::black.withAlpha (0.18f));

        for (int i = 0; i < 48; ++i)
        {
            const auto angle = juce::MathConstants<float>::twoPi * (float) i / 48.0f;
            g.drawLine ({ centre.getPointOnCircumference (radius * 0.86f, angle),
                          centre.getPointOnCircumference (radius * 0.99f, angle) },
                        0.5f);
        }

        // The touch-sensitive platter.
        const auto platterRadius = radius * 0.82f;
        g.setGradientFill (juce::ColourGradient (juce::Colour (0xff3a3e44), centre.x, centre.y - platterRadius,
                                                 juce::Colour (0xff15171a), centre.x, centre.y + platterRadius, false));
        g.fillEllipse (circle (platterRadius));

        g.setColour (juce::Colours::white.withAlpha (0.06f));

        for (auto ring : { 0.45f, 0.6f, 0.75f })
            g.drawEllipse (circle (radius * ring), 0.5f);

        // The LED ring.
        g.setColour (accent.withAlpha (0.35f));
        g.drawEllipse (circle (platterRadius - 0.8f), 2.2f);
        g.setColour (accent);
        g.drawEllipse (circle (platterRadius - 0.8f), 0.9f);

        // Position marker and centre cap.
        g.setColour (juce::Colours::white.withAlpha (0.85f));
        g.drawLine ({ centre.getPointOnCircumference (radius * 0.3f, markerAngle),
                      centre.getPointOnCircumference (platterRadius - 2.2f, markerAngle) },
                    1.1f);

        const auto cap = circle (radius * 0.27f);
        g.setGradientFill (juce::ColourGradient (juce::Colour (0xff8a9098), cap.getX(), cap.getY(),
                                                 juce::Colour (0xff2e3136), cap.getRight(), cap.getBottom(), false));
        g.fillEllipse (cap);
        g.setColour (accent.withAlpha (0.9f));
        g.fillEllipse (cap.reduced (cap.getWidth() * 0.36f));
    }

    void drawDeck (juce::Graphics& g, float left, int deckNumber, juce::Colour accent, float markerAngle)
    {
        const auto centreX = left + deckWidth * 0.5f;

        // Deck display with its number.
        const juce::Rectangle<float> display (left + 5.0f, 8.5f, deckWidth - 10.0f, 9.0f);
        g.setColour (juce::Colour (0xff0a0c0e));
        g.fillRoundedRectangle (display, 1.5f);
        g.setColour (accent.withAlpha (0.25f));
        g.fillRoundedRectangle (display.reduced (1.0f).withWidth (display.getWidth() * 0.58f), 1.0f);
        g.setColour (accent);
        g.fillRect (display.reduced (1.5f).withWidth (display.getWidth() * 0.42f).withTrimmedTop (4.5f));
        g.setColour (juce::Colours::white);
        g.setFont (juce::Font (8.0f, juce::Font::bold));
        g.drawText (juce::String (deckNumber), display.withTrimmedLeft (display.getWidth() * 0.6f),
                    juce::Justification::centred, false);

        drawJogWheel (g, { centreX, 40.5f }, 19.0f, accent, markerAngle);

        // Two rows of four performance pads, the upper row lit.
        constexpr float padSize = 9.0f, padGap = 2.0f;
        const auto padsLeft = centreX - (4.0f * padSize + 3.0f * padGap) * 0.5f;

        for (int row = 0; row < 2; ++row)
            for (int column = 0; column < 4; ++column)
                drawPad (g, { padsLeft + (float) column * (padSize + padGap), 65.0f + (float) row * (padSize + padGap), padSize, padSize },
                         accent, row == 0);

        // Transport: cue and play, then sync.
        drawRoundButton (g, { padsLeft + 4.5f, 95.5f }, 4.3f, juce::Colour (0xffffb23f));
        drawRoundButton (g, { padsLeft + 15.5f, 95.5f }, 4.3f, juce::Colour (0xff4cd964));
        const juce::Rectangle<float> sync (padsLeft + 23.0f, 92.5f, 19.0f, 6.0f);
        fillVertical (g, sync, juce::Colour (0xff50545b), juce::Colour (0xff2a2d31));
        g.fillRoundedRectangle (sync, 1.5f);
        g.setColour (accent.withAlpha (0.8f));
        g.drawRoundedRectangle (sync, 1.5f, 0.6f);
    }

    void drawFader (juce::Graphics& g, juce::Rectangle<float> slot, float position, bool horizontal)
    {
        g.setColour (juce::Colour (0xff08090a));
        g.fillRoundedRectangle (slot, 0.8f);

        auto cap = horizontal ? juce::Rectangle<float> (5.0f, 9.0f).withCentre ({ slot.getX() + slot.getWidth() * position, slot.getCentreY() })
                              : juce::Rectangle<float> (10.0f, 5.0f).withCentre ({ slot.getCentreX(), slot.getBottom() - slot.getHeight() * position });

        g.setColour (juce::Colours::black.withAlpha (0.5f));
        g.fillRoundedRectangle (cap.translated (0.0f, 0.8f), 1.0f);
        fillVertical (g, cap, juce::Colour (0xffd8dbdf), juce::Colour (0xff7f858d));
        g.fillRoundedRectangle (cap, 1.0f);
        g.setColour (juce::Colours::white);

        if (horizontal)
            g.fillRect (cap.withSizeKeepingCentre (0.8f, cap.getHeight() - 2.0f));
        else
            g.fillRect (cap.withSizeKeepingCentre (cap.getWidth() - 2.0f, 0.8f));
    }

    void drawMixer (juce::Graphics& g, float left)
    {
        const juce::Rectangle<float> panel (left + 1.0f, 6.0f, mixerWidth - 2.0f, designHeight - 12.0f);
        fillVertical (g, panel, juce::Colour (0xff3b3f45), juce::Colour (0xff2b2e33));
        g.fillRoundedRectangle (panel, 3.0f);
        g.setColour (juce::Colours::black.withAlpha (0.5f));
        g.drawRoundedRectangle (panel, 3.0f, 0.7f);

        // Browser screen with a few list rows.
        const juce::Rectangle<float> screen (left + 6.0f, 9.0f, mixerWidth - 12.0f, 11.0f);
        g.setColour (juce::Colour (0xff081826));
        g.fillRoundedRectangle (screen, 1.2f);

        for (int row = 0; row < 3; ++row)
        {
            g.setColour (innerDeckColour.withAlpha (row == 1 ? 0.95f : 0.45f));
            g.fillRect (screen.getX() + 3.0f, screen.getY() + 2.0f + (float) row * 3.0f,
                        (row == 1 ? 0.75f : 0.55f + 0.1f * (float) row) * (screen.getWidth() - 6.0f), 1.4f);
        }

        // Four channel strips, in the usual 3 1 2 4 order: gain and three-band EQ
        // knobs, a level meter and a channel fader.
        const int channelOrder[] = { 3, 1, 2, 4 };
        const float faderLevels[] = { 0.55f, 0.85f, 0.7f, 0.35f };
        const float knobAngles[][4] = { { -0.6f, 0.0f, 0.4f, -0.3f },
                                        { 0.5f, -0.2f, 0.0f, 0.7f },
                                        { 0.0f, 0.6f, -0.5f, 0.2f },
                                        { -0.4f, 0.1f, 0.3f, -0.7f } };
        constexpr float stripWidth = 14.0f;
        const auto stripsLeft = left + (mixerWidth - 4.0f * stripWidth) * 0.5f;

        for (int strip = 0; strip < 4; ++strip)
        {
            const auto centreX = stripsLeft + stripWidth * ((float) strip + 0.5f);
            const auto accent = (channelOrder[strip] <= 2) ? innerDeckColour : outerDeckColour;

            for (int knob = 0; knob < 4; ++knob)
                drawKnob (g, { centreX, 27.0f + 8.6f * (float) knob }, 3.3f, knobAngles[strip][knob]);

            // Channel number lamp above the fader.
            g.setColour (accent);
            g.fillRoundedRectangle (juce::Rectangle<float> (6.0f, 1.6f).withCentre ({ centreX, 59.5f }), 0.8f);

            // Level meter beside the fader.
            for (int led = 0; led < 8; ++led)
            {
                const auto on = (float) led < faderLevels[strip] * 8.0f;
                const auto colour = led >= 7 ? juce::Colour (0xffff4b3e) : led >= 5 ? juce::Colour (0xffffc83d)
                                                                                    : juce::Colour (0xff4cd964);
                g.setColour (on ? colour : colour.withAlpha (0.15f));
                g.fillRect (centreX + 4.2f, 90.0f - (float) led * 3.4f, 1.6f, 2.4f);
            }

            drawFader (g, { centreX - 0.9f, 63.0f, 1.8f, 29.0f }, faderLevels[strip], false);
        }

        drawFader (g, { left + 14.0f, 99.5f, mixerWidth - 28.0f, 1.8f }, 0.5f, true);
    }

    void drawController (juce::Graphics& g)
    {
        const juce::Rectangle<float> body (0.0f, 0.0f, designWidth, designHeight);

        juce::Path outline;
        outline.addRoundedRectangle (body, 9.0f);
        juce::DropShadow (juce::Colours::black.withAlpha (0.4f), 9, { 0, 4 }).drawForPath (g, outline);

        // Chassis: dark, brushed, with a lighter top edge.
        fillVertical (g, body, juce::Colour (0xff50545b), juce::Colour (0xff26292d));
        g.fillPath (outline);
        g.setColour (juce::Colour (0xff15161a));
        g.strokePath (outline, juce::PathStrokeType (1.0f));
        g.setColour (juce::Colours::white.withAlpha (0.22f));
        g.drawLine (9.0f, 1.2f, designWidth - 9.0f, 1.2f, 0.8f);

        const auto face = body.reduced (3.0f);
        fillVertical (g, face, juce::Colour (0xff34373c), juce::Colour (0xff222428));
        g.fillRoundedRectangle (face, 7.0f);

        // Decks 3 and 1 on the left, the mixer, decks 2 and 4 on the right.
        const auto mixerLeft = sideMargin + 2.0f * deckWidth;
        drawDeck (g, sideMargin, 3, outerDeckColour, -2.3f);
        drawDeck (g, sideMargin + deckWidth, 1, innerDeckColour, 0.6f);
        drawMixer (g, mixerLeft);
        drawDeck (g, mixerLeft + mixerWidth, 2, innerDeckColour, -0.9f);
        drawDeck (g, mixerLeft + mixerWidth + deckWidth, 4, outerDeckColour, 2.0f);

        // Separators between the deck pairs and the mixer.
        g.setColour (juce::Colours::black.withAlpha (0.35f));

        for (auto x : { sideMargin + deckWidth, mixerLeft + mixerWidth + deckWidth })
            g.drawLine (x, 10.0f, x, designHeight - 10.0f, 0.6f);
    }
} // namespace

void drawControllerIllustration (juce::Graphics& g, juce::Rectangle<float> area)
{
    juce::Graphics::ScopedSaveState state (g);
    g.addTransform (juce::AffineTransform::scale (area.getWidth() / designWidth, area.getHeight() / designHeight)
                        .translated (area.getX(), area.getY()));
    drawController (g);
}
