#pragma once

#include "emulator/ControllerEmulator.h"
#include "emulator/VirtualMidiService.h"

#include <memory>

/**
    Plugs a ControllerEmulator into a VirtualMidiService: the emulator's ports
    appear and vanish there as a device under the emulator's port name, every byte
    string the application sends to that output goes to the emulator, and every
    message the emulator sends arrives at the application's inputs of that name.

    The emulator's input is fed on the thread that sends to the port (usually the
    message thread). Attach before powering the emulator up, or it is plugged in
    at once if it is present already. Both the service and the emulator must
    outlive the adapter; destroy it on the message thread.
*/
class VirtualControllerAdapter final
{
public:
    VirtualControllerAdapter (VirtualMidiService& service, ControllerEmulator& emulator);

    /** Unplugs the emulator's device from the service and detaches from both. */
    ~VirtualControllerAdapter();

private:
    struct Link;

    void plug (const juce::String& name);
    void unplug (const juce::String& name);

    VirtualMidiService& service;
    ControllerEmulator& emulator;
    std::shared_ptr<Link> link;
    juce::String pluggedName; // guarded by the emulator's lock: only its callbacks and the destructor touch it

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (VirtualControllerAdapter)
};
