// The controller emulator's reassembly and state machine, fed any bytes in any
// slicing, with power cycles and time passing in between. Pieces of the real
// erase request and image are among the operations, so that the fuzzer reaches
// the image checks. The emulator accepts an image only when it is the real
// one, sends only well-formed messages, and never counts more replies than
// requests.

#include "firmware/DeviceMessages.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    fuzzing::FuzzInput in (data, size);

    ControllerEmulator::Config config;
    config.resetDelayMs = 20;
    config.resetDurationMs = 50;

    auto scheduler = std::make_unique<fuzzing::StepScheduler>();
    auto* clock = scheduler.get();
    ControllerEmulator emulator (config, std::move (scheduler));

    emulator.setOutput ([] (const juce::MemoryBlock& m) {
        const auto* b = static_cast<const juce::uint8*> (m.getData());
        const bool sysex = m.getSize() >= 2 && b[0] == 0xf0;
        if (m.getSize() == 0 || (sysex && b[m.getSize() - 1] != 0xf7))
            fuzzing::broken ("the emulator sent a malformed message");
    });

    emulator.powerUp();
    size_t imagePos = 0;
    int accepted = 0;

    while (! in.empty())
    {
        switch (in.byte() % 8)
        {
            case 0: emulator.powerUp(); break;
            case 1: emulator.powerUpInBootloader(); break;
            case 2: emulator.powerDown(); break;
            case 3: clock->advance (in.byte() * 4.0); break;
            case 4:
                emulator.receive (eraseRequestMessage.data(), eraseRequestMessage.size());
                imagePos = 0;
                break;
            case 5:
            {
                // The next slice of the real image, of a fuzzed size.
                const auto n = std::min<size_t> ((size_t) in.byte() * 8 + 1, (size_t) firmwareImageSize - imagePos);
                emulator.receive (firmwareImage + imagePos, n);
                imagePos = (imagePos + n) % (size_t) firmwareImageSize;
                break;
            }
            default:
            {
                const auto bytes = in.bytes (in.byte());
                emulator.receive (bytes.getData(), bytes.getSize());
                break;
            }
        }

        const auto counts = emulator.getCounts();
        if (counts.identityReplies > counts.identityRequests)
            fuzzing::broken ("more identity replies than requests");

        // The image just accepted, if one was, is the last one received.
        if (counts.imagesAccepted > accepted
            && emulator.getLastImage() != juce::MemoryBlock (firmwareImage, (size_t) firmwareImageSize))
            fuzzing::broken ("an image other than the real one was accepted");

        accepted = counts.imagesAccepted;
    }

    emulator.setOutput ({});
    return 0;
}
