// artwork-generator OUTDIR: draws the main window's six pictures and writes them
// into OUTDIR as PNG files (8-bit RGBA), printing each one's size and mean grey:
// NAME.png at scale 1, and NAME@2x.png at scale 2 for screens above 100 %.
// artwork-generator --icons OUTDIR: draws the app icon at each of its sizes, as
// qb4ii-firmware-updater-SIZE.png.
// The pictures in resources/images and resources/icons are this tool's output:
//     artwork-generator resources/images
//     artwork-generator --icons resources/icons

#include "Artwork.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <iostream>

namespace
{
    bool writePng (const juce::File& file, const juce::Image& image)
    {
        if (file.existsAsFile() && ! file.deleteFile())
            return false;

        juce::FileOutputStream out (file);

        if (! out.openedOk())
            return false;

        juce::PNGImageFormat png;
        return png.writeImageToStream (image, out) && (out.flush(), out.getStatus().wasOk());
    }
} // namespace

int main (int argc, char** argv)
{
    const bool icons = argc == 3 && juce::String (argv[1]) == "--icons";

    if (argc != 2 && ! icons)
    {
        std::cerr << "usage: artwork-generator [--icons] OUTDIR\n";
        return 2;
    }

    // The font system needs JUCE initialised; no display is needed.
    const juce::ScopedJuceInitialiser_GUI juce;

    const auto outDir = juce::File::getCurrentWorkingDirectory().getChildFile (juce::String (argv[argc - 1]));

    if (! outDir.createDirectory())
    {
        std::cerr << "cannot create " << outDir.getFullPathName() << "\n";
        return 1;
    }

    if (icons)
    {
        for (const int size : artwork::appIconSizes)
        {
            const auto file = outDir.getChildFile ("qb4ii-firmware-updater-" + juce::String (size) + ".png");

            if (! writePng (file, artwork::createAppIcon (size)))
            {
                std::cerr << "cannot write " << file.getFullPathName() << "\n";
                return 1;
            }

            std::cout << file.getFileName() << ": " << file.getSize() << " bytes\n";
        }

        return 0;
    }

    for (const int scale : artwork::pictureScales)
    {
        const std::pair<const char*, juce::Image> pictures[] = {
            { "backgroundPicture", artwork::createBackgroundPicture (scale) },
            { "updateButtonNormalPicture", artwork::createUpdateButtonPicture (artwork::normalButtonGrey, false, scale) },
            { "updateButtonOverPicture", artwork::createUpdateButtonPicture (artwork::overButtonGrey, false, scale) },
            { "updateButtonDownPicture", artwork::createUpdateButtonPicture (artwork::downButtonGrey, true, scale) },
            { "deviceFoundPicture", artwork::createLampPicture (juce::Colour (0xff2ecc40), true, scale) },
            { "deviceNotFoundPicture", artwork::createLampPicture (juce::Colour (0xffe8322b), false, scale) },
        };

        for (const auto& [name, image] : pictures)
        {
            // backgroundPicture.png, backgroundPicture@2x.png
            const auto fileName = juce::String (name) + (scale == 1 ? "" : "@" + juce::String (scale) + "x") + ".png";
            const auto file = outDir.getChildFile (fileName);

            if (! writePng (file, image))
            {
                std::cerr << "cannot write " << file.getFullPathName() << "\n";
                return 1;
            }

            std::cout << fileName << ": " << image.getWidth() << " x " << image.getHeight()
                      << ", " << file.getSize() << " bytes, mean grey "
                      << juce::String (artwork::meanGrey (image), 1) << "\n";
        }
    }

    return 0;
}
