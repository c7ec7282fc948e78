#include "firmware/EmergencyInstructions.h"
#include "emulator/VirtualMidiService.h"
#include "support/RecordingEngineListener.h"
#include "support/UpdaterRig.h"
#include "ui/MainWindowComponentTestSupport.h"
#include "ui/Pictures.h"

#include <cmath>
#include <limits>

using namespace testing_support;

namespace
{
    /** The component on a real engine with no controller anywhere, told and asked
        through a recorder. The listener callbacks are driven directly; the
        engine's own notifications arrive only while a test pumps the loop. */
    struct MainWindowComponentTest : ::testing::Test
    {
        MainWindowComponentTest()
        {
            engine->addListener (&engineListener);
            component = new MainWindowComponent (engine);

            auto recorder = std::make_unique<RecordingAlerts>();
            alerts = recorder.get();
            component->setAlerts (std::move (recorder));
        }

        ~MainWindowComponentTest() override
        {
            component = nullptr;
            engine->removeListener (&engineListener);
        }

        /** Waits for the engine's first notification, which the component hears
            along with the recorder, so that it cannot overwrite what a test sets. */
        void settle()
        {
            ASSERT_TRUE (pumpUntil ([&] { return ! engineListener.states.empty(); }));
        }

        MainWindowComponent& c() { return *component; }

        std::shared_ptr<VirtualMidiService> service = std::make_shared<VirtualMidiService>();
        MidiManager::Ptr manager = new MidiManager (service);
        ApplicationEngine::Ptr engine = new ApplicationEngine (manager, UpdaterRig::shortTiming());
        RecordingEngineListener engineListener;
        MainWindowComponent::Ptr component;
        RecordingAlerts* alerts = nullptr;
    };

    juce::String hex (juce::Colour colour) { return "#" + colour.toDisplayString (true); }
} // namespace

//==============================================================================
TEST_F (MainWindowComponentTest, StartsWithNoLampAnEmptyStatusAnEmptyBarAndTheButtonEnabled)
{
    EXPECT_EQ (lamp (c()), Lamp::none);
    EXPECT_EQ (child<juce::ImageComponent> (c(), "deviceIndicator").getBounds(), juce::Rectangle<int> (20, 370, 0, 0));
    EXPECT_EQ (statusText (c()), "");
    EXPECT_EQ (versionText (c()), "QB4II Control: ");
    EXPECT_EQ (shownProgressWidth (c()), 0);
    EXPECT_TRUE (updateButton (c()).isEnabled());
    EXPECT_FALSE (emergencyShown (c()));
    EXPECT_FALSE (engine->getState().emergencyMode);
}

TEST_F (MainWindowComponentTest, ChildrenSitAtTheirLayoutBounds)
{
    using R = juce::Rectangle<int>;
    EXPECT_EQ (c().getBounds(), R (0, 0, 500, 395));

    const std::vector<std::pair<const char*, R>> expected {
        { "backgroundImage", R (0, 0, 500, 395) },
        { "progressBar", R (20, 257, 460, 26) },
        { "updateButton", R (328, 343, 150, 30) },
        { "currentVersionLabel", R (18, 200, 300, 25) },
        { "updateVersionLabel", R (250, 200, 300, 25) },
        { "updateControlVersionLabel", R (250, 220, 300, 25) },
        { "currentControlVersionLabel", R (18, 220, 300, 25) },
        { "productLabel", R (18, 150, 75, 25) },
        { "emergencyLabel", R (400, 380, 100, 15) },
        { "productNameLabel", R (78, 148, 300, 25) },
        { "statusLabel", R (18, 295, 300, 25) },
    };

    for (const auto& [id, bounds] : expected)
        EXPECT_EQ (child<juce::Component> (c(), id).getBounds(), bounds) << id;

    // The lamp takes its picture's size once there is one.
    c().hardwareDetectedChanged (false);
    EXPECT_EQ (child<juce::ImageComponent> (c(), "deviceIndicator").getBounds(), R (20, 370, 12, 12));
    c().hardwareDetectedChanged (true);
    EXPECT_EQ (child<juce::ImageComponent> (c(), "deviceIndicator").getBounds(), R (20, 370, 12, 12));

    // The marker follows the bottom-right corner.
    c().setSize (600, 500);
    EXPECT_EQ (child<juce::Component> (c(), "emergencyLabel").getBounds(), R (500, 485, 100, 15));
}

