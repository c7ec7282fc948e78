#pragma once

#include "cli/CommandLineOptions.h"
#include "cli/EventPrinter.h"
#include "engine/ApplicationEngine.h"

#include <functional>
#include <memory>

/**
    Runs one qb4ii-update command on the engine, as the window would: list the
    controller ports, read the version, or update, with the same safety (the
    image checked, the controller to itself, the claim on its port, the machine
    kept awake, the confirmed result). It reports through the printer and ends
    with an exit status.

    A normal update of a controller whose firmware does not answer is refused
    unless forced; update --if-needed sends nothing to a controller that runs
    the offered version.

    Interruptions (Ctrl-C, SIGTERM) end a command at once while nothing has been
    sent. While the controller is being erased or written, the first one only
    says what stopping would mean; a second within secondInterruptWindowMs stops.

    Message thread.
*/
class CommandRunner final : private ApplicationEngine::Listener
    , private juce::Timer
{
public:
    /** The program's exit statuses. */
    enum ExitStatus
    {
        done = 0,         ///< for update: written and confirmed
        failed = 1,       ///< the controller went offline, the image is damaged, or it was stopped
        usageError = 2,   ///< the command line is wrong
        noController = 3, ///< no controller found
        busy = 4,         ///< another updater, or another program writing to it, has the controller
        notConfirmed = 5, ///< written, but the controller did not come back running it
        noMidi = 6        ///< the system's MIDI service cannot be opened
    };

    /** What the commands run on. */
    struct System
    {
        std::shared_ptr<MidiService> midi;
        FirmwareTiming timing;
        FirmwareImage image = FirmwareImage::embedded();
        std::function<std::unique_ptr<SleepInhibitor>()> createSleepInhibitor; ///< null: nothing is held
        int controllerWaitMs = 3000;                                           ///< how long a command looks for the controller's port
    };

    static constexpr int secondInterruptWindowMs = 5000;

    /** `finished` is called once, with the exit status, from the message loop. */
    CommandRunner (CommandLineOptions options, System system, EventPrinter& printer, std::function<void (int)> finished);
    ~CommandRunner() override;

    /** Starts the command. */
    void start();

    /** Ctrl-C or SIGTERM arrived. */
    void interruptRequested();

    /** The exit status, once finished; -1 before. */
    int getExitStatus() const noexcept { return exitStatus; }

private:
    enum class Step
    {
        findingPorts, ///< list: waiting for the first controller port
        probing,      ///< list: asking one port after another
        detecting,    ///< version, update: waiting for the controller and its answer
        updating,     ///< update: erasing or sending
        confirming,   ///< update: written, waiting for the result
        ended
    };

    void timerCallback() override;
    void updateStateChanged (int state) override;
    void updateProgressChanged (double progress) override;
    void updateErrorOccurred (int errorCode) override;
    void firmwareVersionChanged (double) override {}
    void hardwareDetectedChanged (bool) override {}
    void updateResultChanged (const ApplicationEngine::UpdateResult& result) override;

    void makeEngine (const juce::String& port);
    void dropEngine();
    bool hasAnswer() const;
    void probeNextPort();
    void startUpdate();
    void finish (int status, const juce::String& result, const juce::String& message, const juce::NamedValueSet& fields = {});
    void finishNotFound();
    juce::String portWanted() const;

    const CommandLineOptions options;
    const System system;
    EventPrinter& printer;
    std::function<void (int)> finished;

    Step step = Step::ended;
    MidiManager::Ptr manager;
    ApplicationEngine::Ptr engine;
    juce::StringArray ports; // list: the controller ports still to ask
    int portsListed = 0;
    double stepStartedMs = 0.0;
    double lastInterruptMs = -1.0e9;
    int slicesTotal = 0;
    int announcedState = ApplicationEngine::idle;
    int exitStatus = -1;

    JUCE_DECLARE_NON_COPYABLE (CommandRunner)
};
