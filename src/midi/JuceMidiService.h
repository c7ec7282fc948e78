#pragma once

#include "midi/MidiService.h"

/**
    A MidiService on the framework's own MidiInput and MidiOutput classes; on
    Windows its outputs are WinMM's own (WinMmMidiOutput), which report every
    failure and bound every wait.

    On platforms whose MIDI service passes byte strings through unchanged this is
    the platform's service.
*/
class JuceMidiService final : public MidiService
{
public:
    JuceMidiService() = default;

    juce::Array<juce::MidiDeviceInfo> getInputDevices() override;
    juce::Array<juce::MidiDeviceInfo> getOutputDevices() override;
    std::unique_ptr<Input> openInput (const juce::String& identifier, juce::MidiInputCallback& callback) override;
    std::unique_ptr<Output> openOutput (const juce::String& identifier) override;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (JuceMidiService)
};
