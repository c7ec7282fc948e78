#pragma once

#include "cli/CommandLineOptions.h"
#include "cli/EventPrinter.h"
#include "engine/ApplicationEngine.h"
#include "engine/UpdateOutcome.h"

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
    /** The program's exit statuses: each outcome's own. */
    using ExitStatus = UpdateOutcome::ExitStatus;
    static constexpr ExitStatus done = UpdateOutcome::done, failed = UpdateOutcome::failed, usageError = UpdateOutcome::usageError,
                                noController = UpdateOutcome::noController, busy = UpdateOutcome::busy,
                                notConfirmed = UpdateOutcome::notConfirmed, noMidi = UpdateOutcome::noMidi;

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
    void finish (const UpdateOutcome& outcome);
    void finishNotFound();

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
