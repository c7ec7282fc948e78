#pragma once

#include "app/MainWindow.h"
#include "app/QuitGuard.h"
#include "engine/QuitSignals.h"
#include "app/X11EventQueueWatch.h"
#include "engine/ApplicationEngine.h"
#include "midi/MidiManager.h"
#include "ui/CustomLook.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

/**
    The application object: creates the MIDI manager, the update engine, the
    window's content and the main window at start-up, in that order, and guards
    against quitting while an update is being written.

    The MIDI service is the platform's unless a subclass says otherwise, which is
    how the demo runs the same application against the built-in controller.
*/
class QB4IIFirmwareUpdaterApplication : public juce::JUCEApplication
{
public:
    QB4IIFirmwareUpdaterApplication() = default;
    ~QB4IIFirmwareUpdaterApplication() override;

    const juce::String getApplicationName() override;
    const juce::String getApplicationVersion() override;
    bool moreThanOneInstanceAllowed() override;

    /** Start-up; the command line is ignored. Message thread. */
    void initialise (const juce::String& commandLine) override;
    void shutdown() override;
    void anotherInstanceStarted (const juce::String& commandLine) override;

    /** Through the quit guard: while an update is erasing or sending, asks before
        quitting. So do SIGINT and SIGTERM. Message thread. */
    void systemRequestedQuit() override;

    /** The engine, for the demo and the tests; null before initialise. */
    ApplicationEngine* getEngine() const noexcept { return engine.get(); }

protected:
    /** The MIDI service the manager is built on. Called once, from initialise. */
    virtual std::shared_ptr<MidiService> createMidiService();

    /** Called at the end of initialise, once everything exists. */
    virtual void initialised() {}

private:
    MidiManager::Ptr midiManager;
    MainWindow::Ptr mainWindow;
    ApplicationEngine::Ptr engine;
    std::unique_ptr<QuitGuard> quitGuard;
    std::unique_ptr<QuitSignals> quitSignals;
    std::unique_ptr<X11EventQueueWatch> eventQueueWatch;
    std::unique_ptr<CustomLook> look; // everything's default, the notices' too: they read as the window does

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (QB4IIFirmwareUpdaterApplication)
};
