#pragma once

#include "EmulatorTransport.h"

struct _snd_rawmidi;

/**
    The controller on a raw MIDI device, such as the device side of an emulated
    USB MIDI controller (a USB gadget's MIDI function).

    The device is the controller's ports: the application sees them as long as
    the device is plugged in. The emulator cannot unplug a USB device by itself,
    so a reset runs the unplug command, then the plug command, and the device is
    reopened once it is back. A device that goes away by itself (someone pulled
    the cable) is reported to the listener and reopened when it returns.
*/
class RawMidiTransport final : public EmulatorTransport
{
public:
    /** Commands are run with the shell; either may be empty. */
    RawMidiTransport (juce::String deviceName, juce::String unplugCommand, juce::String plugCommand);
    ~RawMidiTransport() override;

    juce::String open() override;
    std::vector<pollfd> getPollDescriptors() override;
    void service (Listener& listener) override;
    void send (const juce::MemoryBlock& message) override;
    void setPresent (bool present, const juce::String& portName) override;

private:
    /** Opens the device: 0, or alsa-lib's error code while it is not there. Quiet. */
    int tryOpen();
    void close();
    void runCommand (const char* what, const juce::String& command);

    const juce::String deviceName, unplugCommand, plugCommand;
    _snd_rawmidi* input = nullptr;
    _snd_rawmidi* output = nullptr;
    bool reopenWanted = false;
    double nextOpenAttemptMs = 0.0;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (RawMidiTransport)
};
