#pragma once

#include <juce_audio_devices/juce_audio_devices.h>

#include <memory>
#include <optional>

/**
    The one seam between the updater and the system's MIDI hardware.

    The MidiManager reaches every port through a MidiService: the platform's
    service in the application, an in-process VirtualMidiService in the tests and
    the demo. A service lists ports by name and identifier, opens them by
    identifier, delivers complete incoming messages on a MIDI thread of its own and
    sends byte strings unchanged.

    Listing and opening are called on the message thread; implementations must
    nevertheless tolerate their port lists changing underneath them at any time,
    as the hardware does.
*/
class MidiService
{
public:
    /** An open input port. Destroying it stops it first. */
    class Input
    {
    public:
        virtual ~Input() = default;

        /** Starts delivering incoming messages to the callback given at opening. */
        virtual void start() = 0;

        /** Stops delivery. When this returns, the callback is not running and will
            not be called again until start() is called. */
        virtual void stop() = 0;

        /** The name and identifier the port was opened under. */
        virtual juce::MidiDeviceInfo getDeviceInfo() const = 0;
    };

    /** An open output port. */
    class Output
    {
    public:
        virtual ~Output() = default;

        /** Hands the bytes to the system at once and unchanged, as one write.
            They need not form a complete MIDI message: slices of one long System
            Exclusive message are sent this way. Returns false when the system
            refused them or the port is gone; the caller decides what that means. */
        virtual bool sendBytes (const void* data, size_t numBytes) = 0;

        /** The name and identifier the port was opened under. */
        virtual juce::MidiDeviceInfo getDeviceInfo() const = 0;
    };

    virtual ~MidiService() = default;

    /** The system's current input ports, freshly listed. */
    virtual juce::Array<juce::MidiDeviceInfo> getInputDevices() = 0;

    /** The system's current output ports, freshly listed. */
    virtual juce::Array<juce::MidiDeviceInfo> getOutputDevices() = 0;

    /** Opens the input with this identifier, stopped. Once started, every complete
        incoming message goes to the callback, on the service's MIDI input thread,
        never on the caller's. The source argument of the callback is the
        framework's input object where the service has one, otherwise null.
        Returns null when the port cannot be opened. */
    virtual std::unique_ptr<Input> openInput (const juce::String& identifier,
                                              juce::MidiInputCallback& callback) = 0;

    /** Opens the output with this identifier, or returns null. */
    virtual std::unique_ptr<Output> openOutput (const juce::String& identifier) = 0;

    /** The other programs connected now to write to the port with this output
        identifier, by the names they give themselves; this program's own
        connections are left out. Programs that only read from the port are not
        writers. Nothing where the platform cannot tell: there, a port another
        program holds fails to open instead. Message thread. */
    virtual std::optional<juce::StringArray> findOtherWriters (const juce::String& outputIdentifier)
    {
        juce::ignoreUnused (outputIdentifier);
        return std::nullopt;
    }

    /** How surely a listed port is a device's rather than a program's: 1 for a
        port the system made for hardware, 0 for one a program made. Where ports
        share a name, the manager opens the one of the highest rank. Wherever the
        platform cannot tell, every port is a device's. Any thread. */
    virtual int getPortRank (const juce::MidiDeviceInfo& port) const
    {
        juce::ignoreUnused (port);
        return 1;
    }

    /** Why the system's MIDI service cannot be used now, in a few words that name
        the cause ("/dev/snd/seq cannot be opened: permission denied"); empty
        while it can. A service that could not be opened tries again whenever
        its ports are listed, so that a fix takes effect without a restart.
        Message thread. */
    virtual juce::String getUnavailableReason() { return {}; }

    /** The service that reaches the hardware of the platform we run on. */
    static std::shared_ptr<MidiService> createPlatformService();
};
