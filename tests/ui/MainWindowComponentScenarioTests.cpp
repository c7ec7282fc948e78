#include "emulator/EmulatorTestSupport.h"
#include "firmware/DeviceMessages.h"
#include "firmware/DevicePortNames.h"
#include "app/MainWindow.h"
#include "support/UpdaterRig.h"
#include "ui/MainWindowComponentTestSupport.h"

using namespace testing_support;

namespace
{
    /** Notes the component's status line after each state notification and its
        lamp after each hardware notification. The engine calls its listeners
        from the most recently added to the first, so a probe added before the
        component hears each notification after it. */
    struct ComponentProbe final : ApplicationEngine::Listener
    {
        void updateStateChanged (int) override
        {
            const auto text = statusText (*component);
            if (lines.isEmpty() || lines[lines.size() - 1] != text)
                lines.add (text);
        }

        void updateProgressChanged (double) override {}
        void updateErrorOccurred (int) override {}
        void firmwareVersionChanged (double) override {}
        void hardwareDetectedChanged (bool) override { lamps.push_back (lamp (*component)); }

        juce::Component* component = nullptr;
        juce::StringArray lines;
        std::vector<Lamp> lamps;
    };

    /** The component on the whole chain at shortened timing: the engine,
        detection, the sender, the manager, the in-process MIDI system and the
        controller emulator. */
    struct MainWindowComponentScenario : ::testing::Test
    {
        MainWindowComponentScenario()
        {
            engine->addListener (&probe);
            component = new MainWindowComponent (engine);
            probe.component = component.get();

            auto recorder = std::make_unique<RecordingAlerts>();
            alerts = recorder.get();
            component->setAlerts (std::move (recorder));
        }

        ~MainWindowComponentScenario() override
        {
            engine->removeListener (&probe);
            component = nullptr;
            engine = nullptr;
        }

        MainWindowComponent& c() { return *component; }

        /** A transfer takes about a second in a Release build and up to ten
            times that under the sanitizers on a busy machine: the deadlines only
            bound a hang. */
        static constexpr int deadlineMs = 60000;

        static bool waitFor (const std::function<bool()>& condition) { return pumpUntil (condition, deadlineMs); }

