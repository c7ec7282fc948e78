#pragma once

#include <juce_core/juce_core.h>

#include <poll.h>

#include <vector>

/**
    Where the standalone emulator meets the application: a pair of MIDI ports
    that the controller's presence makes appear and vanish.

    Every method is called on the emulator loop's thread, and the listener is
    called back on it, from within service().
*/
class EmulatorTransport
{
public:
    /** What a transport reports to the loop. Called on the loop's thread. */
    class Listener
    {
    public:
        virtual ~Listener() = default;

        /** Bytes the application sent to the controller, as they arrived. */
        virtual void bytesReceived (const void* data, size_t size) = 0;

        /** The device went away by itself, not by setPresent (a USB unplug). */
        virtual void deviceLost() = 0;

        /** The device is there again after deviceLost, or after setPresent (true). */
        virtual void deviceOpened() = 0;
    };

    virtual ~EmulatorTransport() = default;

    /** Prepares what the ports need, without making them appear. Returns an
        empty string, or what went wrong. */
    virtual juce::String open() = 0;

    /** The descriptors the loop waits on; empty while the ports are away. */
    virtual std::vector<pollfd> getPollDescriptors() = 0;

    /** Reads whatever has arrived, and reopens a lost device. Called after every
        wait of the loop, whether or not a descriptor is ready. */
    virtual void service (Listener& listener) = 0;

    /** Sends one complete message of the controller to the application. Dropped
        while the ports are away. */
    virtual void send (const juce::MemoryBlock& message) = 0;

    /** Makes the controller's ports appear under this name, or vanish. */
    virtual void setPresent (bool present, const juce::String& portName) = 0;
};