TEST_F (MainWindowComponentTest, LabelsShowTheirTexts)
{
    for (const auto& [id, text] : { std::pair ("currentVersionLabel", "Current Version: "),
                                    std::pair ("updateVersionLabel", "Update Version: "),
                                    std::pair ("updateControlVersionLabel", "QB4II Control: 1.05"),
                                    std::pair ("currentControlVersionLabel", "QB4II Control: "),
                                    std::pair ("productLabel", "Product: "),
                                    std::pair ("emergencyLabel", "Emergency Update"),
                                    std::pair ("productNameLabel", "Korvan QB4 II") })
    {
        auto& label = child<juce::Label> (c(), id);
        EXPECT_EQ (label.getText(), text) << id;
        EXPECT_EQ (label.isVisible(), juce::String (id) != "emergencyLabel") << id;
    }
}

TEST_F (MainWindowComponentTest, RenderedPanelShowsTheBlueRuleAndTheBarFrame)
{
    const auto shot = c().createComponentSnapshot (c().getLocalBounds(), true, 1.0f);
    const auto background = Pictures::backgroundPicture.image();
    ASSERT_EQ (shot.getBounds(), juce::Rectangle<int> (500, 395));

    for (const auto x : { 0, 19, 250, 481, 499 })
        EXPECT_EQ (shot.getPixelAt (x, 141).getARGB(), 0xff00afecu) << "x " << x << ": " << hex (shot.getPixelAt (x, 141));

    const juce::Colour frame (0xff9f9f9f);
    for (const auto y : { 262, 270, 277 })
    {
        EXPECT_EQ (shot.getPixelAt (19, y), frame) << "x 19, y " << y << ": " << hex (shot.getPixelAt (19, y));
        EXPECT_EQ (shot.getPixelAt (481, y), frame) << "x 481, y " << y << ": " << hex (shot.getPixelAt (481, y));
    }
    for (const auto x : { 30, 250, 470 })
    {
        EXPECT_EQ (shot.getPixelAt (x, 256), frame) << "x " << x << ", y 256: " << hex (shot.getPixelAt (x, 256));
        EXPECT_EQ (shot.getPixelAt (x, 283), frame) << "x " << x << ", y 283: " << hex (shot.getPixelAt (x, 283));
    }

    // The empty bar is clear: the frame's inside shows through it, away from
    // its centred text.
    for (const auto& [x, y] : { std::pair (21, 258), std::pair (60, 270), std::pair (440, 281) })
        EXPECT_EQ (shot.getPixelAt (x, y), background.getPixelAt (x, y)) << x << ", " << y;

    // The labels draw their text over the panel: it is at the back.
    const auto inkIn = [&] (const juce::Image& image, juce::Rectangle<int> area) {
        for (int y = area.getY(); y < area.getBottom(); ++y)
            for (int x = area.getX(); x < area.getRight(); ++x)
                if (image.getPixelAt (x, y).getBrightness() < 0.3f && background.getPixelAt (x, y).getBrightness() > 0.6f)
                    return true;
        return false;
    };
    EXPECT_TRUE (inkIn (shot, { 78, 148, 150, 25 })) << "no product name";
    EXPECT_TRUE (inkIn (shot, { 250, 220, 180, 25 })) << "no offered version";
    EXPECT_FALSE (inkIn (shot, { 400, 380, 100, 15 })) << "the hidden emergency marker was drawn";

    c().keyPressed (lowerCaseE, &c());
    EXPECT_TRUE (inkIn (c().createComponentSnapshot (c().getLocalBounds()), { 400, 380, 100, 15 })) << "no emergency marker";
}

TEST_F (MainWindowComponentTest, AboveScaleOneEachPictureIsDrawnFromItsScaleTwoFile)
{
    using R = juce::Rectangle<int>;
    c().hardwareDetectedChanged (true);
    const auto shot = c().createComponentSnapshot (c().getLocalBounds(), true, 2.0f);

    // Pixel for pixel where the picture is opaque and no label covers it.
    for (const auto& [picture, area] : { std::pair (&Pictures::backgroundPicture, R (207, 12, 276, 112)),
                                         std::pair (&Pictures::updateButtonNormalPicture, R (328, 343, 150, 30)),
                                         std::pair (&Pictures::deviceFoundPicture, R (20, 370, 12, 12)) })
    {
        const auto large = picture->largeImage();
        const auto origin = picture == &Pictures::backgroundPicture ? juce::Point<int>() : area.getPosition();
        int differing = 0;

        for (int y = area.getY() * 2; y < area.getBottom() * 2; ++y)
            for (int x = area.getX() * 2; x < area.getRight() * 2; ++x)
                if (const auto p = large.getPixelAt (x - origin.x * 2, y - origin.y * 2); p.isOpaque() && shot.getPixelAt (x, y) != p)
                    ++differing;

        EXPECT_EQ (differing, 0) << "in " << area.toString();
    }
}

