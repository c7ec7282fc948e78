#include "emulator/ColourVisionSimulator.h"

namespace
{
    // Rows give red, green and blue as seen, from the linear mix of the three.
    constexpr float protanopia[3][3] = { { 0.152286f, 1.052583f, -0.204868f },
                                         { 0.114503f, 0.786281f, 0.099216f },
                                         { -0.003882f, -0.048116f, 1.051998f } };
    constexpr float deuteranopia[3][3] = { { 0.367322f, 0.860646f, -0.227968f },
                                           { 0.280085f, 0.672501f, 0.047413f },
                                           { -0.011820f, 0.042940f, 0.968881f } };
} // namespace

juce::Colour ColourVisionSimulator::simulate (juce::Colour colour, Deficiency deficiency)
{
    const auto& m = deficiency == Deficiency::protanopia ? protanopia : deuteranopia;
    const float rgb[3] = { (float) colour.getRed(), (float) colour.getGreen(), (float) colour.getBlue() };
    juce::uint8 seen[3];

    for (int i = 0; i < 3; ++i)
        seen[i] = (juce::uint8) juce::roundToInt (juce::jlimit (0.0f, 255.0f, m[i][0] * rgb[0] + m[i][1] * rgb[1] + m[i][2] * rgb[2]));

    return juce::Colour (seen[0], seen[1], seen[2], colour.getAlpha());
}

juce::Image ColourVisionSimulator::simulate (const juce::Image& image, Deficiency deficiency)
{
    juce::Image seen (juce::Image::ARGB, image.getWidth(), image.getHeight(), true);

    for (int y = 0; y < image.getHeight(); ++y)
        for (int x = 0; x < image.getWidth(); ++x)
            seen.setPixelAt (x, y, simulate (image.getPixelAt (x, y), deficiency));

    return seen;
}

double ColourVisionSimulator::meanLuminance (const juce::Image& image, Deficiency deficiency)
{
    double sum = 0.0, weights = 0.0;

    for (int y = 0; y < image.getHeight(); ++y)
        for (int x = 0; x < image.getWidth(); ++x)
        {
            const auto c = simulate (image.getPixelAt (x, y), deficiency);
            sum += c.getFloatAlpha() * (0.2126 * c.getRed() + 0.7152 * c.getGreen() + 0.0722 * c.getBlue());
            weights += c.getFloatAlpha();
        }

    return weights > 0.0 ? sum / weights : 0.0;
}
