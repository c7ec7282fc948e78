#pragma once

#include "midi/MidiService.h"

/**
    An output port of Windows' own MIDI API (WinMM), opened by the identifier
    the framework lists it under.

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

    /** The port listed under this identifier, opened; null when it is not listed
        or cannot be opened. */
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