TEST_F (MainWindowComponentTest, RenderedFullBarIsTheBlueGradientInsideTheFrame)
{
    settle();
    c().updateProgressChanged (1.0);
    ASSERT_TRUE (waitForShownProgress (c(), 1.0));

    const auto shot = c().createComponentSnapshot (c().getLocalBounds(), true, 1.0f);
    const auto background = Pictures::backgroundPicture.image();

    // Below the top 30 % of its height the fill is one blue, from the bar's
    // left margin to its right one (the bar is at 20, 257, 460 x 26).
    for (const auto x : { 21, 100, 478 })
        EXPECT_EQ (shot.getPixelAt (x, 277), juce::Colour (0xff25a8f2)) << "x " << x << ": " << hex (shot.getPixelAt (x, 277));

    // The one-pixel margin stays clear, and the frame around it untouched.
    for (const auto& [x, y] : { std::pair (20, 270), std::pair (479, 270), std::pair (100, 257), std::pair (100, 282),
                                std::pair (19, 270), std::pair (481, 270), std::pair (100, 256), std::pair (100, 283) })
        EXPECT_EQ (shot.getPixelAt (x, y), background.getPixelAt (x, y)) << x << ", " << y << ": " << hex (shot.getPixelAt (x, y));
}

//==============================================================================
TEST_F (MainWindowComponentTest, StateNoticesWriteTheStatusLine)
{
    const std::vector<std::pair<int, const char*>> expected {
        { 0, "Status: " },
        { 1, "Status: Erasing Current Firmware" },
        { 2, "Status: Sending App Firmware" },
        { 3, "Status: Update Complete" },
        { 4, "Status: " },
        { -1, "Status: " },
        { 1000, "Status: " },
    };

    for (const auto& [state, text] : expected)
    {
        c().updateStateChanged (state);
        EXPECT_EQ (statusText (c()), text) << "state " << state;
    }

    ASSERT_EQ (alerts->notices.size(), 1u) << "only the complete state tells the user";
    EXPECT_EQ (alerts->notices[0].title, completeTitle);
}

TEST_F (MainWindowComponentTest, HardwareNoticeWhileIdleSetsLampAndStatusLine)
{
    c().hardwareDetectedChanged (false);
    EXPECT_EQ (lamp (c()), Lamp::red);
    EXPECT_EQ (statusText (c()), "Device not found.");

    c().hardwareDetectedChanged (true);
    EXPECT_EQ (lamp (c()), Lamp::green);
    EXPECT_EQ (statusText (c()), "");

    // An idle state after an update counts as idle again.
    c().updateStateChanged (2);
    c().updateStateChanged (0);
    c().hardwareDetectedChanged (false);
    EXPECT_EQ (statusText (c()), "Device not found.");
}

TEST_F (MainWindowComponentTest, HardwareNoticeOnceAnUpdateStartedChangesOnlyTheLamp)
{
    for (const auto state : { 1, 2, 3, 9 })
    {
        SCOPED_TRACE ("state " + std::to_string (state));
        c().updateStateChanged (state);
        const auto status = statusText (c());

        c().hardwareDetectedChanged (false);
        EXPECT_EQ (lamp (c()), Lamp::red);
        EXPECT_EQ (statusText (c()), status);

        c().hardwareDetectedChanged (true);
        EXPECT_EQ (lamp (c()), Lamp::green);
        EXPECT_EQ (statusText (c()), status);
    }
}

TEST_F (MainWindowComponentTest, VersionShowsTwoDecimalsOrNoneForZero)
{
    const std::vector<std::pair<double, const char*>> expected {
        { 1.05, "QB4II Control: 1.05" },
        { 1.1, "QB4II Control: 1.10" },
        { 0.0, "QB4II Control: " },
        { 2.0, "QB4II Control: 2.00" },
        { 12.34, "QB4II Control: 12.34" },
    };

    for (const auto& [version, text] : expected)
    {
        c().firmwareVersionChanged (version);
        EXPECT_EQ (versionText (c()), text) << version;
    }

    // A NaN is not 0.0: something follows the caption.
    c().firmwareVersionChanged (std::numeric_limits<double>::quiet_NaN());
    EXPECT_TRUE (versionText (c()).startsWith ("QB4II Control: "));
    EXPECT_GT (versionText (c()).length(), juce::String ("QB4II Control: ").length());
}

