#include "app/QB4IIFirmwareUpdaterApplication.h"

#include "ProductInfo.h"
#include "engine/ChildDescriptors.h"
#include "ui/MainWindowComponent.h"

QB4IIFirmwareUpdaterApplication::~QB4IIFirmwareUpdaterApplication()
{
    // The window's content holds the last reference to the engine, which holds one
    // to the MIDI manager: releasing in this order destroys the content and the
    // engine with the window, and the MIDI manager last.
    quitSignals = nullptr;
    quitGuard = nullptr;
    eventQueueWatch = nullptr;
    engine = nullptr;
    mainWindow = nullptr;
    midiManager = nullptr;

    // No window is left to draw with it.
    juce::LookAndFeel::setDefaultLookAndFeel (nullptr);
    look = nullptr;
}

const juce::String QB4IIFirmwareUpdaterApplication::getApplicationName()
{
    return ProductInfo::name;
}

const juce::String QB4IIFirmwareUpdaterApplication::getApplicationVersion()
{
    return ProductInfo::version;
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
    // First, so that no signal that finds a window ends the program unasked,
    // nor a write to a closed stderr.
    QuitSignals::ignoreBrokenPipes();
    quitSignals = std::make_unique<QuitSignals> ([this] { systemRequestedQuit(); });
    ChildDescriptors::closeAllOnExec();

    // The notices in the window's own look where the framework draws them (on
    // Linux); the system's own boxes elsewhere.
    look = std::make_unique<CustomLook>();
    juce::LookAndFeel::setDefaultLookAndFeel (look.get());
    look->setUsingNativeAlertWindows (true);

    midiManager = new MidiManager (createMidiService());
    engine = new ApplicationEngine (midiManager);
    engine->setSleepInhibitor (SleepInhibitor::createForPlatform());

    MainWindowComponent::Ptr content (new MainWindowComponent (engine));
    mainWindow = new MainWindow (content);
    content = nullptr;
    eventQueueWatch = std::make_unique<X11EventQueueWatch>();

    quitGuard = std::make_unique<QuitGuard> (engine, [] (const juce::String& title, const juce::String& message, std::function<void (bool)> answer) {
        juce::AlertWindow::showOkCancelBox (juce::MessageBoxIconType::InfoIcon, title, message, "OK", "Cancel", nullptr,
                                            juce::ModalCallbackFunction::create ([answer = std::move (answer)] (int result) {
                                                answer (result != 0);
                                            }));
    });

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
    if (quitGuard == nullptr)
        quit();
    else
        quitGuard->requestQuit ([] { quit(); });
}
