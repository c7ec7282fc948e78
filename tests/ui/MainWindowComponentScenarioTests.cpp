#include "emulator/ControllerEmulator.h"
#include "emulator/VirtualControllerAdapter.h"
#include "firmware/DeviceMessages.h"
#include "firmware/DevicePortNames.h"
#include "midi/VirtualMidiService.h"
#include "ui/MainWindowComponentTestSupport.h"

using namespace testing_support;

namespace
{
    /** The component on the whole chain at shortened timing: the engine,
        detection, the sender, the manager, the in-process MIDI system and the
        controller emulator. The erase wait is long enough for the status line
        to be seen between the erase request and the first block. */
    struct MainWindowComponentScenario : ::testing::Test
    {
        static ControllerEmulator::Config emulatorConfig()
        {
            ControllerEmulator::Config config;
            config.resetDelayMs = 20;
            config.resetDurationMs = 150;
            return config;
        }

        MainWindowComponentScenario()
        {
            auto recorder = std::make_unique<RecordingAlerts>();
            alerts = recorder.get();
            component->setAlerts (std::move (recorder));
        }

        ~MainWindowComponentScenario() override
        {
            component = nullptr;
            engine = nullptr;
        }

        MainWindowComponent& c() { return *component; }

        /** Pumps until the condition holds, noting every status line shown on the way. */
        bool pumpNotingStatus (const std::function<bool()>& condition, int timeoutMs = 15000)
        {
            return pumpUntil ([&]
                              {
                                  const auto text = statusText (c());
                                  if (statusLines.isEmpty() || statusLines[statusLines.size() - 1] != text)
                                      statusLines.add (text);
                                  return condition();
                              },
                              timeoutMs);
        }

        bool noticeShown() const { return ! alerts->notices.empty(); }

        size_t eraseRequestsSent() const
        {
            const juce::MemoryBlock erase (eraseRequestMessage.data(), eraseRequestMessage.size());
            size_t n = 0;
            for (const auto& sent : service->getSentLog (deviceMidiPortName))
                if (sent.bytes == erase)
                    ++n;
            return n;
        }

        std::shared_ptr<VirtualMidiService> service = std::make_shared<VirtualMidiService>();
        MidiManager::Ptr manager = new MidiManager (service);
        ControllerEmulator emulator { emulatorConfig() };
        VirtualControllerAdapter adapter { *service, emulator };
        ApplicationEngine::Ptr engine = new ApplicationEngine (manager, { 256, 1, 150 });
        MainWindowComponent::Ptr component = new MainWindowComponent (engine);
        RecordingAlerts* alerts = nullptr;
        juce::StringArray statusLines;
    };
} // namespace

TEST_F (MainWindowComponentScenario, LampAndStatusFollowTheController)
{
    ASSERT_TRUE (pumpUntil ([&] { return statusText (c()) == "Device not found." && lamp (c()) == Lamp::red; }))
        << statusText (c());
    EXPECT_EQ (versionText (c()), "QB4II Control: ");

    emulator.powerUp();
    ASSERT_TRUE (pumpUntil ([&] { return versionText (c()) == "QB4II Control: 1.00"; })) << versionText (c());
    EXPECT_EQ (lamp (c()), Lamp::green);
    EXPECT_EQ (statusText (c()), "");

    emulator.powerDown();
    ASSERT_TRUE (pumpUntil ([&] { return lamp (c()) == Lamp::red; }));
    ASSERT_TRUE (pumpUntil ([&] { return statusText (c()) == "Device not found."; }));
    EXPECT_TRUE (alerts->notices.empty());
}

