#pragma once

#include <juce_core/juce_core.h>

/*
    The names under which the controller's USB MIDI ports are listed. Device
    detection treats an output port as the controller when its name is in
    getAcceptedDevicePortNames(), compared whole and case-sensitively.
*/

/** The controller's port name in normal operation: "Korvan QB4 II MIDI"
    ("Korvan QB4 II" on Windows, which lists a USB device by its product string). */
extern const juce::String deviceMidiPortName;

/** The controller's port name in its USB audio device mode:
    "Korvan USB Audio Device MIDI" ("Korvan USB Audio Device" on Windows). */
extern const juce::String usbAudioDeviceMidiPortName;

/** Every port name that is the controller: the two names above and, on Linux,
    the same names followed by " 1", because ALSA lists the first port of a USB
    MIDI device as "<product> MIDI 1". The one table of accepted names.

    Any thread may call it once static initialisation is over. */
const juce::StringArray& getAcceptedDevicePortNames();

/** True when the name equals one of getAcceptedDevicePortNames() exactly
    (case-sensitive, no trimming). Any thread may call it. */
bool isControllerPortName (const juce::String& portName);
