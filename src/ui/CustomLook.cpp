#include "ui/CustomLook.h"

namespace
{
    const juce::Colour gradientTopColour (40, 180, 250);    // #28B4FA
    const juce::Colour gradientMiddleColour (37, 168, 242); // #25A8F2
    const juce::Colour gradientEndColour (34, 156, 235);    // #229CEB
} // namespace

const juce::Colour CustomLook::focusRingColour (0xff0b3d91);

CustomLook::CustomLook() = default;

void CustomLook::drawImageButton (juce::Graphics& g, juce::Image* image, int imageX, int imageY, int imageW, int imageH,
                                  const juce::Colour& overlayColour, float imageOpacity, juce::ImageButton& button)
{
    juce::LookAndFeel_V3::drawImageButton (g, image, imageX, imageY, imageW, imageH, overlayColour, imageOpacity, button);

    if (button.hasKeyboardFocus (false))
    {
        g.setColour (focusRingColour);
        g.drawRoundedRectangle (button.getLocalBounds().toFloat().reduced (1.0f), 5.0f, 2.0f);
    }
}

CustomLook::~CustomLook() = default;

void CustomLook::drawProgressBar (juce::Graphics& g, juce::ProgressBar& bar, int width, int height,
                                  double progress, const juce::String& textToShow)
{
    g.fillAll (bar.findColour (juce::ProgressBar::backgroundColourId, false));

    // Written so that NaN, which compares false with everything, draws no fill.
    if (progress >= 0.0 && progress <= 1.0)
    {
        // Shades from the top colour to the middle one over the top 30 % of the
        // height, then stays there: the duplicated stops the gradient inserts
        // make the last colour only the very end of the ramp.
        juce::ColourGradient gradient (gradientTopColour, 0.0f, 0.0f,
                                       gradientMiddleColour, 0.0f, (float) height,
                                       false);
        gradient.addColour (0.0, gradientTopColour);
        gradient.addColour (0.3, gradientMiddleColour);
        gradient.addColour (1.0, gradientEndColour);
        g.setGradientFill (gradient);

        const auto innerWidth = (double) (width - 2);
        const auto fillWidth = juce::jlimit (0.0, juce::jmax (0.0, innerWidth), progress * innerWidth);
        g.fillRect (juce::Rectangle<float> (1.0f, 1.0f, (float) fillWidth, (float) (height - 2)));
    }

    if (textToShow.isNotEmpty())
    {
        g.setColour (juce::Colours::white);
        g.setFont (g.getCurrentFont().withHeight ((float) height * 0.6f));
        g.drawText (textToShow, 0, 0, width, height, juce::Justification::centred, false);
    }
}
