#pragma once

#include <QB4IIImages.h>

/**
    The main window's six embedded PNG pictures, each its bytes and their count,
    ready for juce::ImageCache::getFromMemory (picture.data, picture.size).

    The bytes are the files in resources/images, compiled in by the build; the
    artwork generator (tools/artwork) draws them.
*/
namespace Pictures
{
    /** One embedded PNG file. */
    struct Picture
    {
        const char* const& data; ///< the file's bytes
        int size;                ///< their count
    };

    /** 500 x 395: the panel behind everything, with the blue rule and the
        progress bar's frame. */
    inline const Picture backgroundPicture { QB4IIImages::backgroundPicture_png, QB4IIImages::backgroundPicture_pngSize };

    /** 150 x 30: the update button, normal, under the mouse, and pressed. */
    inline const Picture updateButtonNormalPicture { QB4IIImages::updateButtonNormalPicture_png, QB4IIImages::updateButtonNormalPicture_pngSize };
    inline const Picture updateButtonOverPicture { QB4IIImages::updateButtonOverPicture_png, QB4IIImages::updateButtonOverPicture_pngSize };
    inline const Picture updateButtonDownPicture { QB4IIImages::updateButtonDownPicture_png, QB4IIImages::updateButtonDownPicture_pngSize };

    /** 12 x 12: the connection lamp, green with the controller present, red without. */
    inline const Picture deviceFoundPicture { QB4IIImages::deviceFoundPicture_png, QB4IIImages::deviceFoundPicture_pngSize };
    inline const Picture deviceNotFoundPicture { QB4IIImages::deviceNotFoundPicture_png, QB4IIImages::deviceNotFoundPicture_pngSize };
} // namespace Pictures
