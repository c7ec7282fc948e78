#include "midi/MidiManager.h"
#include "emulator/VirtualMidiService.h"
#include "support/TestHelpers.h"

#include <gtest/gtest.h>

using testing_support::pumpFor;
using testing_support::pumpUntil;

namespace
{
    const juce::String controller ("Korvan QB4 II MIDI");

    /** Records everything a manager tells it. Device notifications arrive on the
        message thread, incoming messages on the MIDI thread. */
    struct RecordingListener final : MidiManager::Listener
    {
        explicit RecordingListener (std::vector<juce::String>* order = nullptr, juce::String id = {})
            : callOrder (order)
            , name (std::move (id))
        {
        }

        void handleIncomingMidiMessage (juce::MidiInput*, const juce::MidiMessage& m) override
        {
            const std::lock_guard<std::mutex> sl (lock);
            received.push_back (m);

            if (callOrder != nullptr)
                callOrder->push_back (name);
        }

        void midiInputDeviceDisconnected (juce::StringArray names) override { inputsLost.push_back (names); }
        void midiOutputDeviceDisconnected (juce::StringArray names) override { outputsLost.push_back (names); }
        void midiInputDeviceReconnected (juce::StringArray names) override { inputsBack.push_back (names); }
        void midiOutputDeviceReconnected (juce::StringArray names) override { outputsBack.push_back (names); }

        size_t numReceived()
        {
            const std::lock_guard<std::mutex> sl (lock);
            return received.size();
        }

        size_t numNotifications() const
        {
            return inputsLost.size() + outputsLost.size() + inputsBack.size() + outputsBack.size();
        }

        std::mutex lock;
        std::vector<juce::MidiMessage> received;
        std::vector<juce::StringArray> inputsLost, outputsLost, inputsBack, outputsBack;
        std::vector<juce::String>* callOrder;
        juce::String name;
    };

    struct MidiManagerTest : ::testing::Test
    {
        std::shared_ptr<VirtualMidiService> service = std::make_shared<VirtualMidiService>();
        MidiManager::Ptr manager = new MidiManager (service);

        juce::MidiMessage bytes (std::initializer_list<juce::uint8> b)
        {
            const std::vector<juce::uint8> v (b);
            return juce::MidiMessage (v.data(), (int) v.size(), 0.0);
        }

        size_t sendsTo (const juce::String& name) { return service->getSentLog (name).size(); }

        void plugAndOpenController()
        {
            service->plugDevice (controller);
            manager->openInputDevice (controller);
            manager->openOutputDevice (controller);
        }

        /** A message goes out to the controller and one comes back from it. */
        void expectControllerPortsWork (RecordingListener& listener)
        {
            const auto received = listener.numReceived();
            EXPECT_TRUE (manager->sendMessage (controller, bytes ({ 0xf8 })));
            service->sendFromDevice (controller, juce::MidiMessage::midiClock());
            ASSERT_TRUE (service->waitUntilDelivered());
            EXPECT_EQ (listener.numReceived(), received + 1);
        }
    };
} // namespace

TEST_F (MidiManagerTest, WithNoDeviceEverythingCompletesWithoutEffectOrNotification)
{
    RecordingListener listener;
    manager->addListener (&listener);

    manager->openInputDevice (controller);
    manager->openOutputDevice (controller);
    EXPECT_FALSE (manager->sendMessage (controller, bytes ({ 0xf0, 0x7e, 0x7f, 0x06, 0x01, 0xf7 })));
    EXPECT_FALSE (manager->sendMessageToAllOutputs (bytes ({ 0xf8 })));
    pumpFor (4 * MidiManager::pollIntervalMs);

    EXPECT_FALSE (manager->isInputDeviceOpen (controller));
    EXPECT_FALSE (manager->isOutputDeviceOpen (controller));
    EXPECT_EQ (listener.numNotifications(), 0u);
    manager->removeListener (&listener);
}

