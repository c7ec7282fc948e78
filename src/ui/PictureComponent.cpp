#include "ui/PictureComponent.h"

void PictureComponent::setPictures (const juce::Image& picture, const juce::Image& large)
{
    largeImage = large;
    setImage (picture);
    setSize (picture.getWidth(), picture.getHeight());
}

bool PictureComponent::drawsAboveScaleOne (juce::Graphics& g)
{
    // Allow for the rounding in a transform's scale.
    return g.getInternalContext().getPhysicalPixelScaleFactor() > 1.001f;
}

void PictureComponent::paint (juce::Graphics& g)
{
    if (! largeImage.isValid() || ! drawsAboveScaleOne (g))
    {
        juce::ImageComponent::paint (g);
        return;
    }

    g.setOpacity (1.0f);
    g.drawImage (largeImage, getLocalBounds().toFloat(), getImagePlacement());
}
