#include "emulator/VirtualControllerAdapter.h"

#include <mutex>

// Shared with the device receiver, which the service may still be calling on
// another thread after it has been cleared: the receiver feeds the emulator only
// while the adapter is alive.
struct VirtualControllerAdapter::Link
{
    std::mutex lock;
    ControllerEmulator* emulator = nullptr;

    void receive (const juce::MemoryBlock& bytes)
    {
        const std::lock_guard<std::mutex> sl (lock);

        if (emulator != nullptr)
            emulator->receive (bytes.getData(), bytes.getSize());
    }
};

VirtualControllerAdapter::VirtualControllerAdapter (VirtualMidiService& s, ControllerEmulator& e)
    : service (s)
    , emulator (e)
    , link (std::make_shared<Link>())
{
    link->emulator = &emulator;

    emulator.setOutput ([this] (const juce::MemoryBlock& message) {
        service.sendFromDevice (pluggedName, juce::MidiMessage (message.getData(), (int) message.getSize(), 0.0));
    });

    emulator.setPresence ([this] (bool present, const juce::String& name) {
        if (present)
            plug (name);
        else
            unplug (name);
    });

    if (emulator.isPresent())
        plug (emulator.getPortName());
}

VirtualControllerAdapter::~VirtualControllerAdapter()
{
    emulator.setOutput ({});
    emulator.setPresence ({});

    if (pluggedName.isNotEmpty())
        unplug (pluggedName);

    const std::lock_guard<std::mutex> sl (link->lock);
    link->emulator = nullptr;
}

void VirtualControllerAdapter::plug (const juce::String& name)
{
    pluggedName = name;
    service.setDeviceReceiver (name, [l = link] (const juce::MemoryBlock& bytes) { l->receive (bytes); });
    service.plugDevice (name);
}

void VirtualControllerAdapter::unplug (const juce::String& name)
{
    service.unplugDevice (name);
    service.setDeviceReceiver (name, {});
    pluggedName.clear();
}
