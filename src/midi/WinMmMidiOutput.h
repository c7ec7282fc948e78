#pragma once

#include "midi/MidiService.h"

#include <vector>

/**
    An output port of Windows' own MIDI API (WinMM), opened by the identifier
    the framework lists it under, at the device number WinMM gives it.

    The framework's WinMM output reports nothing back from a send, and waits for
    the driver to hand a long message's buffer back with no limit: a controller
    unplugged during a send could hang the message thread mid-update. Here
    every send reports whether the driver took it, and a long message whose
    buffer is not back within sendTimeoutMs fails; the port then refuses every
    later send (its driver holds a buffer of ours, which is never freed).

    Every System Exclusive slice, however short, goes out as a long message;
    only a complete short message (three bytes or fewer, not F0) goes as one.

    One thread at a time.
*/
class WinMmMidiOutput final : public MidiService::Output
{
public:
    /** A 256-byte slice takes 82 ms at the MIDI wire rate. */
    static constexpr int sendTimeoutMs = 2000;

    enum class Direction
    {
        input,
        output
    };

    /** A port under the framework's identifier and WinMM's own name, with its
        WinMM device number: -1 while WinMM's list and the framework's disagree. */
    struct Port
    {
        juce::MidiDeviceInfo info;
        int deviceId = -1;
    };

    /** The framework's list of WinMM's inputs or outputs, in its order and under
        its identifiers, each port named as WinMM names it. The framework appends
        "-2", "-3"... to the second and later ports of one name, and leaves out a
        device whose capabilities cannot be read, so its positions are not always
        WinMM's device numbers. Message thread. */
    static std::vector<Port> listPorts (Direction direction);

    /** The port listed under this identifier, opened; null when it is not listed,
        cannot be opened, or its device number no longer holds a port of its name. */
    static std::unique_ptr<WinMmMidiOutput> open (const juce::String& identifier);

    ~WinMmMidiOutput() override;

    bool sendBytes (const void* data, size_t numBytes) override;
    juce::MidiDeviceInfo getDeviceInfo() const override { return info; }

private:
    struct Buffer;

    WinMmMidiOutput (void* handle, juce::MidiDeviceInfo info);

    void* const handle; // HMIDIOUT
    const juce::MidiDeviceInfo info;
    bool driverHoldsABuffer = false;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (WinMmMidiOutput)
};
