#include "firmware/DevicePortNames.h"

namespace
{
    // The table below is built from these literals rather than from the two
    // String objects, so that it is right even when asked for during another
    // file's static initialisation.
#if JUCE_WINDOWS
    // Windows (WinMM) lists a USB MIDI device under its product string alone.
    constexpr const char* deviceName = "Korvan QB4 II";
    constexpr const char* usbAudioDeviceName = "Korvan USB Audio Device";
#else
    constexpr const char* deviceName = "Korvan QB4 II MIDI";
    constexpr const char* usbAudioDeviceName = "Korvan USB Audio Device MIDI";
#endif
} // namespace

const juce::String deviceMidiPortName (deviceName);
const juce::String usbAudioDeviceMidiPortName (usbAudioDeviceName);

const juce::StringArray& getAcceptedDevicePortNames()
{
    static const juce::StringArray names = [] {
        juce::StringArray result;
        result.add (deviceName);
        result.add (usbAudioDeviceName);
#if JUCE_LINUX
        result.add (juce::String (deviceName) + " 1");
        result.add (juce::String (usbAudioDeviceName) + " 1");
#endif
        return result;
    }();

    return names;
}

bool isControllerPortName (const juce::String& portName)
{
    return getAcceptedDevicePortNames().contains (portName, false);
}
