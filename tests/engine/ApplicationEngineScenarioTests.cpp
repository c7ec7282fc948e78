#include "emulator/EmulatorTestSupport.h"
#include "firmware/DeviceMessages.h"
#include "firmware/DevicePortNames.h"
#include "support/RecordingEngineListener.h"
#include "support/TestHelpers.h"
#include "support/UpdaterRig.h"

#include <gtest/gtest.h>

using testing_support::pumpFor;
using testing_support::pumpUntil;
using testing_support::RecordingEngineListener;

namespace
{
    /** The whole chain at shortened timing: the engine, detection, the sender,
        the manager, the in-process MIDI system and the controller emulator. */
    struct ApplicationEngineScenario : ::testing::Test
    {
        // A whole transfer takes about a second, several under ASan on a loaded
        // machine: the deadline only catches a hang.
        static constexpr int transferDeadlineMs = 60000;

        testing_support::UpdaterRig rig;
        std::shared_ptr<VirtualMidiService>& service = rig.service;
        ControllerEmulator& emulator = rig.emulator;
        ApplicationEngine::Ptr& engine = rig.engine;
        RecordingEngineListener listener;

        void SetUp() override { engine->addListener (&listener); }

        void TearDown() override
        {
            engine->removeListener (&listener);
            engine = nullptr;
        }

        const ApplicationEngine::EngineState& state() const { return engine->getState(); }

        bool hasState (int s) const { return std::find (listener.states.begin(), listener.states.end(), s) != listener.states.end(); }

        bool waitForVersion (double v, int timeoutMs = 5000)
        {
            return pumpUntil ([&] { return ! listener.versions.empty() && listener.versions.back() == v; }, timeoutMs);
        }

        bool waitForDevice()
        {
            return pumpUntil ([&] { return state().deviceName.isNotEmpty(); });
        }

        juce::MemoryBlock container() const { return { firmwareImage, (size_t) firmwareImageSize }; }

        size_t sendsStartingWith (const juce::uint8* prefix, size_t size)
        {
            size_t n = 0;
            for (const auto& sent : service->getSentLog (deviceMidiPortName))
                if (sent.bytes.getSize() >= size && std::memcmp (sent.bytes.getData(), prefix, size) == 0)
                    ++n;
            return n;
        }

        size_t eraseRequestsSent() { return sendsStartingWith (eraseRequestMessage.data(), eraseRequestMessage.size()); }
        size_t imageStartsSent() { return sendsStartingWith (reinterpret_cast<const juce::uint8*> (firmwareImage), 7); }

        /** The states the listener saw since startUpdate, without repeats. The
            idle state startUpdate passes through may coalesce with its successor. */
        std::vector<int> distinctStates() const
        {
            std::vector<int> result;
            for (auto s : listener.states)
                if ((result.empty() && s != ApplicationEngine::idle) || (! result.empty() && result.back() != s))
                    result.push_back (s);
            return result;
        }
    };
} // namespace

TEST_F (ApplicationEngineScenario, NormalUpdateFromPlugInToRedetection)
{
    emulator.powerUp();
    ASSERT_TRUE (waitForVersion (1.0)) << "detection never read the controller's version";

    listener.states.clear();
    ASSERT_TRUE (engine->startUpdate());
    EXPECT_TRUE (engine->isUpdating());

    ASSERT_TRUE (pumpUntil ([&] { return hasState (ApplicationEngine::complete); }, transferDeadlineMs));
    EXPECT_EQ (distinctStates(), (std::vector<int> { 1, 2, 3 }));
    EXPECT_TRUE (std::is_sorted (listener.progress.begin() + 1, listener.progress.end()))
        << "progress went backwards during the transfer";
    EXPECT_EQ (listener.progress.back(), 1.0);
    EXPECT_FALSE (engine->isUpdating());
    EXPECT_TRUE (listener.errors.empty());

    EXPECT_EQ (eraseRequestsSent(), 1u);
    EXPECT_EQ (emulator.getCounts().imagesAccepted, 1);
    EXPECT_EQ (emulator.getLastImage(), container());

    // The controller resets and comes back with the new firmware.
    ASSERT_TRUE (waitForVersion (1.05)) << "the updated controller was not read again";
    EXPECT_TRUE (state().hardwareDetected);
}

TEST_F (ApplicationEngineScenario, EmergencyUpdateOfAControllerInItsBootloader)
{
    emulator.powerUpInBootloader();
    ASSERT_TRUE (waitForDevice());
    EXPECT_TRUE (listener.versions.empty()) << "a controller in its bootloader answered";

    engine->setEmergencyMode (true);
    listener.states.clear();
    ASSERT_TRUE (engine->startUpdate());

    ASSERT_TRUE (pumpUntil ([&] { return hasState (ApplicationEngine::complete); }, transferDeadlineMs));
    EXPECT_FALSE (state().emergencyMode) << "detection would never ask a controller that resets in the bus";
    EXPECT_EQ (distinctStates(), (std::vector<int> { 1, 3 }));
    EXPECT_EQ (eraseRequestsSent(), 0u);
    EXPECT_EQ (emulator.getLastImage(), container());
    EXPECT_EQ (emulator.getCounts().imagesAccepted, 1);

    ASSERT_TRUE (waitForVersion (1.05));
    EXPECT_FALSE (state().emergencyMode);
}