TEST_F (MainWindowComponentScenario, NormalUpdateFromClickToTheReturningController)
{
    emulator.powerUp();
    ASSERT_TRUE (pumpUntil ([&] { return versionText (c()) == "QB4II Control: 1.00"; }));

    statusLines.add (statusText (c()));
    click (c());
    EXPECT_FALSE (updateButton (c()).isEnabled()) << "the button stayed enabled during the update";

    // The E key is ignored while the update runs, and consumed all the same.
    EXPECT_TRUE (c().keyPressed (lowerCaseE, &c()));
    EXPECT_FALSE (emergencyShown (c()));
    EXPECT_FALSE (engine->getState().emergencyMode);

    ASSERT_TRUE (pumpNotingStatus ([&] { return noticeShown(); })) << "no completion";
    EXPECT_EQ (statusLines.joinIntoString ("|"), "|Status: Erasing Current Firmware|Status: Sending App Firmware|Status: Update Complete");

    ASSERT_EQ (alerts->notices.size(), 1u);
    EXPECT_EQ (alerts->notices[0].title, completeTitle);
    EXPECT_EQ (alerts->notices[0].message, completeMessage);
    EXPECT_TRUE (alerts->questions.empty());
    EXPECT_TRUE (updateButton (c()).isEnabled());
    EXPECT_TRUE (waitForShownProgress (c(), 1.0)) << shownProgressWidth (c());
    EXPECT_EQ (eraseRequestsSent(), 1u);
    EXPECT_EQ (emulator.getCounts().imagesAccepted, 1);

    // The controller resets: the lamp goes out and on again, the new version
    // shows, and the status line keeps telling of the completed update.
    bool sawRed = false;
    ASSERT_TRUE (pumpNotingStatus ([&]
                                   {
                                       sawRed = sawRed || lamp (c()) == Lamp::red;
                                       return versionText (c()) == "QB4II Control: 1.05";
                                   }));
    EXPECT_TRUE (sawRed) << "the reset was not shown";
    EXPECT_EQ (lamp (c()), Lamp::green);
    EXPECT_EQ (statusLines[statusLines.size() - 1], "Status: Update Complete");
    EXPECT_EQ (alerts->notices.size(), 1u);
}

TEST_F (MainWindowComponentScenario, EmergencyUpdateAsksSendsNoEraseAndEndsEmergencyMode)
{
    emulator.powerUpInBootloader();
    ASSERT_TRUE (pumpUntil ([&] { return lamp (c()) == Lamp::green; }));

    ASSERT_TRUE (c().keyPressed (lowerCaseE, &c()));
    ASSERT_TRUE (emergencyShown (c()));
    alerts->answer = true;

    statusLines.add (statusText (c()));
    click (c());
    ASSERT_EQ (alerts->questions.size(), 1u);
    EXPECT_EQ (alerts->questions[0].title, emergencyTitle);
    EXPECT_EQ (alerts->questions[0].message, emergencyText);
    EXPECT_FALSE (updateButton (c()).isEnabled());

    ASSERT_TRUE (pumpNotingStatus ([&] { return noticeShown(); })) << "no completion";
    EXPECT_EQ (statusLines.joinIntoString ("|"), "|Status: Erasing Current Firmware|Status: Update Complete")
        << "an emergency update has no sending state";
    EXPECT_EQ (eraseRequestsSent(), 0u);
    EXPECT_EQ (emulator.getCounts().imagesAccepted, 1);

    ASSERT_EQ (alerts->notices.size(), 1u);
    EXPECT_EQ (alerts->notices[0].title, completeTitle);
    EXPECT_EQ (alerts->notices[0].message, emergencyCompleteMessage);
    EXPECT_FALSE (emergencyShown (c()));
    EXPECT_FALSE (engine->getState().emergencyMode);
    EXPECT_TRUE (updateButton (c()).isEnabled());

    // The next click starts a normal update, without the question.
    ASSERT_TRUE (pumpUntil ([&] { return versionText (c()) == "QB4II Control: 1.05"; }));
    click (c());
    EXPECT_EQ (alerts->questions.size(), 1u);
    EXPECT_FALSE (updateButton (c()).isEnabled());
    ASSERT_TRUE (pumpUntil ([&] { return eraseRequestsSent() == 1; })) << "the second update was not a normal one";
}

TEST_F (MainWindowComponentScenario, LostControllerMidStreamIsAnUpdateError)
{
    auto faults = ControllerEmulator::Faults();
    faults.unplugAfterBursts = 10;
    faults.unplugAfterBurstsForMs = 300;
    emulator.setFaults (faults);
    emulator.powerUp();
    ASSERT_TRUE (pumpUntil ([&] { return versionText (c()) == "QB4II Control: 1.00"; }));

    click (c());
    ASSERT_TRUE (pumpUntil ([&] { return noticeShown(); }, 15000)) << "the lost controller was not reported";

    ASSERT_EQ (alerts->notices.size(), 1u);
    EXPECT_EQ (alerts->notices[0].title, errorTitle);
    EXPECT_EQ (alerts->notices[0].message, errorMessage);
    EXPECT_TRUE (updateButton (c()).isEnabled());
    EXPECT_TRUE (waitForShownProgress (c(), 0.0)) << shownProgressWidth (c());
    EXPECT_FALSE (engine->isUpdating());

    // The user can toggle emergency mode again, as the way out of a half-written controller.
    EXPECT_TRUE (c().keyPressed (lowerCaseE, &c()));
    EXPECT_TRUE (emergencyShown (c()));
}
