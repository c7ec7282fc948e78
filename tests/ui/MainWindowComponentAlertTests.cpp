#include "app/MainWindow.h"
#include "emulator/VirtualMidiService.h"
#include "support/UpdaterRig.h"
#include "ui/MainWindowComponentTestSupport.h"

#include <optional>

using namespace testing_support;

namespace
{
    /** The alert windows on the desktop now. */
    std::vector<juce::AlertWindow*> shownAlerts()
    {
        std::vector<juce::AlertWindow*> found;
        auto& desktop = juce::Desktop::getInstance();

        for (int i = 0; i < desktop.getNumComponents(); ++i)
            if (auto* alert = dynamic_cast<juce::AlertWindow*> (desktop.getComponent (i)))
                found.push_back (alert);

        return found;
    }

    juce::StringArray buttonTexts (juce::AlertWindow& alert)
    {
        juce::StringArray texts;

        for (auto* each : alert.getChildren())
            if (auto* button = dynamic_cast<juce::TextButton*> (each))
                texts.add (button->getButtonText());

        texts.sort (false);
        return texts;
    }

    /** What an alert window showed. */
    struct SeenAlert
    {
        juce::String title, description;
        juce::StringArray buttons;
        bool modal = false;
    };

    SeenAlert describe (juce::AlertWindow& alert)
    {
        return { alert.getName(), alert.getDescription(), buttonTexts (alert), alert.isCurrentlyModal() };
    }

    /** Answers the first alert window that shows up by clicking one of its
        buttons, from the message loop that the blocking question runs. */
    struct AlertAnswerer final : juce::Timer
    {
        explicit AlertAnswerer (juce::String buttonToClick)
            : button (std::move (buttonToClick))
        {
            startTimer (10);
        }

        ~AlertAnswerer() override { stopTimer(); }

        void timerCallback() override
        {
            const auto alerts = shownAlerts();

            if (alerts.empty())
                return;

            stopTimer();
            seen = describe (*alerts.front());
            alerts.front()->triggerButtonClick (button);
        }

        juce::String button;
        std::optional<SeenAlert> seen;
    };

    /** The component with the framework's own alert boxes, on an engine that
        never finds a controller. Needs a display (the suite runs under Xvfb). */
    struct MainWindowComponentAlerts : ::testing::Test
    {
        ~MainWindowComponentAlerts() override
        {
            // Whatever a failed test left open goes before the next test.
            for (auto* alert : shownAlerts())
                alert->exitModalState (0);
            pumpUntil ([] { return shownAlerts().empty(); });
            component = nullptr;
        }

        bool waitForAlert()
        {
            return pumpUntil ([] { return ! shownAlerts().empty(); }, 3000);
        }

        void dismissWithOk()
        {
            ASSERT_EQ (shownAlerts().size(), 1u);
            shownAlerts().front()->triggerButtonClick ("OK");
            EXPECT_TRUE (pumpUntil ([] { return shownAlerts().empty(); })) << "the alert did not go";
        }

        std::shared_ptr<VirtualMidiService> service = std::make_shared<VirtualMidiService>();
        MidiManager::Ptr manager = new MidiManager (service);
        ApplicationEngine::Ptr engine = new ApplicationEngine (manager, UpdaterRig::shortTiming());
        MainWindowComponent::Ptr component = new MainWindowComponent (engine);
    };
} // namespace

TEST_F (MainWindowComponentAlerts, NoticeIsAModalAlertWithItsTitleMessageAndOneOkButton)
{
    ASSERT_TRUE (shownAlerts().empty());

    // Returns at once: the notice does not block.
    component->updateErrorOccurred (ApplicationEngine::deviceOfflineError);
    ASSERT_TRUE (waitForAlert());

    const auto alerts = shownAlerts();
    ASSERT_EQ (alerts.size(), 1u);
    const auto seen = describe (*alerts.front());
    EXPECT_EQ (seen.title, errorTitle);
    EXPECT_EQ (seen.description, errorTitle + ". " + errorMessage);
    EXPECT_EQ (seen.buttons, juce::StringArray ("OK"));
    EXPECT_TRUE (seen.modal);
    EXPECT_EQ (alerts.front()->getNumButtons(), 1);

    // The keyboard closes it: Return, as Escape does the next one.
    EXPECT_TRUE (alerts.front()->getPeer()->handleKeyPress (juce::KeyPress (juce::KeyPress::returnKey)));
    EXPECT_TRUE (pumpUntil ([] { return shownAlerts().empty(); })) << "Return did not close the notice";
    EXPECT_TRUE (updateButton (*component).isEnabled());
}

