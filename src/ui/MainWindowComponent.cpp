#include "ui/MainWindowComponent.h"

#include "engine/OutsideText.h"
#include "engine/UpdateOutcome.h"
#include "firmware/EmergencyInstructions.h"
#include "ui/PictureButton.h"
#include "ui/PictureComponent.h"
#include "ui/Pictures.h"

namespace
{
    const juce::Colour headingColour (0xff808080);
    const juce::Colour textColour (0xff000000);

    /** A label as the window shows them all: default typeface, plain, top-left. */
    std::unique_ptr<juce::Label> makeLabel (const juce::String& id, const juce::String& text,
                                            float fontHeight, juce::Colour colour, int width, int height)
    {
        auto label = std::make_unique<juce::Label>();
        label->setComponentID (id);
        label->setFont (juce::Font (fontHeight));
        label->setText (text, juce::dontSendNotification);
        label->setSize (width, height);
        label->setColour (juce::Label::textColourId, colour);
        label->setJustificationType (juce::Justification::topLeft);
        return label;
    }

    const juce::String unansweredHint ("Status: No answer from the QB4 II firmware: press E for an emergency update");
} // namespace

//==============================================================================
void MainWindowComponent::Alerts::showNotice (const juce::String& title, const juce::String& message)
{
    juce::AlertWindow::showMessageBoxAsync (juce::MessageBoxIconType::NoIcon, title, message, "OK", nullptr, nullptr);
}

bool MainWindowComponent::Alerts::askOkCancel (const juce::String& title, const juce::String& message)
{
    return juce::AlertWindow::showOkCancelBox (juce::MessageBoxIconType::InfoIcon, title, message, "OK", "Cancel", nullptr, nullptr);
}

void MainWindowComponent::Alerts::announce (const juce::String& text, bool urgent)
{
    juce::AccessibilityHandler::postAnnouncement (text, urgent ? juce::AccessibilityHandler::AnnouncementPriority::high
                                                               : juce::AccessibilityHandler::AnnouncementPriority::medium);
}

