// qb4ii-window-screenshots OUTDIR: shows the main window on the X display at
// JUCE's global scale factors 1, 1.5 and 2, as it stands during an update with
// the built-in controller plugged in, and takes each picture back from the X
// server as a screenshot would: window-after-150.png and so on. "before" shots
// show the same window with its scale-1 pictures only, which JUCE scales up.
//
// For each it prints two sharpness figures: the steepness of the edges of the
// "Korvan" wordmark, in grey levels per physical pixel (higher is sharper; see
// edgeSteepness), and how many
// physical rows the blue rule's top edge takes from the panel's grey to the
// rule's blue. It fails if the 100 % shots differ in any pixel, or if a scaled
// "after" shot is not sharper than its "before".
//
// For the keyboard and for colour-blind eyes it also writes
// window-focused-button.png, the window as it opens, its button holding the
// keyboard focus, and lamps.png: the two lamps at eight times their size, as
// they are and as eyes without red or without green cones see them.

#include "emulator/ColourVisionSimulator.h"
#include "emulator/EmulatedController.h"
#include "engine/PortUpdateLock.h"
#include "midi/MidiManager.h"
#include "ui/MainWindowComponent.h"
#include "ui/PictureButton.h"
#include "ui/PictureComponent.h"
#include "ui/Pictures.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <iostream>
#include <numeric>
#include <vector>

namespace
{
    const juce::Rectangle<int> wordmarkArea (18, 16, 180, 44); // in points
    constexpr int ruleColumn = 10, aboveRule = 130;            // in points
    const juce::Colour ruleBlue (0xff00afec);

    /** The window's pixels as the X server holds them. */
    juce::Image capture (::Display* display, ::Window window)
    {
        XWindowAttributes attributes {};
        XGetWindowAttributes (display, window, &attributes);
        auto* xImage = XGetImage (display, window, 0, 0, (unsigned) attributes.width, (unsigned) attributes.height, AllPlanes, ZPixmap);

        if (xImage == nullptr)
            return {};

        juce::Image image (juce::Image::RGB, attributes.width, attributes.height, false);

        for (int y = 0; y < attributes.height; ++y)
            for (int x = 0; x < attributes.width; ++x)
                image.setPixelAt (x, y, juce::Colour ((juce::uint32) XGetPixel (xImage, x, y) | 0xff000000u));

        XDestroyImage (xImage);
        return image;
    }

    bool samePixels (const juce::Image& a, const juce::Image& b)
    {
        if (a.getBounds() != b.getBounds())
            return false;

        for (int y = 0; y < a.getHeight(); ++y)
            for (int x = 0; x < a.getWidth(); ++x)
                if (a.getPixelAt (x, y) != b.getPixelAt (x, y))
                    return false;

        return true;
    }

    float grey (juce::Colour c) { return (c.getRed() + c.getGreen() + c.getBlue()) / 3.0f; }

    /** The mean of the steepest 5 % of the grey steps between neighbouring
        pixels over the wordmark: an edge drawn at the screen's resolution steps
        in one pixel, one scaled up spreads the step over several. */
    double edgeSteepness (const juce::Image& image, float scale)
    {
        const auto area = (wordmarkArea.toFloat() * scale).toNearestInt().getIntersection (image.getBounds().withTrimmedRight (1).withTrimmedBottom (1));
        std::vector<float> steps;

        for (int y = area.getY(); y < area.getBottom(); ++y)
            for (int x = area.getX(); x < area.getRight(); ++x)
            {
                const auto here = grey (image.getPixelAt (x, y));
                steps.push_back (std::max (std::abs (grey (image.getPixelAt (x + 1, y)) - here),
                                           std::abs (grey (image.getPixelAt (x, y + 1)) - here)));
            }

        const auto steepest = std::max<size_t> (1, steps.size() / 20);
        std::partial_sort (steps.begin(), steps.begin() + (std::ptrdiff_t) steepest, steps.end(), std::greater<>());
        return std::accumulate (steps.begin(), steps.begin() + (std::ptrdiff_t) steepest, 0.0) / (double) steepest;
    }