TEST_F (MainWindowComponentTest, BarFollowsProgressNotifications)
{
    settle();

    c().updateProgressChanged (0.25);
    EXPECT_TRUE (waitForShownProgress (c(), 0.25)) << shownProgressWidth (c());

    c().updateProgressChanged (1.0);
    EXPECT_TRUE (waitForShownProgress (c(), 1.0)) << shownProgressWidth (c());

    c().updateProgressChanged (0.0);
    EXPECT_TRUE (waitForShownProgress (c(), 0.0)) << shownProgressWidth (c());
}

//==============================================================================
TEST_F (MainWindowComponentTest, CompletionFillsTheBarEnablesTheButtonAndLeavesEmergencyMode)
{
    settle();
    c().updateStateChanged (1);
    ASSERT_TRUE (c().keyPressed (lowerCaseE, &c()));
    ASSERT_TRUE (emergencyShown (c()));

    c().updateStateChanged (3);
    expectEmergencyCompletion (*alerts, c(), *engine);
    if (HasFatalFailure())
        return;
    EXPECT_EQ (statusText (c()), "Status: Update Complete");
    EXPECT_TRUE (waitForShownProgress (c(), 1.0)) << shownProgressWidth (c());

    // Out of emergency mode, the other message.
    c().updateStateChanged (3);
    ASSERT_EQ (alerts->notices.size(), 2u);
    EXPECT_EQ (alerts->notices[1].title, completeTitle);
    EXPECT_EQ (alerts->notices[1].message, completeMessage);
}

TEST_F (MainWindowComponentTest, ErrorEmptiesTheBarAndKeepsStatusLineAndEmergencyMode)
{
    settle();
    c().updateStateChanged (2);
    ASSERT_TRUE (c().keyPressed (lowerCaseE, &c()));
    c().updateProgressChanged (1.0);
    ASSERT_TRUE (waitForShownProgress (c(), 1.0));

    c().updateErrorOccurred (ApplicationEngine::deviceOfflineError);

    ASSERT_EQ (alerts->notices.size(), 1u);
    EXPECT_EQ (alerts->notices[0].title, errorTitle);
    EXPECT_EQ (alerts->notices[0].message, errorMessage);
    EXPECT_TRUE (waitForShownProgress (c(), 0.0)) << shownProgressWidth (c());
    EXPECT_TRUE (updateButton (c()).isEnabled());
    EXPECT_EQ (statusText (c()), "Status: Sending App Firmware");
    EXPECT_TRUE (emergencyShown (c()));
    EXPECT_TRUE (engine->getState().emergencyMode);

    // Any code does the same.
    c().updateErrorOccurred (42);
    EXPECT_EQ (alerts->notices.size(), 2u);
}

//==============================================================================
TEST_F (MainWindowComponentTest, LowerCaseETogglesEmergencyMode)
{
    EXPECT_TRUE (c().keyPressed (lowerCaseE, &c()));
    EXPECT_TRUE (emergencyShown (c()));
    EXPECT_TRUE (engine->getState().emergencyMode);

    EXPECT_TRUE (c().keyPressed (lowerCaseE, nullptr));
    EXPECT_FALSE (emergencyShown (c()));
    EXPECT_FALSE (engine->getState().emergencyMode);
}

TEST_F (MainWindowComponentTest, EveryOtherKeyIsConsumedAndChangesNothing)
{
    const juce::KeyPress others[] = {
        shiftE,
        juce::KeyPress ('E', juce::ModifierKeys(), 'E'), // caps lock
        juce::KeyPress ('e', juce::ModifierKeys (juce::ModifierKeys::ctrlModifier), 0),
        juce::KeyPress ('x', juce::ModifierKeys(), 'x'),
        juce::KeyPress (juce::KeyPress::spaceKey, juce::ModifierKeys(), ' '),
        juce::KeyPress (juce::KeyPress::returnKey),
        juce::KeyPress (juce::KeyPress::escapeKey),
        juce::KeyPress (juce::KeyPress::F4Key, juce::ModifierKeys (juce::ModifierKeys::altModifier), 0),
    };

    for (const auto& key : others)
    {
        EXPECT_TRUE (c().keyPressed (key, &c())) << key.getTextDescription();
        EXPECT_FALSE (emergencyShown (c())) << key.getTextDescription();
        EXPECT_FALSE (engine->getState().emergencyMode) << key.getTextDescription();
    }

    EXPECT_TRUE (alerts->notices.empty() && alerts->questions.empty());
}

