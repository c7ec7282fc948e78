#include "firmware/DevicePortNames.h"

#include <gtest/gtest.h>

TEST (DevicePortNames, TheControllersNamesAreAccepted)
{
    EXPECT_EQ (deviceMidiPortName, juce::String ("Korvan QB4 II MIDI"));
    EXPECT_EQ (usbAudioDeviceMidiPortName, juce::String ("Korvan USB Audio Device MIDI"));

    EXPECT_TRUE (isControllerPortName ("Korvan QB4 II MIDI"));
    EXPECT_TRUE (isControllerPortName ("Korvan USB Audio Device MIDI"));

    const auto& table = getAcceptedDevicePortNames();
    EXPECT_TRUE (table.contains (deviceMidiPortName));
    EXPECT_TRUE (table.contains (usbAudioDeviceMidiPortName));

#if JUCE_LINUX
    // ALSA lists a USB MIDI device's first port as "<product> MIDI 1".
    EXPECT_TRUE (isControllerPortName ("Korvan QB4 II MIDI 1"));
    EXPECT_TRUE (isControllerPortName ("Korvan USB Audio Device MIDI 1"));
    EXPECT_EQ (table.size(), 4);
#else
    EXPECT_EQ (table.size(), 2);
#endif
}

TEST (DevicePortNames, OnlyExactCaseSensitiveMatchesCount)
{
    for (const auto* name : { "korvan qb4 ii midi", "KORVAN QB4 II MIDI", "Korvan QB4 II MIDI ", " Korvan QB4 II MIDI",
                              "Korvan QB4 II", "Korvan QB4 II MIDI 2", "Korvan QB4 II MIDI 1 ", "Korvan usb audio device MIDI",
                              "Korvan USB Audio Device", "", "Midi Through Port-0" })
        EXPECT_FALSE (isControllerPortName (name)) << "\"" << name << "\"";
}
