#include "cli/CommandRunner.h"

#include "firmware/DevicePortNames.h"
#include "firmware/EmergencyInstructions.h"

namespace
{
    double nowMs() { return juce::Time::getMillisecondCounterHiRes(); }

    const juce::String emergencyAdvice ("run qb4ii-update update --emergency");
    const juce::String busyMessage ("another updater is updating this QB4 II. Wait until that update has ended, then try again.");

    juce::String versionText (double version) { return juce::String (version, 2); }

    juce::String listOfNames (const juce::StringArray& names)
    {
        return names.size() < 2 ? names.joinIntoString ("")
                                : names.joinIntoString (", ", 0, names.size() - 1) + " and " + names[names.size() - 1];
    }
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

juce::String CommandRunner::portWanted() const
{
    return options.port.isEmpty() ? juce::String ("no QB4 II found. Connect it by USB and switch it on, then try again.")
                                  : "no QB4 II on the port \"" + options.port + "\" (qb4ii-update list shows the ports).";
}

void CommandRunner::finishNotFound()
{
    if (const auto reason = system.midi->getUnavailableReason(); reason.isNotEmpty())
        finish (noMidi, "no midi", "the MIDI system cannot be opened (" + reason + "), so no QB4 II can be found. Without the ALSA sequencer, "
                                                                                   "run sudo modprobe snd-seq. Where access is denied, run sudo usermod -aG audio $USER and log in again, "
                                                                                   "or run qb4ii-update from the desktop session.");
    else
        finish (noController, "no controller", portWanted());
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
            finish (busy, "busy", busyMessage);
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
        finish (failed, "no firmware answer", "the QB4 II on " + engine->getState().deviceName + " does not answer: its firmware does not run, so nothing was sent. To write it, " + emergencyAdvice + " (--force sends the normal update all the same).");
        return;
    }

    if (engine->startUpdate (options.emergency))
        return;

    switch (engine->getLastStartRefusal())
    {
        case ApplicationEngine::controllerBusy:
            finish (busy, "busy", busyMessage);
            break;
        case ApplicationEngine::controllerInUse:
        {
            const auto& writers = engine->getOtherWriters();
            juce::NamedValueSet fields;
            fields.set ("programs", juce::var (writers));
            const bool several = writers.size() > 1;
            const auto who = writers.isEmpty() ? juce::String ("another program holds the QB4 II's port")
                                               : listOfNames (writers) + (several ? " write" : " writes") + " to the QB4 II";
            finish (busy, "in use", who + ", and " + (several ? "their" : "its") + " messages would land inside the firmware: nothing was sent. Close " + (several ? "them" : "it") + ", then try again.",
                    fields);
            break;
        }
        case ApplicationEngine::portClaimFailed:
            finish (failed, "not claimed", "the QB4 II's port could not be claimed against other updates, so nothing was sent: " + engine->getPortClaimFailure() + ". Remove that file or fix the folder, then try again.");
            break;
        case ApplicationEngine::imageDamaged:
            finish (failed, "image damaged", "the firmware inside this program is damaged, so nothing was sent. Reinstall QB4II Firmware Updater, then try again.");
            break;
        case ApplicationEngine::portAmbiguous:
            finish (busy, "ambiguous", "two MIDI ports are named " + engine->getState().deviceName + ", and this program cannot tell which one is the QB4 II, so nothing was sent. Unplug the other controller, or close the program that made the other port, then try again.");
            break;
        case ApplicationEngine::machineMaySleep: // accepted above: never refused for it
        case ApplicationEngine::noControllerFound:
        default:
            finishNotFound();
            break;
    }
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

    if (engine->hasWrittenToController())
        finish (failed, "offline", "the QB4 II went offline during the update, and may be left without firmware. Reconnect it, then " + emergencyAdvice + ".");
    else
        finish (failed, "offline", "the QB4 II's port took nothing, so nothing was sent to it. Reconnect it, then try again.");
}

void CommandRunner::updateResultChanged (const ApplicationEngine::UpdateResult& result)
{
    if (step != Step::confirming)
        return;

    using Result = ApplicationEngine::UpdateResult;
    static const char* const names[] = { "confirmed", "other version", "silent", "not back", "disturbed" };

    juce::NamedValueSet fields;
    fields.set ("firmware", result.seenVersion > 0.0 ? juce::var (versionText (result.seenVersion)) : juce::var());
    fields.set ("offered", result.offeredVersion);
    fields.set ("company", juce::var (result.company));

    if (result.verdict == Result::confirmed)
    {
        finish (done, names[result.verdict], "QB4II Control " + result.offeredVersion + " confirmed on " + engine->getState().deviceName + ".", fields);
        return;
    }

    juce::String message;

    if (! result.company.isEmpty())
        message << listOfNames (result.company) << " sent to the QB4 II during the update, so its messages may have landed inside the firmware. Close "
                << (result.company.size() == 1 ? "it" : "them") << " first. ";

    if (result.verdict == Result::disturbed)
        message << "The QB4 II came back with firmware " << versionText (result.seenVersion) << ", but what was written may not be whole.";
    else if (result.verdict == Result::otherVersion)
        message << "The QB4 II came back with firmware " << versionText (result.seenVersion) << ", not " << result.offeredVersion << ".";
    else if (result.verdict == Result::silent)
        message << "The QB4 II came back, but its firmware does not answer.";
    else
        message << "The QB4 II did not come back within " << result.waitedSeconds << " seconds. Check its USB cable.";

    finish (notConfirmed, names[result.verdict], message + " Update it again; if that fails, " + emergencyAdvice + ".", fields);
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