TEST_F (MidiManagerTest, OpensOnlyPortsWhoseNameMatchesExactly)
{
    service->plugDevice ("korvan qb4 ii midi");
    service->plugDevice (controller + " ");
    service->plugDevice (controller.dropLastCharacters (1));

    manager->openInputDevice (controller);
    manager->openOutputDevice (controller);
    EXPECT_FALSE (manager->isInputDeviceOpen (controller));
    EXPECT_FALSE (manager->isOutputDeviceOpen (controller));
    EXPECT_FALSE (manager->isOutputDevicePresent (controller));

    plugAndOpenController();
    EXPECT_TRUE (manager->isInputDeviceOpen (controller));
    EXPECT_TRUE (manager->isOutputDeviceOpen (controller));
    EXPECT_TRUE (manager->isOutputDevicePresent (controller));
    juce::StringArray expected;
    expected.addArray (juce::StringArray ("korvan qb4 ii midi", controller + " "));
    expected.addArray (juce::StringArray (controller.dropLastCharacters (1), controller));
    EXPECT_EQ (manager->getOutputDeviceNames(), expected);
}

TEST_F (MidiManagerTest, SendsBytesUnchangedToTheOneOutputChosenUnderTheName)
{
    service->addOutput (controller);
    service->addOutput (controller);
    service->plugDevice ("Other");

    // Two devices' ports of one name: neither is guessed at.
    manager->openOutputDevice (controller);
    EXPECT_FALSE (manager->isOutputDeviceOpen (controller));
    EXPECT_TRUE (manager->isPortAmbiguous (controller));

    // A program's port gives way to the device's, wherever it is listed.
    const auto identifiers = service->getOutputIdentifiers (controller);
    service->setPortRank (identifiers[0], 0);
    manager->openOutputDevice (controller);
    manager->openOutputDevice ("Other");
    EXPECT_EQ (manager->getOpenOutputIdentifiers (controller), juce::StringArray (identifiers[1]));

    // A middle slice of a long System Exclusive message: data bytes only.
    const auto slice = bytes ({ 0x3a, 0x31, 0x30, 0x0d, 0x0a });
    EXPECT_TRUE (manager->sendMessage (controller, slice));

    const auto log = service->getSentLog (controller);
    ASSERT_EQ (log.size(), 1u);
    EXPECT_EQ (log[0].bytes, juce::MemoryBlock (slice.getRawData(), (size_t) slice.getRawDataSize()));
    EXPECT_EQ (sendsTo ("Other"), 0u);

    EXPECT_TRUE (manager->sendMessageToAllOutputs (bytes ({ 0xf0, 0x7e, 0x7f, 0x06, 0x01, 0xf7 })));
    EXPECT_EQ (sendsTo (controller), 2u);
    EXPECT_EQ (sendsTo ("Other"), 1u);

    manager->closeOutputDevice (controller);
    EXPECT_FALSE (manager->isOutputDeviceOpen (controller));
    EXPECT_FALSE (manager->sendMessage (controller, slice));
    EXPECT_EQ (sendsTo (controller), 2u);
}

TEST_F (MidiManagerTest, OpeningAnOpenNameDoesNothingEvenIfAnotherPortOfThatNameAppeared)
{
    service->addOutput (controller);
    manager->openOutputDevice (controller);

    service->addOutput (controller);
    manager->openOutputDevice (controller);

    manager->sendMessage (controller, bytes ({ 0xf8 }));
    EXPECT_EQ (sendsTo (controller), 1u);
}

TEST_F (MidiManagerTest, PortsThatFailToOpenAreSkipped)
{
    service->plugDevice (controller);
    service->setOpenFails (controller, true);

    manager->openInputDevice (controller);
    manager->openOutputDevice (controller);
    EXPECT_FALSE (manager->isInputDeviceOpen (controller));
    EXPECT_FALSE (manager->isOutputDeviceOpen (controller));
}