        /** The status lines shown after each state notification from now on. */
        const juce::StringArray& statusLinesFromNow()
        {
            probe.lines.clear();
            return probe.lines;
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

        UpdaterRig rig;
        std::shared_ptr<VirtualMidiService>& service = rig.service;
        ControllerEmulator& emulator = rig.emulator;
        ApplicationEngine::Ptr& engine = rig.engine;
        ComponentProbe probe;
        MainWindowComponent::Ptr component;
        RecordingAlerts* alerts = nullptr;
    };
} // namespace

TEST_F (MainWindowComponentScenario, LampAndStatusFollowTheController)
{
    ASSERT_TRUE (waitFor ([&] { return statusText (c()) == "Device not found." && lamp (c()) == Lamp::red; }))
        << statusText (c());
    EXPECT_EQ (versionText (c()), "QB4II Control: ");

    emulator.powerUp();
    ASSERT_TRUE (waitFor ([&] { return versionText (c()) == "QB4II Control: 1.00"; })) << versionText (c());
    EXPECT_EQ (lamp (c()), Lamp::green);
    EXPECT_EQ (statusText (c()), "");

    emulator.powerDown();
    ASSERT_TRUE (waitFor ([&] { return lamp (c()) == Lamp::red; }));
    ASSERT_TRUE (waitFor ([&] { return statusText (c()) == "Device not found."; }));
    EXPECT_TRUE (alerts->notices.empty());

    // A MIDI system that cannot be opened is not a missing controller, and a fix
    // is taken up without a restart.
    service->setUnavailable ("the ALSA sequencer cannot be opened: permission denied");
    ASSERT_TRUE (waitFor ([&] { return statusText (c()) == "No MIDI: the ALSA sequencer cannot be opened: permission denied"; }));
    emulator.powerUp();
    service->setUnavailable ({});
    ASSERT_TRUE (waitFor ([&] { return versionText (c()) == "QB4II Control: 1.00"; }));
}

TEST_F (MainWindowComponentScenario, NormalUpdateFromClickToTheReturningController)
{
    emulator.powerUp();
    ASSERT_TRUE (waitFor ([&] { return versionText (c()) == "QB4II Control: 1.00"; }));

    const auto& statusLines = statusLinesFromNow();
    click (c());
    EXPECT_FALSE (updateButton (c()).isEnabled()) << "the button stayed enabled during the update";

    // The E key is ignored while the update runs, and consumed all the same.
    EXPECT_TRUE (c().keyPressed (lowerCaseE, &c()));
    EXPECT_FALSE (emergencyShown (c()));
    EXPECT_FALSE (engine->getState().emergencyMode);

    ASSERT_TRUE (waitFor ([&] { return noticeShown(); })) << "no completion";
    EXPECT_EQ (statusLines.joinIntoString ("|"), "Status: Erasing Current Firmware|Status: Sending App Firmware|Status: Update Complete");

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
    probe.lamps.clear();
    ASSERT_TRUE (waitFor ([&] { return versionText (c()) == "QB4II Control: 1.05"; }));
    EXPECT_NE (std::find (probe.lamps.begin(), probe.lamps.end(), Lamp::red), probe.lamps.end()) << "the reset was not shown";
    EXPECT_EQ (lamp (c()), Lamp::green);
    ASSERT_TRUE (waitFor ([&] { return statusText (c()) == "Status: Update Complete: QB4II Control 1.05 confirmed"; }))
        << statusText (c());
    EXPECT_EQ (alerts->notices.size(), 1u);
}

TEST_F (MainWindowComponentScenario, ProgramsWritingToTheControllerAreNamedAndNothingStarts)
{
    emulator.powerUp();
    ASSERT_TRUE (waitFor ([&] { return versionText (c()) == "QB4II Control: 1.00"; }));

    // A name is its program's own choice: shown, never obeyed.
    service->setOtherWriters (deviceMidiPortName, juce::StringArray ("Mixxx", "Ard\x1b[2Jour"));
    click (c());

    ASSERT_EQ (alerts->notices.size(), 1u);
    EXPECT_EQ (alerts->notices[0].title, "Controller In Use");
    EXPECT_EQ (alerts->notices[0].message, "Close Mixxx and Ard\\x1b[2Jour, then try again. "
                                           "While another program sends to the QB4 II, its messages would land inside the firmware.");
    EXPECT_TRUE (updateButton (c()).isEnabled());
    EXPECT_EQ (eraseRequestsSent(), 0u);
}

TEST_F (MainWindowComponentScenario, EmergencyImageARunningControllerIgnoredIsNotConfirmed)
{
    // The user chose the emergency form without starting the controller in its
    // bootloader: its running firmware ignores the image and still reports 1.00.
    emulator.powerUp();
    ASSERT_TRUE (waitFor ([&] { return versionText (c()) == "QB4II Control: 1.00"; }));
    ASSERT_TRUE (c().keyPressed (lowerCaseE, &c()));
    click (c());

    ASSERT_TRUE (waitFor ([&] { return alerts->notices.size() == 2; }));
    EXPECT_EQ (alerts->notices[0].title, completeTitle);
    EXPECT_EQ (alerts->notices[1].title, "Update Not Confirmed");
    EXPECT_EQ (alerts->notices[1].message, "Your QB4 II came back with firmware 1.00, not 1.05. "
                                           "Update it again; if that fails, use the emergency update (press E).");
    EXPECT_EQ (statusText (c()), "Status: Update Not Confirmed");
}

TEST_F (MainWindowComponentScenario, SilentControllerIsOfferedTheEmergencyUpdateUntilItAnswers)
{
    const juce::String hint ("Status: No answer from the QB4 II firmware: press E for an emergency update");

    emulator.powerUpInBootloader();
    ASSERT_TRUE (waitFor ([&] { return lamp (c()) == Lamp::green; }));
    EXPECT_EQ (statusText (c()), "") << "the hint came before the controller had time to answer";
    ASSERT_TRUE (waitFor ([&] { return statusText (c()) == hint; }));
    EXPECT_EQ (lamp (c()), Lamp::green);

    // Chosen, the emergency update needs no more hinting; the controller's
    // running firmware answers once it is started normally.
    ASSERT_TRUE (c().keyPressed (lowerCaseE, &c()));
    EXPECT_EQ (statusText (c()), "");
    ASSERT_TRUE (c().keyPressed (lowerCaseE, &c()));
    ASSERT_TRUE (waitFor ([&] { return statusText (c()) == hint; }));

    // A normal update to a port that has not answered is the user's to choose:
    // Cancel sends nothing, OK sends it (the bootloader takes the image).
    alerts->answer = false;
    click (c());
    ASSERT_EQ (alerts->questions.size(), 1u);
    EXPECT_EQ (alerts->questions[0].title, "Controller Not Answering");
    EXPECT_EQ (eraseRequestsSent(), 0u);
    alerts->answer = true;
    click (c());
    EXPECT_EQ (eraseRequestsSent(), 1u);
    ASSERT_TRUE (waitFor ([&] { return versionText (c()) == "QB4II Control: 1.05"; }));
}

TEST_F (MainWindowComponentScenario, EmergencyUpdateAsksSendsNoEraseAndEndsEmergencyMode)
{
    emulator.powerUpInBootloader();
    ASSERT_TRUE (waitFor ([&] { return lamp (c()) == Lamp::green; }));

    ASSERT_TRUE (c().keyPressed (lowerCaseE, &c()));
    ASSERT_TRUE (emergencyShown (c()));
    alerts->answer = true;

    const auto& statusLines = statusLinesFromNow();
    click (c());
    ASSERT_EQ (alerts->questions.size(), 1u);
    EXPECT_EQ (alerts->questions[0].title, emergencyTitle);
    EXPECT_EQ (alerts->questions[0].message, emergencyText);
    EXPECT_FALSE (updateButton (c()).isEnabled());

    ASSERT_TRUE (waitFor ([&] { return noticeShown(); })) << "no completion";
    EXPECT_EQ (statusLines.joinIntoString ("|"), "Status: Erasing Current Firmware|Status: Update Complete")
        << "an emergency update has no sending state";
    EXPECT_EQ (eraseRequestsSent(), 0u);
    EXPECT_EQ (emulator.getCounts().imagesAccepted, 1);

    expectEmergencyCompletion (*alerts, c(), *engine);
    if (HasFatalFailure())
        return;

    // The next click starts a normal update, without the question.
    ASSERT_TRUE (waitFor ([&] { return versionText (c()) == "QB4II Control: 1.05"; }));
    click (c());
    EXPECT_EQ (alerts->questions.size(), 1u);
    EXPECT_FALSE (updateButton (c()).isEnabled());
    ASSERT_TRUE (waitFor ([&] { return eraseRequestsSent() == 1; })) << "the second update was not a normal one";
}

TEST_F (MainWindowComponentScenario, LostControllerMidStreamIsAnUpdateError)
{
    emulator.setFaults (testing_support::unplugMidTransfer());
    emulator.powerUp();
    ASSERT_TRUE (waitFor ([&] { return versionText (c()) == "QB4II Control: 1.00"; }));

    click (c());
    ASSERT_TRUE (waitFor ([&] { return noticeShown(); })) << "the lost controller was not reported";

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

TEST_F (MainWindowComponentScenario, EmergencyFormShownIsTheOneThatRunsWhateverHappenedWhileAsking)
{
    emulator.powerUp();
    ASSERT_TRUE (waitFor ([&] { return versionText (c()) == "QB4II Control: 1.00"; }));
    ASSERT_TRUE (c().keyPressed (lowerCaseE, &c()));

    // Step 1 of the instructions: the controller is powered up in its bootloader.
    // Its port comes and goes, which makes detection start afresh.
    alerts->whileAsked = [&] {
        emulator.powerUpInBootloader();
        ASSERT_TRUE (waitFor ([&] { return ! engine->getState().emergencyMode && engine->getState().deviceName.isNotEmpty(); }));
    };
    click (c());

    ASSERT_TRUE (waitFor ([&] { return noticeShown(); })) << "no completion";
    EXPECT_EQ (alerts->notices[0].title, "Firmware Update Complete");
    EXPECT_EQ (eraseRequestsSent(), 0u) << "a normal update was sent to the bootloader";
    EXPECT_EQ (emulator.getCounts().imagesAccepted, 1);
}

TEST_F (MainWindowComponentScenario, WithNothingToKeepTheComputerAwakeTheUserDecides)
{
    struct RefusingInhibitor final : SleepInhibitor
    {
        bool acquire() override { return false; }
        void release() override {}
        bool isHeld() const override { return false; }
        std::string getFailure() const override { return "no system bus"; }
    };
    engine->setSleepInhibitor (std::make_unique<RefusingInhibitor>());
    emulator.powerUp();
    ASSERT_TRUE (waitFor ([&] { return versionText (c()) == "QB4II Control: 1.00"; }));

    for (const bool goAhead : { false, true })
    {
        alerts->answer = goAhead;
        click (c());
        ASSERT_EQ (alerts->questions.size(), goAhead ? 2u : 1u);
        EXPECT_EQ (alerts->questions.back().title, "Computer May Sleep");
        EXPECT_TRUE (alerts->questions.back().message.contains ("(no system bus)")) << alerts->questions.back().message;
        EXPECT_EQ (eraseRequestsSent(), goAhead ? 1u : 0u);
    }
}

TEST_F (MainWindowComponentScenario, ControllerAnotherUpdaterIsWritingToIsNotStartedAndTheUserIsTold)
{
    emulator.powerUp();
    ASSERT_TRUE (waitFor ([&] { return versionText (c()) == "QB4II Control: 1.00"; }));

    {
        const PortUpdateLock otherUpdater (deviceMidiPortName);
        ASSERT_TRUE (otherUpdater.isHeld());
        click (c());
    }

    ASSERT_EQ (alerts->notices.size(), 1u);
    EXPECT_EQ (alerts->notices[0].title, "Controller Busy");
    EXPECT_EQ (alerts->notices[0].message,
               "Another copy of QB4II Firmware Updater is updating this QB4 II. Wait until that update has ended, then try again.");
    EXPECT_TRUE (updateButton (c()).isEnabled());
    EXPECT_EQ (eraseRequestsSent(), 0u);

    // Something else at the lock's name: no update goes ahead unclaimed.
    const auto planted = PortUpdateLock::getLockFolder().getChildFile (PortUpdateLock::lockFileNameFor (deviceMidiPortName));
    ASSERT_TRUE (planted.deleteFile() && planted.createDirectory());
    click (c());
    planted.deleteRecursively();
    ASSERT_EQ (alerts->notices.size(), 2u);
    EXPECT_EQ (alerts->notices[1].title, "Controller Not Claimed");
    EXPECT_TRUE (alerts->notices[1].message.contains (planted.getFileName())) << alerts->notices[1].message;
    EXPECT_EQ (eraseRequestsSent(), 0u);

    // Once the other update has ended, and the name is clear, the port is free.
    click (c());
    ASSERT_TRUE (waitFor ([&] { return alerts->notices.size() == 3; }));
    EXPECT_EQ (alerts->notices[2].title, "Firmware Update Complete");
}

TEST_F (MainWindowComponentScenario, AScreenReaderFindsEveryControlAndFollowsTheUpdate)
{
    // The framework builds the handlers once the component is on the desktop.
    c().addToDesktop (0);
    c().setVisible (true);
    const auto handler = [&] (const char* id) { return c().findChildWithID (id)->getAccessibilityHandler(); };

    ASSERT_TRUE (waitFor ([&] { return statusText (c()) == "Device not found."; }));
    EXPECT_EQ (handler ("backgroundImage"), nullptr) << "the background is only decoration";
    for (const auto* id : { "updateButton", "deviceIndicator", "progressBar", "statusLabel", "currentControlVersionLabel", "updateControlVersionLabel" })
    {
        ASSERT_NE (handler (id), nullptr) << id;
        EXPECT_NE (handler (id)->getRole(), juce::AccessibilityRole::ignored) << id;
        EXPECT_TRUE (handler (id)->getTitle().isNotEmpty()) << id;
    }
    EXPECT_EQ (handler ("deviceIndicator")->getTitle(), "No QB4 II found");

    emulator.powerUp();
    ASSERT_TRUE (waitFor ([&] { return versionText (c()) == "QB4II Control: 1.00"; }));
    EXPECT_EQ (handler ("deviceIndicator")->getTitle(), "QB4 II connected");

    // The button's press action starts the update; the bar reads out what is left.
    ASSERT_TRUE (handler ("updateButton")->getActions().invoke (juce::AccessibilityActionType::press));
    ASSERT_TRUE (waitFor ([&] { return handler ("progressBar")->getValueInterface()->getCurrentValueAsString().contains (" %, 0:0"); }));
    ASSERT_TRUE (waitFor ([&] { return versionText (c()) == "QB4II Control: 1.05" && ! alerts->announcements.empty(); }));
    ASSERT_TRUE (waitFor ([&] { return alerts->announcements.back().startsWith ("Update Complete"); }));
    EXPECT_EQ (alerts->announcements, (std::vector<juce::String> { "Erasing Current Firmware", "Sending App Firmware",
                                                                   "Firmware Update Complete. Your QB4 II will reset itself when ready to be used.",
                                                                   "Update Complete: QB4II Control 1.05 confirmed" }));
    c().removeFromDesktop();
}

TEST_F (MainWindowComponentScenario, KeyboardFocusAloneStartsTheUpdateAndEStillSwitchesTheForm)
{
    emulator.powerUp();
    ASSERT_TRUE (waitFor ([&] { return versionText (c()) == "QB4II Control: 1.00"; }));

    MainWindow::Ptr window = new MainWindow (component);
    auto* peer = window->getPeer();
    // The desktop activates the window it opened, as a window manager does.
    const auto focused = [&] {
        window->toFront (true);
        return updateButton (c()).hasKeyboardFocus (false);
    };
    ASSERT_TRUE (waitFor (focused)) << "the opened window's button has no focus";

    // E still switches the emergency form, on and off.
    EXPECT_TRUE (peer->handleKeyPress (lowerCaseE));
    EXPECT_TRUE (emergencyShown (c()));
    EXPECT_TRUE (peer->handleKeyPress (lowerCaseE));
    EXPECT_FALSE (emergencyShown (c()));

    // Return presses the focused button.
    EXPECT_TRUE (peer->handleKeyPress (juce::KeyPress (juce::KeyPress::returnKey)));
    ASSERT_TRUE (waitFor ([&] { return eraseRequestsSent() == 1; }));
    ASSERT_TRUE (waitFor ([&] { return versionText (c()) == "QB4II Control: 1.05"; }));
    EXPECT_TRUE (updateButton (c()).isEnabled());
}
