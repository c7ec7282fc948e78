#include "app/QB4IIFirmwareUpdaterApplication.h"

#include "ui/MainWindowComponent.h"

QB4IIFirmwareUpdaterApplication::~QB4IIFirmwareUpdaterApplication()
{
    // The window's content holds the last reference to the engine, which holds one
    // to the MIDI manager: releasing in this order destroys the content and the
    // engine with the window, and the MIDI manager last.
    engine = nullptr;
    mainWindow = nullptr;
    midiManager = nullptr;
}

const juce::String QB4IIFirmwareUpdaterApplication::getApplicationName()
{
    return "QB4II Firmware Updater";
}

const juce::String QB4IIFirmwareUpdaterApplication::getApplicationVersion()
{
    return "1.0.7";
}

bool QB4IIFirmwareUpdaterApplication::moreThanOneInstanceAllowed()
{
    return true;
}

std::shared_ptr<MidiService> QB4IIFirmwareUpdaterApplication::createMidiService()
{
    return MidiService::createPlatformService();
}

void QB4IIFirmwareUpdaterApplication::initialise (const juce::String&)
{
    juce::LookAndFeel::getDefaultLookAndFeel().setUsingNativeAlertWindows (true);

    midiManager = new MidiManager (createMidiService());
    engine = new ApplicationEngine (midiManager);

    MainWindowComponent::Ptr content (new MainWindowComponent (engine));
    mainWindow = new MainWindow (content);
    content = nullptr;

    initialised();
}

void QB4IIFirmwareUpdaterApplication::shutdown()
{
}

void QB4IIFirmwareUpdaterApplication::anotherInstanceStarted (const juce::String&)
{
}

void QB4IIFirmwareUpdaterApplication::systemRequestedQuit()
{
    if (engine != nullptr && engine->isUpdating())
    {
        const bool ok = juce::AlertWindow::showOkCancelBox (
            juce::MessageBoxIconType::InfoIcon,
            "QB4II Firmware Updater",
            "Update in progress. Exiting the application while an update is in progress will leave the QB4II in an unusable state.",
            "OK",
            "Cancel",
            nullptr,
            nullptr);

        if (! ok)
            return;
    }

    quit();
}
