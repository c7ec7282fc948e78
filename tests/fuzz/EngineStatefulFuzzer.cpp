// The whole chain driven by a fuzzed sequence of events: the controller plugged
// in, in its bootloader, unplugged, misbehaving; messages arriving from it;
// updates started in either form; time passing. The blocks are large, so that a
// whole transfer fits in a few milliseconds of each input. After every event
// the promises of a transfer hold:
//   - "Completed" only when the controller verified the whole image;
//   - no "Update Error" once every block reached the controller.
// The first holds for updates the controller can take: a normal update of a
// controller running its firmware, an emergency update of one in its
// bootloader. The protocol has no answer to a transfer, so an update of the
// wrong form is streamed blind and ignored by the controller; re-detection then
// shows the old version.

#include "firmware/DeviceMessages.h"
#include "support/UpdaterRig.h"
#include "FuzzSupport.h"

namespace
{
    /** Counts the engine's endings as they are announced. Message thread. */
    struct Endings final : ApplicationEngine::Listener
    {
        void updateStateChanged (int state) override
        {
            if (state == ApplicationEngine::complete)
                ++completions;
        }

        void updateErrorOccurred (int) override { ++errors; }
        void updateProgressChanged (double) override {}
        void firmwareVersionChanged (double) override {}
        void hardwareDetectedChanged (bool) override {}

        int completions = 0;
        int errors = 0;
    };

    constexpr unsigned blockSize = 16384; // 9 blocks
} // namespace

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    fuzzing::ensureMessageThread();
    fuzzing::FuzzInput in (data, size);

    ControllerEmulator::Config config;
    config.resetDelayMs = 2;
    config.resetDurationMs = 10;

    testing_support::UpdaterRig rig ({ blockSize, 1, 3, 20 }, config);
    auto& service = rig.service;
    auto& emulator = rig.emulator;
    auto& engine = rig.engine;
    Endings endings;
    engine->addListener (&endings);

    const auto numBlocks = (firmwareImageSize + (int) blockSize - 1) / (int) blockSize;
    int acceptedAtStart = 0, burstsAtStart = 0, completionsSeen = 0, errorsSeen = 0;
    bool started = false, takeable = false;

    const auto checkEndings = [&] {
        if (endings.completions > completionsSeen)
        {
            if (! started || (takeable && emulator.getCounts().imagesAccepted <= acceptedAtStart))
                fuzzing::broken ("\"Completed\" without a verified image");
            completionsSeen = endings.completions;
            started = false;
        }

        if (endings.errors > errorsSeen)
        {
            if (started && (int) emulator.getBursts().size() - burstsAtStart >= numBlocks)
                fuzzing::broken ("\"Update Error\" after every block reached the controller");
            errorsSeen = endings.errors;
            started = false;
        }
    };

    for (int events = 0; ! in.empty() && events < 64; ++events)
    {
        switch (in.byte() % 8)
        {
            case 0: emulator.powerUp(); break;
            case 1: emulator.powerUpInBootloader(); break;
            case 2: emulator.powerDown(); break;
            case 3:
            {
                ControllerEmulator::Faults faults;
                const auto f = in.byte();
                faults.neverAnswer = (f & 1) != 0;
                faults.mixUnrelatedMidi = (f & 2) != 0;
                faults.comeBackUnderAlternateName = (f & 4) != 0;
                faults.unplugAfterBursts = (f >> 3) % 4;
                faults.unplugAfterBurstsForMs = (int) in.byte() % 40 - 5;
                emulator.setFaults (faults);
                break;
            }
            case 4:
            {
                const auto bytes = in.bytes (in.byte() % 48);
                if (bytes.getSize() > 0)
                    service->sendFromDevice (emulator.getPortName(), juce::MidiMessage (bytes.getData(), (int) bytes.getSize(), 0.0));
                break;
            }
            case 5:
                // The endings of an update replaced by this one are its own.
                checkEndings();
                {
                    const bool emergency = (in.byte() & 1) != 0;
                    const auto state = emulator.getState();
                    acceptedAtStart = emulator.getCounts().imagesAccepted;
                    burstsAtStart = (int) emulator.getBursts().size();
                    takeable = emulator.isPresent()
                               && state == (emergency ? ControllerEmulator::State::bootloader : ControllerEmulator::State::normal);
                    started = engine->startUpdate (emergency);
                    break;
                }
            default:
                fuzzing::pump (in.byte() % 16);
                break;
        }

        fuzzing::pump (0);
        checkEndings();
    }

    // Let whatever runs end, then check once more.
    for (int i = 0; i < 50 && engine->isUpdating(); ++i)
        fuzzing::pump (2);
    fuzzing::pump (1);
    checkEndings();

    engine->removeListener (&endings);
    return 0;
}