//==============================================================================
MainWindowComponent::MainWindowComponent (ApplicationEngine::Ptr e)
    : engine (std::move (e))
    , alerts (std::make_unique<Alerts>())
{
    backgroundImage = std::make_unique<PictureComponent>();
    backgroundImage->setComponentID ("backgroundImage");
    backgroundImage->setPictures (Pictures::backgroundPicture.image(), Pictures::backgroundPicture.largeImage());
    backgroundImage->setAccessible (false); // only decoration
    addAndMakeVisible (*backgroundImage);

    using Pictures::updateButtonDownPicture, Pictures::updateButtonNormalPicture, Pictures::updateButtonOverPicture;
    updateButton = std::make_unique<PictureButton>();
    updateButton->setComponentID ("updateButton");
    updateButton->setImages (true, false, true,
                             updateButtonNormalPicture.image(), 1.0f, juce::Colours::transparentWhite,
                             updateButtonOverPicture.image(), 1.0f, juce::Colours::transparentWhite,
                             updateButtonDownPicture.image(), 1.0f, juce::Colours::transparentWhite,
                             0.0f);
    updateButton->setLargeImages (updateButtonNormalPicture.largeImage(), updateButtonOverPicture.largeImage(),
                                  updateButtonDownPicture.largeImage());
    updateButton->setTitle ("Update Firmware");
    updateButton->setDescription ("Writes QB4II Control " + engine->getOfferedImage().getVersion() + " into the connected QB4 II");
    updateButton->setWantsKeyboardFocus (true);

    // The lamp has no picture, and so no size, until the first hardware notification.
    deviceIndicator = std::make_unique<PictureComponent>();
    deviceIndicator->setComponentID ("deviceIndicator");
    deviceIndicator->setTopLeftPosition (20, 370);
    deviceIndicator->setDescription ("Connection lamp");
    addAndMakeVisible (*deviceIndicator);

    // Its background stays clear, so that the frame in the background picture
    // shows through; CustomLook does not use the foreground colour.
    progressBar = std::make_unique<UpdateProgressBar> (progressValue);
    progressBar->setComponentID ("progressBar");
    progressBar->setSize (460, 26);
    progressBar->setColour (juce::ProgressBar::backgroundColourId, juce::Colours::transparentBlack);
    progressBar->setColour (juce::ProgressBar::foregroundColourId, juce::Colour (0xff0000ff));
    progressBar->setTopLeftPosition (20, 257);
    addAndMakeVisible (*progressBar);

    updateButton->addListener (this);
    addAndMakeVisible (*updateButton);

    statusLabel = std::make_unique<juce::Label>();
    statusLabel->setComponentID ("statusLabel");
    statusLabel->setText ({}, juce::dontSendNotification);
    statusLabel->setColour (juce::Label::textColourId, textColour);
    statusLabel->setSize (300, 25);
    statusLabel->setDescription ("Status");

    currentVersionLabel = makeLabel ("currentVersionLabel", "Current Version: ", 16.0f, headingColour, 300, 25);
    addAndMakeVisible (*currentVersionLabel);

    updateVersionLabel = makeLabel ("updateVersionLabel", "Update Version: ", 16.0f, headingColour, 300, 25);
    addAndMakeVisible (*updateVersionLabel);

    updateControlVersionLabel = makeLabel ("updateControlVersionLabel", "QB4II Control: " + engine->getOfferedImage().getVersion(), 20.0f, textColour, 300, 25);
    addAndMakeVisible (*updateControlVersionLabel);

    currentControlVersionLabel = makeLabel ("currentControlVersionLabel", "QB4II Control: ", 20.0f, textColour, 300, 25);
    currentControlVersionLabel->setDescription ("Firmware the QB4 II runs");
    updateControlVersionLabel->setDescription ("Firmware this updater writes");
    addAndMakeVisible (*currentControlVersionLabel);

    productLabel = makeLabel ("productLabel", "Product: ", 16.0f, headingColour, 75, 25);
    productLabel->setTopLeftPosition (18, 150);
    addAndMakeVisible (*productLabel);

    emergencyLabel = makeLabel ("emergencyLabel", "Emergency Update", 14.0f, textColour, 100, 15);
    addChildComponent (*emergencyLabel);

    productNameLabel = makeLabel ("productNameLabel", "Korvan QB4 II", 20.0f, textColour, 300, 25);
    productNameLabel->setTopLeftPosition (productLabel->getX() + 60, productLabel->getY() - 2);
    addAndMakeVisible (*productNameLabel);

    updateButton->setTopLeftPosition (328, 343);
    statusLabel->setTopLeftPosition (18, 295);
    statusLabel->setJustificationType (juce::Justification::topLeft);
    currentVersionLabel->setTopLeftPosition (18, 200);
    updateVersionLabel->setTopLeftPosition (250, 200);
    updateControlVersionLabel->setTopLeftPosition (updateVersionLabel->getX(), updateVersionLabel->getY() + 20);
    currentControlVersionLabel->setTopLeftPosition (currentVersionLabel->getX(), currentVersionLabel->getY() + 20);
    addAndMakeVisible (*statusLabel);

    setLookAndFeel (&customLook);
    showLampState();
    engine->addListener (this);
    backgroundImage->toBack();
    addKeyListener (this);
    setSize (backgroundImage->getWidth(), backgroundImage->getHeight());
}

MainWindowComponent::~MainWindowComponent()
{
    engine->removeListener (this);
    removeKeyListener (this);
    updateButton->removeListener (this);

    // The look goes with the members: no child may still use it by then.
    setLookAndFeel (nullptr);
}

void MainWindowComponent::setAlerts (std::unique_ptr<Alerts> newAlerts)
{
    alerts = newAlerts != nullptr ? std::move (newAlerts) : std::make_unique<Alerts>();
}

