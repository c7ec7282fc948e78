#pragma once

#include "emulator/ControllerEmulator.h"

#include <optional>

/**
    The command line of the standalone controller emulator, read into the
    emulator's configuration and the choices of the program around it.

    Pure: any thread.
*/
class EmulatorOptions final
{
public:
    enum class Transport
    {
        sequencer, ///< a pair of ALSA sequencer ports of its own
        rawMidi    ///< a raw MIDI device, such as a USB gadget's device side
    };

    Transport transport = Transport::sequencer;
    juce::String rawMidiDevice;        ///< for rawMidi: "hw:ID,0"
    ControllerEmulator::Config config; ///< version, image check, reset times
    bool bootloader = false;           ///< power up in the bootloader
    bool keepRunning = false;          ///< go on after the first image
    int logEveryNthBurst = 50;         ///< 0: no burst lines; 1: every burst
    juce::String unplugCommand;        ///< rawMidi: run by a reset to unplug the device
    juce::String plugCommand;          ///< rawMidi: run by a reset to plug it in again

    /** Reads the arguments (without the program name). On a mistake, returns
        nothing and sets error to a one-line explanation. */
    static std::optional<EmulatorOptions> parse (const juce::StringArray& args, juce::String& error);

    /** Reads "1.05" (major, then one digit each for minor and patch, as the
        identity reply carries them: 01 00 05) or "1.0.5". */
    static std::optional<ControllerEmulator::Version> parseVersion (const juce::String& text);

    /** The usage text, several lines. */
    static juce::String getUsage();

private:
    JUCE_LEAK_DETECTOR (EmulatorOptions)
};
