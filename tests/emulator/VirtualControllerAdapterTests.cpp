#include "emulator/EmulatorTestSupport.h"
#include "emulator/EmulatedController.h"
#include "firmware/DeviceMessages.h"
#include "midi/MidiManager.h"
#include "support/TestHelpers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using testing_support::pumpUntil;

namespace
{
    // From the table, which is safe to read during static initialisation.
    const juce::String deviceName (getAcceptedDevicePortNames()[0]);

    /** Records what a MidiManager tells its listeners, and on which thread. */
    struct RecordingListener final : MidiManager::Listener
    {
        void handleIncomingMidiMessage (juce::MidiInput*, const juce::MidiMessage& m) override
        {
            const std::lock_guard<std::mutex> sl (lock);
            received.push_back (m);
            threads.push_back (std::this_thread::get_id());
        }

        void midiInputDeviceDisconnected (juce::StringArray) override {}

        void midiOutputDeviceDisconnected (juce::StringArray names) override { lostOutputs.addArray (names); }
        void midiOutputDeviceReconnected (juce::StringArray names) override { regainedOutputs.addArray (names); }

        std::vector<juce::MidiMessage> sysexReceived()
        {
            const std::lock_guard<std::mutex> sl (lock);
            std::vector<juce::MidiMessage> sysex;
            for (const auto& m : received)
                if (m.isSysEx())
                    sysex.push_back (m);
            return sysex;
        }

        std::mutex lock;
        std::vector<juce::MidiMessage> received;
        std::vector<std::thread::id> threads;
        juce::StringArray lostOutputs, regainedOutputs; // message thread only
    };

    juce::MemoryBlock rawBytes (const juce::MidiMessage& m)
    {
        return { m.getRawData(), (size_t) m.getRawDataSize() };
    }

    const juce::MidiMessage identityRequest (identityRequestMessage.data(), (int) identityRequestMessage.size(), 0.0);

    /** A MidiManager and an emulated controller on one in-process MIDI system. */
    struct Bench
    {
        explicit Bench (ControllerEmulator::Config config = {})
            : controller (withTestTimes (std::move (config)))
        {
            emulator.powerUp();
            manager->addListener (&listener);
            manager->openInputDevice (deviceName);
            manager->openOutputDevice (deviceName);
        }

        ~Bench() { manager->removeListener (&listener); }

        static ControllerEmulator::Config withTestTimes (ControllerEmulator::Config config)
        {
            config.expectedImage = testing_support::makeImageContainer (1);
            return EmulatedController::quickResets (std::move (config));
        }

        EmulatedController controller;
        std::shared_ptr<VirtualMidiService>& service = controller.service;
        ControllerEmulator& emulator = controller.emulator;
        RecordingListener listener;
        MidiManager::Ptr manager { new MidiManager (service) };
    };
} // namespace

TEST (VirtualControllerAdapter, ManagerGetsTheIdentityReplyOnTheMidiThread)
{
    Bench bench;
    ASSERT_TRUE (bench.manager->isInputDeviceOpen (deviceName));
    ASSERT_TRUE (bench.manager->isOutputDeviceOpen (deviceName));

    ASSERT_TRUE (bench.manager->sendMessage (deviceName, identityRequest));
    ASSERT_TRUE (pumpUntil ([&] { return ! bench.listener.sysexReceived().empty(); }, 2000));

    const auto reply = bench.listener.sysexReceived()[0];
    EXPECT_EQ (reply.getRawDataSize(), 37);
    EXPECT_EQ (rawBytes (reply), ControllerEmulator::buildIdentityReply ({ { 1, 0, 0 } }));
    EXPECT_EQ (parseIdentityReply (reply), std::optional<double> (1.0));

    const std::lock_guard<std::mutex> sl (bench.listener.lock);
    EXPECT_NE (bench.listener.threads[0], std::this_thread::get_id()) << "the reply arrived on the message thread";
}

TEST (VirtualControllerAdapter, UpdateThroughTheManagerResetsTheDeviceAndItComesBackUpdated)
{
    Bench bench;
    const auto image = testing_support::makeImageContainer (1);

    ASSERT_TRUE (bench.manager->sendMessage (deviceName, juce::MidiMessage (eraseRequestMessage.data(), (int) eraseRequestMessage.size(), 0.0)));

    for (size_t pos = 0; pos < image.getSize(); pos += 256)
        ASSERT_TRUE (bench.manager->sendMessage (deviceName, juce::MidiMessage (static_cast<const char*> (image.getData()) + pos,
                                                                                (int) juce::jmin ((size_t) 256, image.getSize() - pos), 0.0)));

    EXPECT_EQ (bench.emulator.getCounts().imagesAccepted, 1);
    EXPECT_EQ (bench.emulator.getBursts().size(), 574u);

    ASSERT_TRUE (pumpUntil ([&] { return bench.listener.lostOutputs.contains (deviceName); }, 2000));
    ASSERT_TRUE (pumpUntil ([&] { return bench.listener.regainedOutputs.contains (deviceName); }, 2000));
    ASSERT_TRUE (bench.manager->isOutputDeviceOpen (deviceName));

    ASSERT_TRUE (bench.manager->sendMessage (deviceName, identityRequest));
    ASSERT_TRUE (pumpUntil ([&] { return ! bench.listener.sysexReceived().empty(); }, 2000));
    EXPECT_EQ (parseIdentityReply (bench.listener.sysexReceived().back()), std::optional<double> (1.05));
}

