#pragma once

#include "emulator/ControllerEmulator.h"
#include "emulator/VirtualControllerAdapter.h"
#include "emulator/VirtualMidiService.h"

#include <memory>

/**
    A controller emulator plugged into an in-process MIDI system of its own: what
    the demo runs the updater against, and what the tests and benchmarks build
    their chains on. The emulator starts powered off.

    Create and destroy it on the message thread; the service outlives the adapter
    and the emulator, as they require.
*/
struct EmulatedController
{
    explicit EmulatedController (ControllerEmulator::Config config = {});

    /** Timing for tests and benchmarks: resets that take a few of the manager's
        50 ms polls, so that it sees the ports go, and nothing slower. */
    static ControllerEmulator::Config quickResets (ControllerEmulator::Config config = {});

    std::shared_ptr<VirtualMidiService> service;
    ControllerEmulator emulator;
    VirtualControllerAdapter adapter;
};
