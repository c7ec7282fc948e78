#include "cli/CommandRunner.h"

#include "firmware/DevicePortNames.h"
#include "firmware/EmergencyInstructions.h"

namespace
{
    double nowMs() { return juce::Time::getMillisecondCounterHiRes(); }

    const auto& emergencyAdvice = UpdateOutcome::emergencyAdvice;
    juce::String versionText (double version) { return UpdateOutcome::versionText (version); }
} // namespace

CommandRunner::CommandRunner (CommandLineOptions o, System s, EventPrinter& p, std::function<void (int)> f)
    : options (std::move (o))
    , system (std::move (s))
    , printer (p)
    , finished (std::move (f))
    , slicesTotal ((int) FirmwareUpdate::numBlocksFor ((unsigned) system.image.getSize(), system.timing.blockSize))
{
}

CommandRunner::~CommandRunner()
{
    stopTimer();
    dropEngine();
}

void CommandRunner::finishNotFound()
{
    finish (UpdateOutcome::ofNoController (options.port, system.midi->getUnavailableReason()));
}

void CommandRunner::makeEngine (const juce::String& port)
{
    dropEngine();
    manager = new MidiManager (system.midi);
    engine = new ApplicationEngine (manager, system.timing, system.image);
    engine->setPortChoice (port);
    engine->setEmergencyMode (options.emergency);

    if (system.createSleepInhibitor != nullptr)
        engine->setSleepInhibitor (system.createSleepInhibitor());

    engine->addListener (this);
    stepStartedMs = nowMs();
}

void CommandRunner::dropEngine()
{
    if (engine != nullptr)
        engine->removeListener (this);

    // Releases any transfer; the manager goes with the engine's reference.
    engine = nullptr;
    manager = nullptr;
}

void CommandRunner::start()
{
    stepStartedMs = nowMs();

    if (options.command == CommandLineOptions::Command::list)
        step = Step::findingPorts;
    else
    {
        makeEngine (options.port);
        step = Step::detecting;
    }

    startTimer (20);
}

bool CommandRunner::hasAnswer() const
{
    const auto& state = engine->getState();
    return state.hardwareDetected && (options.emergency || state.firmwareVersion.load() > 0.0 || state.controllerSilent.load());
}

void CommandRunner::timerCallback()
{
    const auto waited = nowMs() - stepStartedMs;

    if (step == Step::findingPorts)
    {
        for (const auto& device : system.midi->getOutputDevices())
            if (isControllerPortName (device.name) && (options.port.isEmpty() || device.name == options.port))
                ports.addIfNotAlreadyThere (device.name);

        if (! ports.isEmpty())
        {
            step = Step::probing;
            probeNextPort();
        }
        else if (waited >= system.controllerWaitMs)
            finishNotFound();
    }
    else if (step == Step::probing)
    {
        // A port that went away, or one that never answered, is listed as it was seen.
        if (hasAnswer() || waited >= system.controllerWaitMs + system.timing.unansweredHintMs)
        {
            const auto& state = engine->getState();
            printer.detected (ports[0], state.firmwareVersion.load(), system.image.getVersion());
            ports.remove (0);
            ++portsListed;
            probeNextPort();
        }
    }
    else if (step == Step::detecting)
    {
        if (hasAnswer())
        {
            const auto& state = engine->getState();
            const auto version = state.firmwareVersion.load();
            printer.detected (state.deviceName, version, system.image.getVersion());

            if (options.command == CommandLineOptions::Command::update && options.ifNeeded
                && juce::approximatelyEqual (version, system.image.getVersion().getDoubleValue()))
            {
                juce::NamedValueSet fields;
                fields.set ("firmware", versionText (version));
                fields.set ("offered", system.image.getVersion());
                finish (done, "current", "QB4II Control " + versionText (version) + " on " + state.deviceName + " is the version this program offers, so nothing was sent.", fields);
            }
            else if (options.command == CommandLineOptions::Command::update)
                startUpdate();
            else if (version > 0.0)
            {
                juce::NamedValueSet fields;
                fields.set ("firmware", versionText (version));
                fields.set ("offered", system.image.getVersion());
                finish (done, "version", "QB4II Control " + versionText (version) + " on " + state.deviceName + "; this program offers " + system.image.getVersion() + ".", fields);
            }
            else
                finish (failed, "no firmware answer", "the QB4 II on " + state.deviceName + " does not answer: its firmware does not run. To write it, " + emergencyAdvice + ".");
        }
        else if (! engine->getState().hardwareDetected && waited >= system.controllerWaitMs)
            finishNotFound();
        // Detection asks no port that another update holds: nothing would ever answer.
        else if (waited >= system.controllerWaitMs && PortUpdateLock::isClaimed (engine->getState().deviceName))
            finish (UpdateOutcome::ofRefusal (ApplicationEngine::controllerBusy, *engine));
    }
}

