// artwork-generator OUTDIR: draws the main window's six pictures and writes them
// into OUTDIR as PNG files (8-bit RGBA), printing each one's size and mean grey.
// The pictures in resources/images are this tool's output:
//     artwork-generator resources/images

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
    if (argc != 2)
    {
        std::cerr << "usage: artwork-generator OUTDIR\n";
        return 2;
    }

    // The font system needs JUCE initialised; no display is needed.
    const juce::ScopedJuceInitialiser_GUI juce;

    const auto outDir = juce::File::getCurrentWorkingDirectory().getChildFile (juce::String (argv[1]));

    if (! outDir.createDirectory())
    {
        std::cerr << "cannot create " << outDir.getFullPathName() << "\n";
        return 1;
    }

    const std::pair<const char*, juce::Image> pictures[] = {
        { "backgroundPicture", artwork::createBackgroundPicture() },
        { "updateButtonNormalPicture", artwork::createUpdateButtonPicture (artwork::normalButtonGrey, false) },
        { "updateButtonOverPicture", artwork::createUpdateButtonPicture (artwork::overButtonGrey, false) },
        { "updateButtonDownPicture", artwork::createUpdateButtonPicture (artwork::downButtonGrey, true) },
        { "deviceFoundPicture", artwork::createLampPicture (juce::Colour (0xff2ecc40)) },
        { "deviceNotFoundPicture", artwork::createLampPicture (juce::Colour (0xffe8322b)) },
    };

    for (const auto& [name, image] : pictures)
    {
        const auto file = outDir.getChildFile (juce::String (name) + ".png");

        if (! writePng (file, image))
        {
            std::cerr << "cannot write " << file.getFullPathName() << "\n";
            return 1;
        }

        std::cout << name << ".png: " << image.getWidth() << " x " << image.getHeight()
                  << ", " << file.getSize() << " bytes, mean grey "
                  << juce::String (artwork::meanGrey (image), 1) << "\n";
    }

    return 0;
}
