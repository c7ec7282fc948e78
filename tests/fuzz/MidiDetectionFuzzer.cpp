// Incoming MIDI as any device may send it, through the MIDI manager into the
// engine's detection, on the in-process MIDI system. Each input is a list of
// messages (a length byte, then the bytes) arriving from the controller's port
// while detection runs. Detection shows a version only if an identity reply
// that says so arrived, and the engine never starts an update on its own.

#include "engine/ApplicationEngine.h"
#include "firmware/DeviceMessages.h"
#include "firmware/DevicePortNames.h"
#include "emulator/VirtualMidiService.h"
#include "FuzzSupport.h"

#include <set>

namespace
{
    /** One chain for the whole run: detection's first pass takes 100 ms. */
    struct Chain
    {
        Chain()
        {
            service->plugDevice (deviceMidiPortName);

            while (! manager->isInputDeviceOpen (deviceMidiPortName))
                fuzzing::pump (5);
        }

        std::shared_ptr<VirtualMidiService> service = std::make_shared<VirtualMidiService>();
        MidiManager::Ptr manager = new MidiManager (service);
        ApplicationEngine::Ptr engine = new ApplicationEngine (manager);
        std::set<double> versionsSent { 0.0 };
    };
} // namespace

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    fuzzing::ensureMessageThread();
    static Chain chain;
    fuzzing::FuzzInput in (data, size);

    while (! in.empty())
    {
        const auto bytes = in.bytes (in.byte() % 64);
        if (bytes.getSize() == 0)
            continue;

        if (const auto v = parseIdentityReply (bytes.getData(), bytes.getSize()))
            chain.versionsSent.insert (*v);

        chain.service->sendFromDevice (deviceMidiPortName, juce::MidiMessage (bytes.getData(), (int) bytes.getSize(), 0.0));
    }

    chain.service->waitUntilDelivered();
    fuzzing::pump (0);

    if (chain.versionsSent.count (chain.engine->getState().firmwareVersion.load()) == 0)
        fuzzing::broken ("detection shows a version no reply gave");

    if (chain.engine->isUpdating())
        fuzzing::broken ("an update started on its own");

    return 0;
}
