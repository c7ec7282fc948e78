#include "emulator/VirtualMidiService.h"
#include "support/TestHelpers.h"

#include <gtest/gtest.h>

#include <atomic>

namespace
{
    struct RecordingCallback final : juce::MidiInputCallback
    {
        void handleIncomingMidiMessage (juce::MidiInput*, const juce::MidiMessage& m) override
        {
            const std::lock_guard<std::mutex> sl (lock);
            received.push_back (m);
            threads.push_back (std::this_thread::get_id());
        }

        std::mutex lock;
        std::vector<juce::MidiMessage> received;
        std::vector<std::thread::id> threads;
    };
} // namespace

TEST (VirtualMidiService, PluggedDeviceListsAnInputAndAnOutputThatVanishTogether)
{
    VirtualMidiService service;
    service.plugDevice ("Korvan QB4 II MIDI");

    ASSERT_EQ (service.getInputDevices().size(), 1);
    ASSERT_EQ (service.getOutputDevices().size(), 1);
    EXPECT_EQ (service.getOutputDevices()[0].name, "Korvan QB4 II MIDI");

    service.unplugDevice ("Korvan QB4 II MIDI");
    EXPECT_TRUE (service.getInputDevices().isEmpty());
    EXPECT_TRUE (service.getOutputDevices().isEmpty());
}

TEST (VirtualMidiService, DeviceSeesExactlyTheBytesSentAndTheLogKeepsThem)
{
    VirtualMidiService service;
    service.plugDevice ("dev");

    std::vector<juce::MemoryBlock> seen;
    service.setDeviceReceiver ("dev", [&] (const juce::MemoryBlock& b) { seen.push_back (b); });

    auto out = service.openOutput (service.getOutputDevices()[0].identifier);
    ASSERT_NE (out, nullptr);

    const juce::uint8 slice[] = { 0x30, 0x31, 0x0d, 0x0a }; // data bytes, no status byte
    EXPECT_TRUE (out->sendBytes (slice, sizeof (slice)));

    ASSERT_EQ (seen.size(), 1u);
    EXPECT_EQ (seen[0], juce::MemoryBlock (slice, sizeof (slice)));

    const auto log = service.getSentLog ("dev");
    ASSERT_EQ (log.size(), 1u);
    EXPECT_EQ (log[0].bytes, juce::MemoryBlock (slice, sizeof (slice)));

    // A vanished port takes nothing, even once a port of the same name is back.
    service.unplugDevice ("dev");
    service.plugDevice ("dev");
    EXPECT_FALSE (out->sendBytes (slice, sizeof (slice)));
    EXPECT_EQ (service.getSentLog ("dev").size(), 1u);
}

TEST (VirtualMidiService, DeviceMessagesArriveOnItsOwnThreadOnlyWhileStarted)
{
    VirtualMidiService service;
    service.plugDevice ("dev");
    RecordingCallback callback;

    auto in = service.openInput (service.getInputDevices()[0].identifier, callback);
    ASSERT_NE (in, nullptr);

    service.sendFromDevice ("dev", juce::MidiMessage::noteOn (1, 60, (juce::uint8) 100));
    ASSERT_TRUE (service.waitUntilDelivered());
    EXPECT_TRUE (callback.received.empty()) << "an input that was never started received a message";

    in->start();
    service.sendFromDevice ("dev", juce::MidiMessage::noteOn (1, 61, (juce::uint8) 100));
    service.sendFromDevice ("other", juce::MidiMessage::noteOn (1, 62, (juce::uint8) 100));
    ASSERT_TRUE (service.waitUntilDelivered());

    ASSERT_EQ (callback.received.size(), 1u);
    EXPECT_EQ (callback.received[0].getNoteNumber(), 61);
    EXPECT_NE (callback.threads[0], std::this_thread::get_id());
}

TEST (VirtualMidiService, OpeningFailsOnRequest)
{
    VirtualMidiService service;
    service.plugDevice ("dev");
    service.setOpenFails ("dev", true);
    RecordingCallback callback;

    EXPECT_EQ (service.openOutput (service.getOutputDevices()[0].identifier), nullptr);
    EXPECT_EQ (service.openInput (service.getInputDevices()[0].identifier, callback), nullptr);

    service.setOpenFails ("dev", false);
    EXPECT_NE (service.openOutput (service.getOutputDevices()[0].identifier), nullptr);
}