TEST (VirtualControllerAdapter, DeviceReappearsUnderTheAlternateNameAndIsReachableThere)
{
    ControllerEmulator::Config config;
    config.faults.comeBackUnderAlternateName = true;
    config.faults.unplugDuringEraseWaitMs = 30;
    Bench bench (config);

    ASSERT_TRUE (bench.manager->sendMessage (deviceName, juce::MidiMessage (eraseRequestMessage.data(), (int) eraseRequestMessage.size(), 0.0)));
    EXPECT_FALSE (bench.manager->isOutputDevicePresent (deviceName));

    const juce::String alternateName (usbAudioDeviceMidiPortName);
    ASSERT_TRUE (pumpUntil ([&] { return bench.manager->isOutputDevicePresent (alternateName); }, 2000));
    EXPECT_FALSE (bench.manager->isOutputDevicePresent (deviceName));

    bench.manager->openOutputDevice (alternateName);
    const auto image = testing_support::makeImageContainer (1);
    ASSERT_TRUE (bench.manager->sendMessage (alternateName, juce::MidiMessage (image.getData(), (int) image.getSize(), 0.0)));
    EXPECT_EQ (bench.emulator.getCounts().imagesAccepted, 1);
}

TEST (VirtualControllerAdapter, UnplugsTheDeviceWhenDestroyed)
{
    auto service = std::make_shared<VirtualMidiService>();
    ControllerEmulator emulator;

    {
        VirtualControllerAdapter adapter (*service, emulator);
        emulator.powerUp();
        ASSERT_EQ (service->getOutputDevices().size(), 1);
        EXPECT_EQ (service->getOutputDevices()[0].name, deviceName);
    }

    EXPECT_TRUE (service->getOutputDevices().isEmpty());
    EXPECT_TRUE (service->getInputDevices().isEmpty());

    // The emulator goes on without it.
    const juce::uint8 request[] = { 0xf0, 0x7e, 0x7f, 0x06, 0x01, 0xf7 };
    emulator.receive (request, sizeof (request));
    EXPECT_EQ (emulator.getCounts().identityReplies, 1);
}

TEST (VirtualControllerAdapter, StressRequestsFromAnotherThreadWhileTheDeviceComesAndGoes)
{
    ControllerEmulator::Config config;
    config.faults.replyDelayMs = 1; // replies go out on the message thread, requests come in on another
    Bench bench (config);

    std::atomic<bool> done { false };
    std::atomic<int> requestsSent { 0 };
    std::thread requester ([&] {
        const auto request = rawBytes (identityRequest);

        while (! done)
        {
            bench.emulator.receive (request.getData(), request.getSize());
            juce::ignoreUnused (bench.emulator.getCounts(), bench.emulator.isPresent());

            // Every request schedules a reply on the message thread:
            // unthrottled, the storm outgrows what that thread can
            // run and the cycles below never end.
            if (++requestsSent % 32 == 0)
                std::this_thread::sleep_for (std::chrono::milliseconds (1));
        }
    });

    for (int cycle = 0; cycle < 40; ++cycle)
    {
        bench.emulator.powerDown();
        juce::MessageManager::getInstance()->runDispatchLoopUntil (1);
        bench.emulator.powerUp();
        juce::MessageManager::getInstance()->runDispatchLoopUntil (5);
    }

    done = true;
    requester.join();
    ASSERT_TRUE (bench.service->waitUntilDelivered());
    EXPECT_LE (bench.emulator.getCounts().identityReplies, requestsSent.load());
    EXPECT_LE ((int) bench.listener.sysexReceived().size(), bench.emulator.getCounts().identityReplies);

    // Once the storm is over, one clean unplug and replug, and the manager has the
    // device again and gets its answer.
    bench.emulator.powerDown();
    ASSERT_TRUE (pumpUntil ([&] { return ! bench.manager->isOutputDeviceOpen (deviceName); }, 2000));
    bench.emulator.powerUp();
    ASSERT_TRUE (pumpUntil ([&] { return bench.manager->isOutputDeviceOpen (deviceName) && bench.manager->isInputDeviceOpen (deviceName); }, 2000));
    ASSERT_TRUE (bench.service->waitUntilDelivered()); // replies still delayed lapsed with the replug

    const auto before = bench.listener.sysexReceived().size();
    ASSERT_TRUE (bench.manager->sendMessage (deviceName, identityRequest));
    ASSERT_TRUE (pumpUntil ([&] { return bench.listener.sysexReceived().size() == before + 1; }, 2000));
}