TEST_F (ApplicationEngineScenario, StartingWithoutAControllerIsRefused)
{
    ASSERT_TRUE (pumpUntil ([&] { return ! listener.states.empty(); }));
    listener.log.clear();

    EXPECT_FALSE (engine->startUpdate());
    EXPECT_FALSE (engine->isUpdating());
    ASSERT_TRUE (pumpUntil ([&] { return listener.log.size() >= 2; }));
    EXPECT_EQ (listener.log[0], "progress 0");
    EXPECT_EQ (listener.log[1], "state 0");
    EXPECT_TRUE (service->getSentLog (deviceMidiPortName).empty());
}

TEST_F (ApplicationEngineScenario, UnplugDuringTheEraseWaitDoesNotDisturbTheUpdate)
{
    auto faults = ControllerEmulator::Faults();
    faults.unplugDuringEraseWaitMs = 8;
    emulator.setFaults (faults);
    emulator.powerUp();
    ASSERT_TRUE (waitForVersion (1.0));

    ASSERT_TRUE (engine->startUpdate());
    ASSERT_TRUE (pumpUntil ([&] { return hasState (ApplicationEngine::complete); }, transferDeadlineMs));
    EXPECT_TRUE (listener.errors.empty());
    EXPECT_EQ (emulator.getLastImage(), container());
}

TEST_F (ApplicationEngineScenario, UnplugMidStreamIsOneErrorAndNeverACompletion)
{
    emulator.setFaults (testing_support::unplugMidTransfer());
    emulator.powerUp();
    ASSERT_TRUE (waitForVersion (1.0));

    ASSERT_TRUE (engine->startUpdate());
    ASSERT_TRUE (pumpUntil ([&] { return ! listener.errors.empty(); }, transferDeadlineMs)) << "the lost controller was not reported";
    pumpFor (300);

    EXPECT_EQ (listener.errors, std::vector<int> { ApplicationEngine::deviceOfflineError });
    const auto error = std::find (listener.log.begin(), listener.log.end(), "error 0");
    ASSERT_GE (error - listener.log.begin(), 2);
    EXPECT_EQ (*(error - 2), "progress 0") << "the error did not arrive with progress 0 and state 0";
    EXPECT_EQ (*(error - 1), "state 0");
    EXPECT_FALSE (hasState (ApplicationEngine::complete));
    EXPECT_FALSE (engine->isUpdating());
    EXPECT_EQ (emulator.getCounts().imagesAccepted, 0);

    // The controller lost its firmware with the erase and answers nothing now,
    // yet a normal update may be tried again: its erase request goes first. The
    // emergency one sends the whole image again, from its first block.
    ASSERT_TRUE (pumpUntil ([&] { return state().hardwareDetected && rig.manager->isOutputDeviceOpen (deviceMidiPortName); }));
    emulator.setFaults ({});
    service->clearSentLog (deviceMidiPortName);
    ASSERT_TRUE (engine->startUpdate());
    EXPECT_TRUE (engine->hasWrittenToController());
    ASSERT_FALSE (service->getSentLog (deviceMidiPortName).empty());
    EXPECT_EQ (service->getSentLog (deviceMidiPortName)[0].bytes, juce::MemoryBlock (eraseRequestMessage.data(), eraseRequestMessage.size()));
    service->clearSentLog (deviceMidiPortName);
    ASSERT_TRUE (engine->startUpdate (true));
    ASSERT_TRUE (pumpUntil ([&] { return state().progress > 0.0; }, transferDeadlineMs));
    const auto log = service->getSentLog (deviceMidiPortName);
    ASSERT_GE (log.size(), 1u);
    EXPECT_EQ (log[0].bytes, juce::MemoryBlock (firmwareImage, 256));
}

TEST_F (ApplicationEngineScenario, UnplugAfterCompletionLeavesTheUpdateComplete)
{
    emulator.powerUp();
    ASSERT_TRUE (waitForVersion (1.0));
    ASSERT_TRUE (engine->startUpdate());
    ASSERT_TRUE (pumpUntil ([&] { return hasState (ApplicationEngine::complete); }, transferDeadlineMs));

    emulator.powerDown();
    ASSERT_TRUE (pumpUntil ([&] { return ! state().hardwareDetected; }));
    EXPECT_EQ (state().updateState, ApplicationEngine::complete);
    EXPECT_TRUE (listener.errors.empty());
}