    int ruleEdgeRows (const juce::Image& image, float scale)
    {
        const auto x = juce::roundToInt ((float) ruleColumn * scale);
        const auto panel = image.getPixelAt (x, juce::roundToInt ((float) aboveRule * scale));
        const auto near = [] (juce::Colour a, juce::Colour b) {
            return std::abs (a.getRed() - b.getRed()) <= 8 && std::abs (a.getGreen() - b.getGreen()) <= 8 && std::abs (a.getBlue() - b.getBlue()) <= 8;
        };

        int first = -1;

        for (int y = juce::roundToInt ((float) aboveRule * scale); y < image.getHeight(); ++y)
        {
            const auto c = image.getPixelAt (x, y);

            if (first < 0 && ! near (c, panel))
                first = y;

            if (first >= 0 && near (c, ruleBlue))
                return y - first;
        }

        return -1;
    }

    /** Runs the message loop until done() or the deadline; false at the deadline. */
    bool pumpUntil (const std::function<bool()>& done, int timeoutMs = 10000)
    {
        const auto deadline = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;

        while (! done())
        {
            if (juce::Time::getMillisecondCounter() > deadline)
                return false;

            juce::MessageManager::getInstance()->runDispatchLoopUntil (20);
        }

        return true;
    }

    /** The window at this scale, with or without its scale-2 pictures, once what
        the X server shows has stopped changing: a little way into an update, or
        as it opens, with the keyboard focus on its button. */
    juce::Image takeShot (::Display* display, float scale, bool withLargePictures, bool asItOpens = false)
    {
        juce::Desktop::getInstance().setGlobalScaleFactor (scale);

        EmulatedController controller;
        MidiManager::Ptr manager = new MidiManager (controller.service);
        ApplicationEngine::Ptr engine = new ApplicationEngine (manager);
        MainWindowComponent::Ptr window (new MainWindowComponent (engine));
        controller.emulator.powerUp();

        auto& versionLabel = *dynamic_cast<juce::Label*> (window->findChildWithID ("currentControlVersionLabel"));
        if (! pumpUntil ([&] { return versionLabel.getText().endsWith ("1.00"); }))
            std::cerr << "the built-in controller's version did not show\n";

        // As the window stands a little way into sending the firmware.
        if (! asItOpens)
        {
            window->updateStateChanged (ApplicationEngine::sending);
            window->updateProgressChanged (0.42);
        }

        if (! withLargePictures)
        {
            for (const auto* id : { "backgroundImage", "deviceIndicator" })
                if (auto* picture = dynamic_cast<PictureComponent*> (window->findChildWithID (id)))
                    picture->setPictures (picture->getImage(), {});

            if (auto* button = dynamic_cast<PictureButton*> (window->findChildWithID ("updateButton")))
                button->setLargeImages ({}, {}, {});
        }

        window->setTopLeftPosition (0, 0);
        window->addToDesktop (juce::ComponentPeer::windowAppearsOnTaskbar);
        window->setVisible (true);

        if (asItOpens)
            window->focusUpdateButton();

        const auto handle = (::Window) window->getPeer()->getNativeHandle();
        juce::Image shot, previous;
        int unchanged = 0;

        pumpUntil ([&] {
            juce::MessageManager::getInstance()->runDispatchLoopUntil (100);
            XSync (display, False);
            shot = capture (display, handle);
            unchanged = samePixels (shot, previous) ? unchanged + 1 : 0;
            previous = shot;
            return unchanged >= 3;
        });

        window->removeFromDesktop();
        return shot;
    }
} // namespace

