#include "emulator/EmulatedController.h"

EmulatedController::EmulatedController (ControllerEmulator::Config config)
    : service (std::make_shared<VirtualMidiService>())
    , emulator (std::move (config))
    , adapter (*service, emulator)
{
}

ControllerEmulator::Config EmulatedController::quickResets (ControllerEmulator::Config config)
{
    config.resetDelayMs = 20;
    config.resetDurationMs = 150;
    return config;
}