TEST_F (ApplicationEngineScenario, RestartingDuringATransferBeginsAgainFromTheFirstBlock)
{
    emulator.powerUp();
    ASSERT_TRUE (waitForVersion (1.0));
    ASSERT_TRUE (engine->startUpdate());
    ASSERT_TRUE (pumpUntil ([&] { return state().progress > 0.2; }, transferDeadlineMs));

    ASSERT_TRUE (engine->startUpdate());
    ASSERT_TRUE (pumpUntil ([&] { return hasState (ApplicationEngine::complete); }, transferDeadlineMs));

    EXPECT_EQ (imageStartsSent(), 2u) << "the second transfer did not start with a fresh F0";
    EXPECT_EQ (eraseRequestsSent(), 2u);

    // Everything after the second erase request is the whole image, from block 0.
    const auto log = service->getSentLog (deviceMidiPortName);
    const juce::MemoryBlock erase (eraseRequestMessage.data(), eraseRequestMessage.size());
    const auto lastErase = std::find_if (log.rbegin(), log.rend(), [&] (const auto& m) { return m.bytes == erase; });
    ASSERT_NE (lastErase, log.rend());
    juce::MemoryBlock second;
    for (auto it = lastErase.base(); it != log.end(); ++it)
        second.append (it->bytes.getData(), it->bytes.getSize());
    EXPECT_EQ (second, container());
}

TEST_F (ApplicationEngineScenario, AFailedEmergencyUpdateFindsTheControllerAgain)
{
    emulator.powerUpInBootloader();
    ASSERT_TRUE (waitForDevice());

    emulator.setFaults (testing_support::unplugMidTransfer());

    engine->setEmergencyMode (true);
    ASSERT_TRUE (engine->startUpdate());
    ASSERT_TRUE (pumpUntil ([&] { return ! listener.errors.empty(); }, transferDeadlineMs));
    EXPECT_EQ (state().updateState, ApplicationEngine::idle);

    // Detection runs again: the lamp goes out, then on again when the controller
    // returns; emergency mode is off.
    ASSERT_TRUE (pumpUntil ([&] { return ! listener.hardware.empty() && ! listener.hardware.back(); }));
    EXPECT_FALSE (state().emergencyMode);
    ASSERT_TRUE (pumpUntil ([&] { return emulator.isPresent() && state().hardwareDetected; }, 5000))
        << "the returning controller was never detected";

    // And the user's retry, with the controller prepared by hand again, succeeds.
    emulator.setFaults ({});
    emulator.powerUpInBootloader();
    engine->setEmergencyMode (true);
    ASSERT_TRUE (engine->startUpdate());
    ASSERT_TRUE (pumpUntil ([&] { return hasState (ApplicationEngine::complete); }, transferDeadlineMs));
    ASSERT_TRUE (waitForVersion (1.05));
}

TEST_F (ApplicationEngineScenario, UnrelatedMidiDuringATransferChangesNothing)
{
    auto faults = ControllerEmulator::Faults();
    faults.mixUnrelatedMidi = true;
    emulator.setFaults (faults);
    emulator.powerUp();
    ASSERT_TRUE (waitForVersion (1.0));

    ASSERT_TRUE (engine->startUpdate());
    ASSERT_TRUE (pumpUntil ([&] { return hasState (ApplicationEngine::complete); }, transferDeadlineMs));
    EXPECT_EQ (distinctStates().back(), ApplicationEngine::complete);
    EXPECT_TRUE (listener.errors.empty());
    EXPECT_EQ (emulator.getLastImage(), container());
    EXPECT_EQ (listener.versions.back(), 1.0) << "unrelated MIDI was taken for a version";
}

TEST_F (ApplicationEngineScenario, ListenersAreAnsweredOnRegistrationAndNeverAfterRemoval)
{
    RecordingEngineListener late;
    engine->addListener (&late);
    engine->addListener (&late);
    ASSERT_TRUE (pumpUntil ([&] { return ! late.states.empty(); }));
    pumpFor (20);
    EXPECT_EQ (late.log, (std::vector<std::string> { "progress 0", "state 0" }));

    listener.log.clear();
    engine->addListener (nullptr);
    ASSERT_TRUE (pumpUntil ([&] { return listener.log.size() >= 2; })) << "a null listener did not trigger a notification";

    engine->removeListener (&late);
    late.log.clear();
    emulator.powerUp();
    ASSERT_TRUE (waitForVersion (1.0));
    EXPECT_TRUE (late.log.empty());
}

TEST_F (ApplicationEngineScenario, DestroyingTheEngineDuringATransferCallsNoListener)
{
    emulator.powerUp();
    ASSERT_TRUE (waitForVersion (1.0));
    ASSERT_TRUE (engine->startUpdate());
    ASSERT_TRUE (pumpUntil ([&] { return state().progress > 0.1; }, transferDeadlineMs));

    engine = nullptr; // the listener stays registered: nothing may reach it
    listener.log.clear();
    pumpFor (100);
    EXPECT_TRUE (listener.log.empty());

    engine = new ApplicationEngine (rig.manager, testing_support::UpdaterRig::shortTiming());
}
