#include "firmware/DevicePortNames.h"

#include <gtest/gtest.h>

namespace
{
    /** Each platform's exact table: how its MIDI system lists the controller's
        USB ports, and nothing else. */
    struct PlatformNames
    {
        juce::StringArray accepted;
        juce::StringArray rejected; // near misses, and the other platforms' names
    };

    PlatformNames thisPlatform()
    {
#if JUCE_WINDOWS
        // WinMM: the product string alone.
        return { { "Korvan QB4 II", "Korvan USB Audio Device" },
                 { "Korvan QB4 II MIDI", "Korvan QB4 II MIDI 1", "Korvan USB Audio Device MIDI", "korvan qb4 ii",
                   "Korvan QB4 II ", "Korvan QB4 II 1" } };
#elif JUCE_LINUX
        // ALSA lists a USB MIDI device's first port as "<product> MIDI 1".
        return { { "Korvan QB4 II MIDI", "Korvan USB Audio Device MIDI", "Korvan QB4 II MIDI 1", "Korvan USB Audio Device MIDI 1" },
                 { "Korvan QB4 II", "Korvan USB Audio Device", "Korvan QB4 II MIDI 2", "Korvan QB4 II MIDI 1 " } };
#else
        return { { "Korvan QB4 II MIDI", "Korvan USB Audio Device MIDI" }, { "Korvan QB4 II", "Korvan QB4 II MIDI 1" } };
#endif
    }
} // namespace

TEST (DevicePortNames, TheTableIsExactlyThisPlatformsNames)
{
    const auto expected = thisPlatform();
    const auto& table = getAcceptedDevicePortNames();

    EXPECT_EQ (table, expected.accepted);
    EXPECT_EQ (deviceMidiPortName, expected.accepted[0]);
    EXPECT_EQ (usbAudioDeviceMidiPortName, expected.accepted[1]);

    for (const auto& name : expected.accepted)
        EXPECT_TRUE (isControllerPortName (name)) << "\"" << name << "\"";

    for (const auto& name : expected.rejected)
        EXPECT_FALSE (isControllerPortName (name)) << "\"" << name << "\"";
}

TEST (DevicePortNames, OnlyExactCaseSensitiveMatchesCount)
{
    for (const auto* name : { "korvan qb4 ii midi", "KORVAN QB4 II MIDI", "Korvan QB4 II MIDI ", " Korvan QB4 II MIDI",
                              "Korvan QB4 II MIDI 2", "Korvan QB4 II MIDI 1 ", "Korvan usb audio device MIDI", "", "Midi Through Port-0" })
        EXPECT_FALSE (isControllerPortName (name)) << "\"" << name << "\"";
}
