#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/**
    An ImageComponent that stays sharp on screens scaled above 100 %.

    It carries its picture twice: at scale 1, which it shows as an
    ImageComponent does and which gives it its size, and optionally at scale 2.
    Wherever it is painted with more than one physical pixel per point (the
    display's scale, JUCE's global scale factor or a snapshot's), it draws the
    scale-2 picture into the same bounds, so that nothing is scaled up. At
    scale 1 it draws exactly the scale-1 picture.

    Message thread.
*/
class PictureComponent final : public juce::ImageComponent
{
public:
    /** Shows picture, and large (twice its pixels each way, or none) above
        scale 1; sizes the component to picture. */
    void setPictures (const juce::Image& picture, const juce::Image& large);

    /** The picture shown above scale 1, or an invalid image. */
    const juce::Image& getLargeImage() const noexcept { return largeImage; }

    /** True where g draws more than one physical pixel per point: the scale-2
        picture is the sharper one there. */
    static bool drawsAboveScaleOne (juce::Graphics& g);

    void paint (juce::Graphics& g) override;

private:
    juce::Image largeImage;
};