TEST_F (MainWindowComponentAlerts, CompletionNoticeShowsOnTheDesktop)
{
    component->updateStateChanged (ApplicationEngine::complete);
    ASSERT_TRUE (waitForAlert());

    const auto seen = describe (*shownAlerts().front());
    EXPECT_EQ (seen.title, completeTitle);
    EXPECT_EQ (seen.description, completeTitle + ". " + completeMessage);
    EXPECT_EQ (seen.buttons, juce::StringArray ("OK"));
    EXPECT_TRUE (shownAlerts().front()->getPeer()->handleKeyPress (juce::KeyPress (juce::KeyPress::escapeKey)));
    EXPECT_TRUE (pumpUntil ([] { return shownAlerts().empty(); })) << "Escape did not close the notice";
}

TEST_F (MainWindowComponentAlerts, EmergencyQuestionBlocksTheClickUntilAnswered)
{
    ASSERT_TRUE (component->keyPressed (lowerCaseE, component.get()));

    {
        AlertAnswerer answerer ("Cancel");
        component->buttonClicked (&updateButton (*component)); // returns once answered

        ASSERT_TRUE (answerer.seen.has_value()) << "the click returned without asking";
        EXPECT_EQ (answerer.seen->title, emergencyTitle);
        EXPECT_EQ (answerer.seen->description, emergencyTitle + ". " + emergencyText);
        EXPECT_EQ (answerer.seen->buttons, juce::StringArray ("Cancel", "OK"));
        EXPECT_TRUE (answerer.seen->modal);
    }

    EXPECT_TRUE (pumpUntil ([] { return shownAlerts().empty(); }));
    pumpFor (100);
    EXPECT_TRUE (shownAlerts().empty()) << "Cancel went on to an update";

    // OK goes on to the update, which without a controller is refused with the
    // other notice.
    {
        AlertAnswerer answerer ("OK");
        component->buttonClicked (&updateButton (*component));
        ASSERT_TRUE (answerer.seen.has_value());
    }

    ASSERT_TRUE (pumpUntil ([] { return shownAlerts().size() == 1 && shownAlerts().front()->getName() == noDeviceTitle; }, 3000));
    const auto seen = describe (*shownAlerts().front());
    EXPECT_EQ (seen.description, noDeviceTitle + ". " + noDeviceMessage);
    EXPECT_EQ (seen.buttons, juce::StringArray ("OK"));
    dismissWithOk();
}

TEST_F (MainWindowComponentAlerts, KeysReachingTheWindowOrTheComponentAreHandledByIt)
{
    {
        MainWindow::Ptr window = new MainWindow (component);
        auto* peer = window->getPeer();
        ASSERT_NE (peer, nullptr);
        EXPECT_EQ (window->getContentComponent(), component.get());

        EXPECT_TRUE (peer->handleKeyPress (lowerCaseE));
        EXPECT_TRUE (emergencyShown (*component));
        EXPECT_TRUE (peer->handleKeyPress (shiftE)) << "a key was not consumed";
        EXPECT_TRUE (peer->handleKeyPress (juce::KeyPress (juce::KeyPress::escapeKey))) << "a key was not consumed";
        EXPECT_TRUE (emergencyShown (*component));
        EXPECT_TRUE (peer->handleKeyPress (lowerCaseE));
        EXPECT_FALSE (emergencyShown (*component));
    }

    // On its own, the component hears the keys that reach it.
    component->addToDesktop (0);
    auto* peer = component->getPeer();
    ASSERT_NE (peer, nullptr);
    EXPECT_TRUE (peer->handleKeyPress (lowerCaseE));
    EXPECT_TRUE (emergencyShown (*component));
    EXPECT_TRUE (engine->getState().emergencyMode);
    component->removeFromDesktop();
}