TEST_F (MainWindowComponentTest, EKeyChangesNothingWhileTheButtonIsDisabled)
{
    updateButton (c()).setEnabled (false);
    EXPECT_TRUE (c().keyPressed (lowerCaseE, &c()));
    EXPECT_FALSE (emergencyShown (c()));
    EXPECT_FALSE (engine->getState().emergencyMode);

    // Nor can it switch emergency mode off.
    updateButton (c()).setEnabled (true);
    c().keyPressed (lowerCaseE, &c());
    updateButton (c()).setEnabled (false);
    c().keyPressed (lowerCaseE, &c());
    EXPECT_TRUE (emergencyShown (c()));
    EXPECT_TRUE (engine->getState().emergencyMode);
}

//==============================================================================
TEST_F (MainWindowComponentTest, ClickWithoutAControllerResetsTheBarAndTellsTheUser)
{
    settle();
    c().updateProgressChanged (1.0);
    ASSERT_TRUE (waitForShownProgress (c(), 1.0));

    click (c());

    ASSERT_EQ (alerts->notices.size(), 1u);
    EXPECT_EQ (alerts->notices[0].title, noDeviceTitle);
    EXPECT_EQ (alerts->notices[0].message, noDeviceMessage);
    EXPECT_TRUE (alerts->questions.empty());
    EXPECT_TRUE (updateButton (c()).isEnabled());
    EXPECT_FALSE (engine->isUpdating());
    EXPECT_TRUE (waitForShownProgress (c(), 0.0)) << shownProgressWidth (c());
}

TEST_F (MainWindowComponentTest, EmergencyClickAsksFirstAndCancelStartsNothing)
{
    settle();
    c().keyPressed (lowerCaseE, &c());
    c().updateProgressChanged (1.0);
    ASSERT_TRUE (waitForShownProgress (c(), 1.0));

    alerts->answer = false;
    click (c());

    ASSERT_EQ (alerts->questions.size(), 1u);
    EXPECT_EQ (alerts->questions[0].title, emergencyTitle);
    EXPECT_EQ (alerts->questions[0].message, emergencyText);
    EXPECT_EQ (emergencyInstructions, emergencyText);
    EXPECT_TRUE (alerts->notices.empty()) << "the update was attempted";

    pumpFor (100);
    EXPECT_TRUE (showsProgress (c(), 1.0)) << "the bar was reset";
    EXPECT_TRUE (updateButton (c()).isEnabled());
    EXPECT_TRUE (emergencyShown (c()));
    EXPECT_TRUE (engine->getState().emergencyMode);
    EXPECT_TRUE (service->getSentLog (deviceMidiPortName).empty());
}

TEST_F (MainWindowComponentTest, EmergencyClickConfirmedGoesOnToTheUpdate)
{
    c().keyPressed (lowerCaseE, &c());
    alerts->answer = true;
    click (c());

    ASSERT_EQ (alerts->questions.size(), 1u);
    ASSERT_EQ (alerts->notices.size(), 1u) << "the update was not attempted";
    EXPECT_EQ (alerts->notices[0].title, noDeviceTitle);
}

TEST_F (MainWindowComponentTest, OtherButtonsAreIgnored)
{
    juce::TextButton stranger;
    c().buttonClicked (&stranger);
    EXPECT_TRUE (alerts->notices.empty() && alerts->questions.empty());
}

//==============================================================================
TEST_F (MainWindowComponentTest, DestroyedComponentHearsNothingMore)
{
    // Notifications are pending from the start; detection triggers more every pass.
    component = nullptr;
    alerts = nullptr;
    engineListener.log.clear();

    ASSERT_TRUE (pumpUntil ([&] { return engineListener.hardware.size() >= 2; }))
        << "the engine stopped notifying";
}

TEST_F (MainWindowComponentTest, ComponentHoldingTheLastEngineReferenceTakesItAlong)
{
    engine->removeListener (&engineListener);
    auto* raw = engine.get();
    engine = nullptr;
    EXPECT_EQ (raw->getReferenceCount(), 1) << "the component does not hold the engine";

    component = nullptr; // destroys the engine within its destructor
    engine = new ApplicationEngine (manager, UpdaterRig::shortTiming());
    pumpFor (50);
}
