#pragma once

#include "app/QB4IIFirmwareUpdaterApplication.h"
#include "emulator/EmulatedController.h"

/**
    The updater against its built-in controller: the same application, window and
    engine at the controller's real timing, but on an in-process MIDI system with
    the controller emulator plugged in one second after start, running firmware
    1.00. A user can watch it being found, update it, see it reset and come back
    with 1.05, without any hardware.
*/
class DemoApplication final : public QB4IIFirmwareUpdaterApplication
{
public:
    DemoApplication() = default;
    ~DemoApplication() override;

    /** How long after start-up the built-in controller is plugged in. */
    static constexpr int plugInDelayMs = 1000;

protected:
    std::shared_ptr<MidiService> createMidiService() override;
    void initialised() override;

private:
    std::unique_ptr<EmulatedController> controller;
    juce::TemporaryFile demoLockFolder { "qb4ii-demo-locks" };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (DemoApplication)
};
