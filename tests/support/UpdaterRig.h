#pragma once

#include "emulator/EmulatedController.h"
#include "engine/ApplicationEngine.h"

namespace testing_support
{
    /** The updater's whole chain on an emulated controller: the in-process MIDI
        system, the controller emulator and its adapter, the MIDI manager and the
        engine (detection starts at once; the emulator is powered off). Message
        thread. */
    struct UpdaterRig
    {
        /** The controller's pacing shortened for tests: 256-byte blocks every
            millisecond after a 20 ms erase wait. A transfer takes about a second.
            A controller is asked 300 ms after it, and an unanswered one is
            hinted at after half a second. */
        static FirmwareTiming shortTiming() { return { 256, 1, 20, 30000, 60000, 120000, 300, 500 }; }

        explicit UpdaterRig (FirmwareTiming timing = shortTiming(),
                             ControllerEmulator::Config config = EmulatedController::quickResets(),
                             FirmwareImage image = FirmwareImage::embedded())
            : controller (std::move (config))
            , engine (new ApplicationEngine (manager, timing, image))
        {
        }

        EmulatedController controller;
        std::shared_ptr<VirtualMidiService>& service = controller.service;
        ControllerEmulator& emulator = controller.emulator;
        MidiManager::Ptr manager { new MidiManager (controller.service) };
        ApplicationEngine::Ptr engine;
    };
} // namespace testing_support
