#include "app/DemoApplication.h"

DemoApplication::~DemoApplication()
{
    // Unplug the controller before the engine and the manager go.
    adapter.reset();
    emulator.reset();
    demoLockFolder.getFile().deleteRecursively();
}

std::shared_ptr<MidiService> DemoApplication::createMidiService()
{
    // The built-in controller is this process's alone; so are its update claims,
    // which must not hold up an updater writing to a real controller of that name.
    demoLockFolder.getFile().createDirectory();
    PortUpdateLock::setLockFolder (demoLockFolder.getFile());

    service = std::make_shared<VirtualMidiService>();
    emulator = std::make_unique<ControllerEmulator>();
    adapter = std::make_unique<VirtualControllerAdapter> (*service, *emulator);
    return service;
}

void DemoApplication::initialised()
{
    juce::Timer::callAfterDelay (plugInDelayMs, [this] {
        // The application object outlives the message loop.
        if (emulator != nullptr)
            emulator->powerUp();
    });
}
