#include "demo/DemoApplication.h"

DemoApplication::~DemoApplication()
{
    // Unplug the controller before the engine and the manager go.
    controller.reset();
    demoLockFolder.getFile().deleteRecursively();
}

std::shared_ptr<MidiService> DemoApplication::createMidiService()
{
    // The built-in controller is this process's alone; so are its update claims,
    // which must not hold up an updater writing to a real controller of that name.
    demoLockFolder.getFile().createDirectory();
    PortUpdateLock::setLockFolder (demoLockFolder.getFile());

    controller = std::make_unique<EmulatedController>();
    return controller->service;
}

void DemoApplication::initialised()
{
    juce::Timer::callAfterDelay (plugInDelayMs, [this] {
        // The application object outlives the message loop.
        if (controller != nullptr)
            controller->emulator.powerUp();
    });
}