TEST_F (MidiManagerTest, UnplugClosesBothPortsWithinATickAndReportsEachOnce)
{
    RecordingListener listener;
    manager->addListener (&listener);
    plugAndOpenController();

    service->unplugDevice (controller);

    ASSERT_TRUE (pumpUntil ([&] { return listener.inputsLost.size() == 1 && listener.outputsLost.size() == 1; }))
        << "the poll did not report the lost ports";
    EXPECT_FALSE (manager->isInputDeviceOpen (controller));
    EXPECT_FALSE (manager->isOutputDeviceOpen (controller));
    EXPECT_EQ (listener.inputsLost[0], juce::StringArray (controller));
    EXPECT_EQ (listener.outputsLost[0], juce::StringArray (controller));

    // No second report while the device stays away.
    pumpFor (4 * MidiManager::pollIntervalMs);
    EXPECT_EQ (listener.inputsLost.size(), 1u);
    EXPECT_EQ (listener.outputsLost.size(), 1u);
    EXPECT_TRUE (listener.inputsBack.empty());

    // Plugged back in: reopened and reported with no call from the user.
    service->plugDevice (controller);
    ASSERT_TRUE (pumpUntil ([&] { return listener.inputsBack.size() == 1 && listener.outputsBack.size() == 1; }))
        << "the poll did not report the returning ports";
    EXPECT_TRUE (manager->isInputDeviceOpen (controller));
    EXPECT_TRUE (manager->isOutputDeviceOpen (controller));
    EXPECT_EQ (listener.outputsBack[0], juce::StringArray (controller));

    // The reopened ports work both ways.
    expectControllerPortsWork (listener);

    manager->removeListener (&listener);
}

TEST_F (MidiManagerTest, APortReplacedBetweenTwoPollsIsReopened)
{
    RecordingListener listener;
    manager->addListener (&listener);
    plugAndOpenController();

    // Unplugged and plugged in again before the poll could see it gone: the
    // name is listed throughout, but the ports held are dead.
    service->unplugDevice (controller);
    service->plugDevice (controller);
    EXPECT_FALSE (manager->sendMessage (controller, bytes ({ 0xf8 })));

    ASSERT_TRUE (pumpUntil ([&] { return listener.outputsBack.size() == 1 && listener.inputsBack.size() == 1; }));
    EXPECT_EQ (listener.outputsLost.size(), 1u);
    expectControllerPortsWork (listener);
    manager->removeListener (&listener);
}

TEST_F (MidiManagerTest, ReturningPortThatCannotBeReopenedIsReportedAndForgotten)
{
    RecordingListener listener;
    manager->addListener (&listener);
    service->plugDevice (controller);
    manager->openOutputDevice (controller);

    service->unplugDevice (controller);
    ASSERT_TRUE (pumpUntil ([&] { return listener.outputsLost.size() == 1; }));

    service->setOpenFails (controller, true);
    service->plugDevice (controller);
    ASSERT_TRUE (pumpUntil ([&] { return listener.outputsBack.size() == 1; }));
    EXPECT_FALSE (manager->isOutputDeviceOpen (controller));

    // Forgotten: once opening works again nothing reopens it by itself.
    service->setOpenFails (controller, false);
    pumpFor (4 * MidiManager::pollIntervalMs);
    EXPECT_FALSE (manager->isOutputDeviceOpen (controller));
    EXPECT_EQ (listener.outputsBack.size(), 1u);

    manager->removeListener (&listener);
}

TEST_F (MidiManagerTest, AnOutputClosedOnRequestIsNeitherReportedNorReopened)
{
    RecordingListener listener;
    manager->addListener (&listener);
    service->plugDevice (controller);
    manager->openOutputDevice (controller);
    manager->closeOutputDevice (controller);

    service->unplugDevice (controller);
    pumpFor (4 * MidiManager::pollIntervalMs);
    service->plugDevice (controller);
    pumpFor (4 * MidiManager::pollIntervalMs);

    EXPECT_EQ (listener.numNotifications(), 0u);
    EXPECT_FALSE (manager->isOutputDeviceOpen (controller));
    manager->removeListener (&listener);
}

TEST_F (MidiManagerTest, IncomingMessagesReachEveryListenerLastAddedFirst)
{
    std::vector<juce::String> order;
    RecordingListener first (&order, "first"), second (&order, "second");
    manager->addListener (&first);
    manager->addListener (&second);
    manager->addListener (&second); // already registered: ignored
    manager->addListener (nullptr);

    service->plugDevice (controller);
    manager->openInputDevice (controller);

    const juce::uint8 reply[] = { 0xf0, 0x7e, 0x00, 0x06, 0x02, 0xf7 };
    service->sendFromDevice (controller, juce::MidiMessage (reply, sizeof (reply), 0.0));
    ASSERT_TRUE (service->waitUntilDelivered());

    EXPECT_EQ (order, (std::vector<juce::String> { "second", "first" }));
    ASSERT_EQ (first.received.size(), 1u);
    EXPECT_EQ (juce::MemoryBlock (first.received[0].getRawData(), (size_t) first.received[0].getRawDataSize()),
               juce::MemoryBlock (reply, sizeof (reply)));

    manager->removeListener (&first);
    manager->removeListener (&second);
}