void CommandRunner::probeNextPort()
{
    if (ports.isEmpty())
    {
        dropEngine();
        juce::NamedValueSet fields;
        fields.set ("count", portsListed);
        finish (done, "listed", juce::String (portsListed) + (portsListed == 1 ? " controller port." : " controller ports."), fields);
        return;
    }

    makeEngine (ports[0]);
}

void CommandRunner::startUpdate()
{
    step = Step::updating;

    // From a terminal the update goes ahead without a sleep lock: the inhibitor
    // has said why on stderr.
    engine->acceptSleepRisk();

    // The erase request would leave a controller that cannot answer with nothing
    // at all; the user may know better (a controller that reports no version).
    if (! options.emergency && ! options.force && engine->getState().firmwareVersion.load() == 0.0)
    {
        finish (UpdateOutcome::ofNotAnswering (engine->getState().deviceName));
        return;
    }

    if (engine->startUpdate (options.emergency))
        return;

    if (engine->getLastStartRefusal() == ApplicationEngine::noControllerFound)
        finishNotFound();
    else
        finish (UpdateOutcome::ofRefusal (engine->getLastStartRefusal(), *engine));
}

void CommandRunner::updateStateChanged (int state)
{
    // The engine repeats the state with every progress report: each phase is told
    // once, in order. (The emergency form streams in the erasing state.)
    if (step != Step::updating || state <= announcedState)
        return;

    announcedState = state;

    if (state == ApplicationEngine::erasing)
        printer.phase ("erasing", (options.emergency ? "Writing to the bootloader of the QB4 II on " : "Erasing the firmware of the QB4 II on ")
                                      + engine->getState().deviceName + ".");
    else if (state == ApplicationEngine::sending)
        printer.phase ("sending", "Sending firmware " + system.image.getVersion() + " in " + juce::String (slicesTotal) + " slices.");
    else if (state == ApplicationEngine::complete)
    {
        step = Step::confirming;
        const auto waitMs = options.emergency ? system.timing.emergencyConfirmWaitMs : system.timing.confirmWaitMs;
        printer.phase ("confirming", (options.emergency ? emergencyResetInstruction + ". Waiting" : juce::String ("Written. Waiting"))
                                         + " up to " + juce::String (waitMs / 1000) + " s for it to come back running "
                                         + system.image.getVersion() + ".");
    }
}

void CommandRunner::updateProgressChanged (double progress)
{
    if (step != Step::updating || progress <= 0.0)
        return;

    // Progress comes before its state in the engine's reports.
    updateStateChanged (ApplicationEngine::sending);

    const auto sent = juce::roundToInt (progress * slicesTotal);
    printer.progress (sent, slicesTotal, (slicesTotal - sent) * system.timing.blockIntervalMs / 1000.0);
}

void CommandRunner::updateErrorOccurred (int errorCode)
{
    if (step != Step::updating || errorCode != ApplicationEngine::deviceOfflineError)
        return;

    finish (UpdateOutcome::ofOffline (engine->hasWrittenToController()));
}

void CommandRunner::updateResultChanged (const ApplicationEngine::UpdateResult& result)
{
    if (step != Step::confirming)
        return;

    finish (UpdateOutcome::ofResult (result, engine->getState().deviceName));
}

void CommandRunner::interruptRequested()
{
    if (step == Step::ended)
        return;

    if (step == Step::confirming)
    {
        finish (notConfirmed, "interrupted", "interrupted while waiting for the QB4 II: the firmware was written, but not confirmed. qb4ii-update version reads what it runs.");
        return;
    }

    if (step != Step::updating || engine == nullptr || ! engine->hasWrittenToController())
    {
        // An emergency update waiting for its port sends nothing more once stopped.
        dropEngine();
        finish (failed, "interrupted", "interrupted: nothing was sent.");
        return;
    }

    // The update has just ended; its own result is on its way.
    if (! engine->isUpdating())
        return;

    const auto now = nowMs();

    if (now - lastInterruptMs > secondInterruptWindowMs)
    {
        lastInterruptMs = now;
        printer.warning ("stopping now would leave the QB4 II without firmware, and it would need the emergency update. Interrupt again within "
                         + juce::String (secondInterruptWindowMs / 1000) + " s to stop anyway.");
        return;
    }

    dropEngine();
    finish (failed, "interrupted", "stopped: the QB4 II is left without firmware. Restart it in its bootloader, then " + emergencyAdvice + ".");
}

void CommandRunner::finish (const UpdateOutcome& outcome)
{
    finish (outcome.exitStatus, outcome.result, outcome.line, outcome.facts);
}

void CommandRunner::finish (int status, const juce::String& result, const juce::String& message, const juce::NamedValueSet& fields)
{
    if (step == Step::ended && exitStatus >= 0)
        return;

    step = Step::ended;
    stopTimer();
    exitStatus = status;
    printer.result (result, status, message, fields);

    // The caller may destroy this object: tell it from the message loop, with the
    // engine's notifications done.
    juce::MessageManager::callAsync ([callback = finished, status] {
        if (callback != nullptr)
            callback (status);
    });
}
