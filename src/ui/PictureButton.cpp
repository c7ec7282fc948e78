#include "ui/PictureButton.h"

#include "ui/PictureComponent.h"

void PictureButton::setLargeImages (const juce::Image& normal, const juce::Image& over, const juce::Image& down)
{
    largeNormal = normal;
    largeOver = over;
    largeDown = down;
    repaint();
}

bool PictureButton::keyPressed (const juce::KeyPress& key)
{
    if (isEnabled() && (key.isKeyCode (juce::KeyPress::returnKey) || key.isKeyCode (juce::KeyPress::spaceKey)))
    {
        triggerClick();
        return true;
    }

    return juce::ImageButton::keyPressed (key);
}

void PictureButton::paintButton (juce::Graphics& g, bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown)
{
    if (! largeNormal.isValid() || ! PictureComponent::drawsAboveScaleOne (g))
    {
        juce::ImageButton::paintButton (g, shouldDrawButtonAsHighlighted, shouldDrawButtonAsDown);
        return;
    }

    // The same choice of picture as ImageButton's own.
    auto image = isDown() || getToggleState() ? largeDown : isOver() ? largeOver
                                                                     : largeNormal;
    getLookAndFeel().drawImageButton (g, &image, 0, 0, getWidth(), getHeight(), juce::Colours::transparentWhite, 1.0f, *this);
}
