#include "engine/ApplicationEngine.h"
#include "support/RecordingEngineListener.h"
#include "support/TestHelpers.h"

#include <gtest/gtest.h>

using testing_support::pumpFor;
using testing_support::pumpUntil;
using testing_support::RecordingEngineListener;
using Events = std::vector<std::string>;

namespace
{
    struct EngineNotificationsTest : ::testing::Test
    {
        ApplicationEngine::EngineState state;
        std::unique_ptr<ApplicationEngine::Updater> updater = std::make_unique<ApplicationEngine::Updater> (&state);
        RecordingEngineListener listener;

        void SetUp() override { updater->addListener (&listener); }
    };
} // namespace

TEST_F (EngineNotificationsTest, MainChannelCoalescesAndDeliversTheValuesCurrentWhenItRuns)
{
    state.progress = 0.25;
    state.updateState = ApplicationEngine::erasing;
    updater->triggerAsyncUpdate();
    state.progress = 0.5;
    state.updateState = ApplicationEngine::sending;
    updater->triggerAsyncUpdate();

    ASSERT_TRUE (pumpUntil ([&] { return ! listener.log.empty(); }));
    pumpFor (20);

    EXPECT_EQ (listener.log, (Events { "progress 0.5", "state 2" }));
}

TEST_F (EngineNotificationsTest, QueuedErrorsFollowProgressAndStateOnceEachInOrder)
{
    state.pendingErrors.add (0);
    state.pendingErrors.add (7);
    updater->triggerAsyncUpdate();

    ASSERT_TRUE (pumpUntil ([&] { return listener.log.size() == 4; }));
    EXPECT_EQ (listener.log, (Events { "progress 0", "state 0", "error 0", "error 7" }));
    EXPECT_TRUE (state.pendingErrors.isEmpty());

    updater->triggerAsyncUpdate();
    ASSERT_TRUE (pumpUntil ([&] { return listener.log.size() == 6; }));
    pumpFor (20);
    EXPECT_EQ (listener.log.size(), 6u) << "an error was delivered twice";
}

TEST_F (EngineNotificationsTest, VersionAndHardwareChannelsAreIndependent)
{
    state.firmwareVersion = 1.05;
    state.hardwareDetected = true;
    updater->firmwareVersionUpdater.triggerAsyncUpdate();
    updater->hardwareDetectedUpdater.triggerAsyncUpdate();
    updater->hardwareDetectedUpdater.triggerAsyncUpdate();

    ASSERT_TRUE (pumpUntil ([&] { return listener.log.size() == 2; }));
    pumpFor (20);
    EXPECT_EQ (listener.log, (Events { "version 1.05", "hardware 1" }));
}

TEST_F (EngineNotificationsTest, VersionMayBeWrittenAndTriggeredFromAnotherThread)
{
    std::thread midiThread ([this] {
        state.firmwareVersion = 1.1;
        updater->firmwareVersionUpdater.triggerAsyncUpdate();
    });
    midiThread.join();

    ASSERT_TRUE (pumpUntil ([&] { return ! listener.versions.empty(); }));
    EXPECT_DOUBLE_EQ (listener.versions.back(), 1.1);
}

TEST_F (EngineNotificationsTest, LaterRegisteredListenerHearsFirst)
{
    Events order;
    RecordingEngineListener first (&order, "first "), second (&order, "second ");
    updater->removeListener (&listener);
    updater->addListener (&first);
    updater->addListener (&second);
    updater->addListener (&second);
    updater->addListener (nullptr);

    state.hardwareDetected = true;
    updater->hardwareDetectedUpdater.triggerAsyncUpdate();
    updater->triggerAsyncUpdate();

    ASSERT_TRUE (pumpUntil ([&] { return order.size() == 6; }));
    pumpFor (20);
    EXPECT_EQ (order, (Events { "second hardware 1", "first hardware 1", "second progress 0", "first progress 0", "second state 0", "first state 0" }));
}

TEST_F (EngineNotificationsTest, NothingIsDeliveredAfterRemovalOrDestruction)
{
    RecordingEngineListener removed;
    updater->addListener (&removed);
    updater->removeListener (&removed);

    state.pendingErrors.add (0);
    updater->triggerAsyncUpdate();
    updater->firmwareVersionUpdater.triggerAsyncUpdate();
    updater->hardwareDetectedUpdater.triggerAsyncUpdate();
    updater.reset();

    pumpFor (50);
    EXPECT_TRUE (listener.log.empty());
    EXPECT_TRUE (removed.log.empty());
}