TEST_F (MidiManagerTest, ListenerRemovingItselfDuringADeliveryDoesNotStopTheOthers)
{
    struct SelfRemover final : MidiManager::Listener
    {
        MidiManager& manager;
        int calls = 0;
        explicit SelfRemover (MidiManager& m)
            : manager (m)
        {
        }
        void handleIncomingMidiMessage (juce::MidiInput*, const juce::MidiMessage&) override {}
        void midiInputDeviceDisconnected (juce::StringArray) override {}
        void midiOutputDeviceDisconnected (juce::StringArray) override
        {
            ++calls;
            manager.removeListener (this);
        }
    };

    RecordingListener before, after;
    SelfRemover remover (*manager);
    manager->addListener (&before);
    manager->addListener (&remover);
    manager->addListener (&after);

    service->plugDevice (controller);
    manager->openOutputDevice (controller);
    service->unplugDevice (controller);

    ASSERT_TRUE (pumpUntil ([&] { return before.outputsLost.size() == 1; }));
    EXPECT_EQ (after.outputsLost.size(), 1u);
    EXPECT_EQ (remover.calls, 1);

    manager->removeListener (&before);
    manager->removeListener (&after);
}

TEST_F (MidiManagerTest, DestroyingTheManagerCancelsPendingNotifications)
{
    RecordingListener listener;
    service->plugDevice (controller);

    {
        MidiManager::Ptr local = new MidiManager (service);
        local->addListener (&listener);
        local->openOutputDevice (controller);
        service->unplugDevice (controller);

        local->pollDevices();
        ASSERT_FALSE (local->isOutputDeviceOpen (controller));
        local = nullptr;
    }

    pumpFor (4 * MidiManager::pollIntervalMs);
    EXPECT_TRUE (listener.outputsLost.empty());
}

TEST_F (MidiManagerTest, StressListenerRegistrationAgainstAnIncomingStorm)
{
    // A listener must never be called once removeListener has returned, even
    // though incoming messages are delivered on the MIDI thread while the
    // message thread adds and removes listeners.
    struct GuardedListener final : MidiManager::Listener
    {
        std::atomic<bool> removed { false };
        std::atomic<int> lateCalls { 0 }, calls { 0 };

        void handleIncomingMidiMessage (juce::MidiInput*, const juce::MidiMessage&) override
        {
            ++calls;
            if (removed.load())
                ++lateCalls;
        }
        void midiInputDeviceDisconnected (juce::StringArray) override {}
        void midiOutputDeviceDisconnected (juce::StringArray) override {}
    };

    service->plugDevice (controller);
    manager->openInputDevice (controller);

    std::atomic<bool> storming { true };
    std::thread storm ([&] {
        for (int n = 0; storming.load(); ++n)
        {
            service->sendFromDevice (controller, juce::MidiMessage::midiClock());
            if (n % 64 == 0)
                service->waitUntilDelivered (10);
        }
    });

    int totalCalls = 0, lateCalls = 0;

    for (int round = 0; round < 200; ++round)
    {
        auto listener = std::make_unique<GuardedListener>();
        manager->addListener (listener.get());
        pumpUntil ([&] { return listener->calls.load() > 0; }, 200);
        manager->removeListener (listener.get());
        listener->removed = true;

        totalCalls += listener->calls.load();
        lateCalls += listener->lateCalls.load();
        listener.reset(); // a call after this would be a use after free
    }

    storming = false;
    storm.join();

    EXPECT_GT (totalCalls, 0) << "the storm never reached a listener";
    EXPECT_EQ (lateCalls, 0) << "a listener was called after removeListener returned";
}
