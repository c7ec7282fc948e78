#pragma once

#include <QB4IIImages.h>

#include <juce_graphics/juce_graphics.h>

/**
    The main window's six embedded PNG pictures, each its bytes and their count,
    ready for juce::ImageCache::getFromMemory (picture.data, picture.size), and
    the same picture drawn at twice the pixels each way for screens scaled above
    100 % (picture.largeData, picture.largeSize).

    The bytes are the files in resources/images (NAME.png and NAME@2x.png),
    compiled in by the build; the artwork generator (tools/artwork) draws them.
    The sizes below are at scale 1, in the window's points.
*/
namespace Pictures
{
    /** One embedded PNG file. */
    struct Picture
    {
        const char* const& data;      ///< the file's bytes
        int size;                     ///< their count
        const char* const& largeData; ///< the file's at scale 2
        int largeSize;                ///< their count

        /** The picture at scale 1, decoded once and cached. */
        juce::Image image() const { return juce::ImageCache::getFromMemory (data, size); }

        /** The picture at scale 2, decoded once and cached. */
        juce::Image largeImage() const { return juce::ImageCache::getFromMemory (largeData, largeSize); }
    };

/** Picture NAME's two files. */
#define QB4II_PICTURE(name) \
    QB4IIImages::name##_png, QB4IIImages::name##_pngSize, QB4IIImages::name##2x_png, QB4IIImages::name##2x_pngSize

    /** 500 x 395: the panel behind everything, with the blue rule and the
        progress bar's frame. */
    inline const Picture backgroundPicture { QB4II_PICTURE (backgroundPicture) };

    /** 150 x 30: the update button, normal, under the mouse, and pressed. */
    inline const Picture updateButtonNormalPicture { QB4II_PICTURE (updateButtonNormalPicture) };
    inline const Picture updateButtonOverPicture { QB4II_PICTURE (updateButtonOverPicture) };
    inline const Picture updateButtonDownPicture { QB4II_PICTURE (updateButtonDownPicture) };

    /** 12 x 12: the connection lamp, green with the controller present, red without. */
    inline const Picture deviceFoundPicture { QB4II_PICTURE (deviceFoundPicture) };
    inline const Picture deviceNotFoundPicture { QB4II_PICTURE (deviceNotFoundPicture) };

#undef QB4II_PICTURE
} // namespace Pictures