int main (int argc, char** argv)
{
    if (argc != 2)
    {
        std::cerr << "usage: qb4ii-window-screenshots OUTDIR\n";
        return 2;
    }

    const juce::ScopedJuceInitialiser_GUI juce;

    // As JUCE does for an application (this is not one, to JUCE): an X error,
    // such as asking for a window manager's property on a server without one,
    // is not fatal.
    XSetErrorHandler ([] (::Display*, XErrorEvent*) { return 0; });
    auto* display = XOpenDisplay (nullptr);

    if (display == nullptr)
    {
        std::cerr << "no X display\n";
        return 77;
    }

    // The window's update claims stay in a folder of this run's own.
    juce::TemporaryFile lockFolder ("qb4ii-screenshot-locks");
    lockFolder.getFile().createDirectory();
    PortUpdateLock::setLockFolder (lockFolder.getFile());

    const auto outDir = juce::File::getCurrentWorkingDirectory().getChildFile (argv[1]);
    outDir.createDirectory();
    int failures = 0;
    juce::Image before100, after100;

    for (const float scale : { 1.0f, 1.5f, 2.0f })
    {
        double steepness[2] {};

        for (const bool after : { false, true })
        {
            const auto shot = takeShot (display, scale, after);
            const auto name = juce::String ("window-") + (after ? "after-" : "before-") + juce::String (juce::roundToInt (scale * 100)) + ".png";
            steepness[after ? 1 : 0] = edgeSteepness (shot, scale);

            auto file = outDir.getChildFile (name);
            file.deleteFile();
            juce::FileOutputStream out (file);
            juce::PNGImageFormat().writeImageToStream (shot, out);

            std::cout << name << ": " << shot.getWidth() << " x " << shot.getHeight() << " px, wordmark edge steepness "
                      << juce::String (steepness[after ? 1 : 0], 2) << ", rule edge " << ruleEdgeRows (shot, scale) << " px\n";

            if (scale == 1.0f)
                (after ? after100 : before100) = shot;
        }

        if (scale > 1.0f && steepness[1] <= steepness[0])
        {
            std::cout << "FAILED: at " << scale << " the window is no sharper than before\n";
            ++failures;
        }
    }

    if (! after100.isValid() || ! samePixels (before100, after100))
    {
        std::cout << "FAILED: the 100 % shot changed\n";
        ++failures;
    }
    else
    {
        std::cout << "the 100 % shots are pixel-identical\n";
    }

    const auto write = [&outDir] (const juce::String& name, const juce::Image& image) {
        auto file = outDir.getChildFile (name);
        file.deleteFile();
        juce::FileOutputStream out (file);
        juce::PNGImageFormat().writeImageToStream (image, out);
        std::cout << name << ": " << image.getWidth() << " x " << image.getHeight() << " px\n";
    };

    write ("window-focused-button.png", takeShot (display, 1.0f, true, true));

    // Columns: the lit and the dark lamp; rows: as they are, without red cones,
    // without green cones.
    using Sim = ColourVisionSimulator;
    const auto found = Pictures::deviceFoundPicture.largeImage(), notFound = Pictures::deviceNotFoundPicture.largeImage();
    const int cell = found.getWidth() * 4;
    juce::Image lamps (juce::Image::ARGB, cell * 2, cell * 3, true);
    {
        juce::Graphics g (lamps);
        g.fillAll (juce::Colour (0xffe6e6e6));
        g.setImageResamplingQuality (juce::Graphics::lowResamplingQuality);
        int row = 0;
        for (const auto& [a, b] : { std::pair (found, notFound),
                                    std::pair (Sim::simulate (found, Sim::Deficiency::protanopia), Sim::simulate (notFound, Sim::Deficiency::protanopia)),
                                    std::pair (Sim::simulate (found, Sim::Deficiency::deuteranopia), Sim::simulate (notFound, Sim::Deficiency::deuteranopia)) })
        {
            g.drawImage (a, { 0.0f, (float) (row * cell), (float) cell, (float) cell });
            g.drawImage (b, { (float) cell, (float) (row * cell), (float) cell, (float) cell });
            ++row;
        }
    }
    write ("lamps.png", lamps);

    juce::Desktop::getInstance().setGlobalScaleFactor (1.0f);
    XCloseDisplay (display);
    return failures == 0 ? 0 : 1;
}