void MainWindowComponent::parentHierarchyChanged()
{
    focusUpdateButton();
}

void MainWindowComponent::focusUpdateButton()
{
    // Only a component on a showing window can take the focus: the window's
    // showing, or its content's, calls this again.
    if (isShowing() && updateButton->isEnabled())
        updateButton->grabKeyboardFocus();
}

void MainWindowComponent::enableUpdateButton()
{
    updateButton->setEnabled (true);
    updateButton->setTooltip ({});
    focusUpdateButton();
}

void MainWindowComponent::resized()
{
    if (emergencyLabel != nullptr)
        emergencyLabel->setTopLeftPosition (getWidth() - emergencyLabel->getWidth(),
                                            getHeight() - emergencyLabel->getHeight());
}

//==============================================================================
void MainWindowComponent::updateStateChanged (int state)
{
    lastUpdateState = state;

    juce::String text;

    switch (state)
    {
        case ApplicationEngine::erasing:
            text = "Erasing Current Firmware";
            break;
        case ApplicationEngine::sending:
            text = "Sending App Firmware";
            break;
        case ApplicationEngine::complete:
            text = "Update Complete";
            break;
        default:
            break;
    }

    // Told once a phase: the state comes again with every progress report. The
    // completion is told with its notice.
    if (state != announcedState && (state == ApplicationEngine::erasing || state == ApplicationEngine::sending))
        alerts->announce (text, false);

    announcedState = state;

    if (state == ApplicationEngine::complete)
    {
        const juce::String message (emergencySelected ? emergencyResetInstruction
                                                      : "Your QB4 II will reset itself when ready to be used.");
        alerts->announce ("Firmware Update Complete. " + message, emergencySelected);
        alerts->showNotice ("Firmware Update Complete", message);
        progressValue = 1.0;
        progressBar->setSecondsLeft (-1.0);
        enableUpdateButton();
        setEmergencySelected (false);
    }

    statusLabel->setText ("Status: " + text, juce::dontSendNotification);
}

void MainWindowComponent::updateProgressChanged (double progress)
{
    progressValue = progress;

    // While slices go out, the time they still take.
    const auto& timing = engine->getTiming();
    const auto slices = (double) FirmwareUpdate::numBlocksFor ((unsigned) engine->getOfferedImage().getSize(), timing.blockSize);
    progressBar->setSecondsLeft (engine->isUpdating() && progress > 0.0 ? (1.0 - progress) * slices * timing.blockIntervalMs / 1000.0 : -1.0);
}

void MainWindowComponent::updateErrorOccurred (int)
{
    progressValue = 0.0;
    progressBar->setSecondsLeft (-1.0);
    enableUpdateButton();
    showNotice (UpdateOutcome::ofOffline (engine->hasWrittenToController()));
}

void MainWindowComponent::updateResultChanged (const ApplicationEngine::UpdateResult& result)
{
    // A confirmed update is told on the status line alone.
    const auto outcome = UpdateOutcome::ofResult (result, engine->getState().deviceName);
    statusLabel->setText ("Status: " + (outcome.title.isEmpty() ? outcome.notice : outcome.title), juce::dontSendNotification);

    if (outcome.title.isNotEmpty())
        showNotice (outcome);
    else
        alerts->announce (outcome.notice, false);
}

void MainWindowComponent::showNotice (const UpdateOutcome& outcome)
{
    // Every notice needs the user: it is said at once.
    alerts->announce (outcome.title + ". " + outcome.notice, true);
    alerts->showNotice (outcome.title, outcome.notice);
}

bool MainWindowComponent::ask (const juce::String& title, const juce::String& message)
{
    alerts->announce (title + ". " + message, true);
    return alerts->askOkCancel (title, message);
}

void MainWindowComponent::firmwareVersionChanged (double version)
{
    // Written so that a NaN, which equals nothing, counts as a version.
    if (version != 0.0)
        currentControlVersionLabel->setText ("QB4II Control: " + juce::String (version, 2), juce::dontSendNotification);
    else
        currentControlVersionLabel->setText ("QB4II Control: ", juce::dontSendNotification);

    // The hint goes as soon as the controller answers.
    if (statusLabel->getText() == unansweredHint)
        showIdleStatus();

    showLampState();
}

void MainWindowComponent::hardwareDetectedChanged (bool detected)
{
    const auto& lamp = detected ? Pictures::deviceFoundPicture : Pictures::deviceNotFoundPicture;

    controllerShown = detected;
    showIdleStatus();
    showLampState();

    deviceIndicator->setPictures (lamp.image(), lamp.largeImage());
}

void MainWindowComponent::showLampState()
{
    const auto& state = engine->getState();
    deviceIndicator->setTitle (! controllerShown                                               ? "No QB4 II found"
                               : state.controllerSilent && state.firmwareVersion.load() == 0.0 ? "QB4 II found, its firmware does not answer"
                                                                                               : "QB4 II connected");
}

void MainWindowComponent::showIdleStatus()
{
    // Once an update has been started the status line tells its story instead.
    if (lastUpdateState != ApplicationEngine::idle)
        return;

    const auto& state = engine->getState();

    // A controller that is listed but silent is in its bootloader or has no
    // firmware: the way back is the emergency update.
    if (! controllerShown && state.midiUnavailable.isNotEmpty())
        statusLabel->setText ("No MIDI: " + OutsideText::visible (state.midiUnavailable), juce::dontSendNotification);
    else if (! controllerShown)
        statusLabel->setText ("Device not found.", juce::dontSendNotification);
    else if (state.controllerSilent && ! emergencySelected && state.firmwareVersion.load() == 0.0)
        statusLabel->setText (unansweredHint, juce::dontSendNotification);
    else
        statusLabel->setText ({}, juce::dontSendNotification);
}

void MainWindowComponent::buttonClicked (juce::Button* button)
{
    if (button != updateButton.get())
        return;

    if (emergencySelected && ! ask ("QB4 II Emergency Update", emergencyInstructions))
        return;

    // The erase request leaves a controller that cannot answer with nothing at
    // all; the user may know better (a controller that reports no version).
    if (! emergencySelected && engine->getState().hardwareDetected && engine->getState().firmwareVersion.load() == 0.0)
        if (const auto question = UpdateOutcome::ofNotAnswering (engine->getState().deviceName); ! ask (question.title, question.notice))
            return;

    beginUpdate();
}

bool MainWindowComponent::keyPressed (const juce::KeyPress& key, juce::Component*)
{
    if (key.getTextCharacter() == 'e')
        setEmergencySelected (! emergencySelected);

    return true;
}

//==============================================================================
void MainWindowComponent::setEmergencySelected (bool shouldBeOn)
{
    // No switching while an update runs.
    if (! updateButton->isEnabled())
        return;

    emergencyLabel->setVisible (shouldBeOn);
    engine->setEmergencyMode (shouldBeOn);
    emergencySelected = shouldBeOn;

    if (statusLabel->getText() == unansweredHint)
        showIdleStatus();
}

void MainWindowComponent::beginUpdate()
{
    progressValue = 0.0;

    // The form the window shows is the one that runs, whatever the engine selected meanwhile.
    if (engine->startUpdate (emergencySelected))
    {
        updateButton->setEnabled (false);
        updateButton->setTooltip ("Not while an update runs");
        return;
    }

    const auto refusal = engine->getLastStartRefusal();
    const auto outcome = UpdateOutcome::ofRefusal (refusal, *engine);

    // Nothing was sent: for want of a sleep lock, the user decides whether to go ahead.
    if (refusal != ApplicationEngine::machineMaySleep)
        showNotice (outcome);
    else if (ask (outcome.title, outcome.notice))
    {
        engine->acceptSleepRisk();
        beginUpdate();
    }
}
