#include "engine/UpdateOutcome.h"

#include "engine/OutsideText.h"
#include "firmware/EmergencyInstructions.h"

const juce::String UpdateOutcome::emergencyAdvice ("run qb4ii-update update --emergency");
const juce::String UpdateOutcome::emergencyWayOut ("use the emergency update (press E)");

juce::String UpdateOutcome::versionText (double version)
{
    return juce::String (version, 2);
}

juce::String UpdateOutcome::listOfNames (const juce::StringArray& names)
{
    juce::StringArray shown;

    for (const auto& name : names)
        shown.add (OutsideText::visible (name));

    if (shown.size() <= 1)
        return shown.joinIntoString ({});

    return shown.joinIntoString (", ", 0, shown.size() - 1) + " and " + shown[shown.size() - 1];
}

namespace
{
    UpdateOutcome describe (const char* result, int exitStatus, const char* title, const juce::String& notice, const juce::String& line)
    {
        UpdateOutcome outcome;
        outcome.result = result;
        outcome.exitStatus = exitStatus;
        outcome.title = title;
        outcome.notice = notice;
        outcome.line = line;
        return outcome;
    }
} // namespace

UpdateOutcome UpdateOutcome::ofRefusal (ApplicationEngine::StartRefusal why, const ApplicationEngine& engine)
{
    const auto port = OutsideText::visible (engine.getState().deviceName);

    switch (why)
    {
        case ApplicationEngine::controllerBusy:
            return describe ("busy", busy, "Controller Busy",
                             "Another copy of QB4II Firmware Updater is updating this QB4 II. Wait until that update has ended, then try again.",
                             "another updater is updating this QB4 II. Wait until that update has ended, then try again.");

        case ApplicationEngine::controllerInUse:
        {
            const auto& writers = engine.getOtherWriters();
            const bool several = writers.size() > 1;
            const auto names = listOfNames (writers);
            const auto who = writers.isEmpty() ? juce::String ("another program holds the QB4 II's port")
                                               : names + (several ? " write" : " writes") + " to the QB4 II";
            auto outcome = describe ("in use", busy, "Controller In Use",
                                     "Close " + (writers.isEmpty() ? juce::String ("the other programs that use the QB4 II") : names)
                                         + ", then try again. While another program sends to the QB4 II, its messages would land inside the firmware.",
                                     who + ", and " + (several ? "their" : "its") + " messages would land inside the firmware: nothing was sent. Close "
                                         + (several ? "them" : "it") + ", then try again.");
            outcome.facts.set ("programs", juce::var (writers));
            return outcome;
        }

        case ApplicationEngine::portClaimFailed:
        {
            const auto failure = OutsideText::visible (engine.getPortClaimFailure());
            return describe ("not claimed", failed, "Controller Not Claimed",
                             "QB4II Firmware Updater could not make sure that no other update writes to your QB4 II at the same time, "
                             "so nothing was sent to it: "
                                 + failure + ". Remove that file or fix the folder, then try again.",
                             "the QB4 II's port could not be claimed against other updates, so nothing was sent: " + failure
                                 + ". Remove that file or fix the folder, then try again.");
        }

        case ApplicationEngine::imageDamaged:
            return describe ("image damaged", failed, "Firmware Image Damaged",
                             "The firmware inside this updater is damaged, so nothing was sent to your QB4 II. "
                             "Reinstall QB4II Firmware Updater, then try again.",
                             "the firmware inside this program is damaged, so nothing was sent. Reinstall QB4II Firmware Updater, then try again.");

        case ApplicationEngine::portAmbiguous:
        {
            const juce::String whatToDo ("so nothing was sent. Unplug the other controller, or close the program that made the other port, then try again.");
            return describe ("ambiguous", busy, "Two Controllers Found",
                             "Two MIDI ports are named \"" + port + "\", and QB4II Firmware Updater cannot tell which one is your QB4 II, " + whatToDo,
                             "two MIDI ports are named " + port + ", and this program cannot tell which one is the QB4 II, " + whatToDo);
        }

        case ApplicationEngine::machineMaySleep:
        {
            const auto failure = OutsideText::visible (engine.getSleepFailure());
            return describe ("may sleep", failed, "Computer May Sleep",
                             "QB4II Firmware Updater cannot keep this computer from sleeping or shutting down during the update (" + failure
                                 + "). If it sleeps, shuts down or its lid is closed before the update ends, your QB4 II may not start again. "
                                 + "Press OK to update anyway, and keep the computer awake until the update has ended.",
                             "nothing keeps this computer awake during the update (" + failure + ").");
        }

        case ApplicationEngine::noControllerFound:
        default:
            return ofNoController ({}, {});
    }
}

UpdateOutcome UpdateOutcome::ofNoController (const juce::String& portAsked, const juce::String& midiUnavailable)
{
    const char* const title = "Error Detecting Device";
    const char* const notice = "Verify your device is connected and try again.";

    if (midiUnavailable.isNotEmpty())
        return describe ("no midi", noMidi, title, notice,
                         "the MIDI system cannot be opened (" + OutsideText::visible (midiUnavailable) + "), so no QB4 II can be found. "
                             + "Without the ALSA sequencer, run sudo modprobe snd-seq. Where access is denied, run sudo usermod -aG audio $USER "
                             + "and log in again, or run qb4ii-update from the desktop session.");

    return describe ("no controller", noController, title, notice,
                     portAsked.isEmpty() ? juce::String ("no QB4 II found. Connect it by USB and switch it on, then try again.")
                                         : "no QB4 II on the port \"" + OutsideText::visible (portAsked) + "\" (qb4ii-update list shows the ports).");
}

UpdateOutcome UpdateOutcome::ofNotAnswering (const juce::String& port)
{
    return describe ("no firmware answer", failed, "Controller Not Answering",
                     "The firmware of your QB4 II has not answered since it was plugged in. If its firmware no longer runs, "
                     "the emergency update (press E) is the way to write it. Press OK to send the normal update anyway.",
                     "the QB4 II on " + OutsideText::visible (port) + " does not answer: its firmware does not run, so nothing was sent. To write it, "
                         + emergencyAdvice + " (--force sends the normal update all the same).");
}

UpdateOutcome UpdateOutcome::ofOffline (bool anythingSent)
{
    return describe ("offline", failed, "Update Error",
                     "Update has been aborted due to an error. Please try the update again. "
                     "If you continue to receive this error, contact Customer Support. If your QB4 II no longer answers, "
                         + emergencyWayOut + ".",
                     anythingSent ? "the QB4 II went offline during the update, and may be left without firmware. Reconnect it, then " + emergencyAdvice + "."
                                  : juce::String ("the QB4 II's port took nothing, so nothing was sent to it. Reconnect it, then try again."));
}

UpdateOutcome UpdateOutcome::ofResult (const ApplicationEngine::UpdateResult& result, const juce::String& port)
{
    using Result = ApplicationEngine::UpdateResult;
    static const char* const names[] = { "confirmed", "other version", "silent", "not back", "disturbed" };

    UpdateOutcome outcome;
    outcome.result = names[result.verdict];
    outcome.facts.set ("firmware", result.seenVersion > 0.0 ? juce::var (versionText (result.seenVersion)) : juce::var());
    outcome.facts.set ("offered", result.offeredVersion);
    outcome.facts.set ("company", juce::var (result.company));

    if (result.verdict == Result::confirmed)
    {
        outcome.exitStatus = done;
        outcome.notice = "Update Complete: QB4II Control " + result.offeredVersion + " confirmed";
        outcome.line = "QB4II Control " + result.offeredVersion + " confirmed on " + OutsideText::visible (port) + ".";
        return outcome;
    }

    outcome.exitStatus = notConfirmed;
    outcome.title = "Update Not Confirmed";

    juce::String notice, line;
    const auto seen = versionText (result.seenVersion);

    if (! result.company.isEmpty())
    {
        const auto them = result.company.size() == 1 ? "it" : "them";
        notice << listOfNames (result.company) << " sent to your QB4 II during the update, so its messages may have "
               << "landed inside the firmware. Close " << them << " first. ";
        line << listOfNames (result.company) << " sent to the QB4 II during the update, so its messages may have landed inside the firmware. Close "
             << them << " first. ";
    }

    if (result.verdict == Result::disturbed)
        notice << "Your QB4 II came back with firmware " << seen << ", but what was written may not be whole. Update it again; if that fails, " << emergencyWayOut << ".";
    else if (result.verdict == Result::otherVersion)
        notice << "Your QB4 II came back with firmware " << seen << ", not " << result.offeredVersion << ". Update it again; if that fails, " << emergencyWayOut << ".";
    else if (result.emergency)
        notice << "Your QB4 II has not reported firmware " << result.offeredVersion << " within " << result.waitedSeconds
               << " seconds. Press the blinking CUE button on the right deck to reset it. If it does not come back running, " << emergencyWayOut << " again.";
    else if (result.verdict == Result::silent)
        notice << "Your QB4 II came back, but its firmware does not answer. Update it again; if that fails, " << emergencyWayOut << ".";
    else
        notice << "Your QB4 II did not come back within " << result.waitedSeconds << " seconds. Check its USB cable and update it again; if that fails, "
               << emergencyWayOut << ".";

    if (result.verdict == Result::disturbed)
        line << "The QB4 II came back with firmware " << seen << ", but what was written may not be whole.";
    else if (result.verdict == Result::otherVersion)
        line << "The QB4 II came back with firmware " << seen << ", not " << result.offeredVersion << ".";
    else if (result.verdict == Result::silent)
        line << "The QB4 II came back, but its firmware does not answer.";
    else
        line << "The QB4 II did not come back within " << result.waitedSeconds << " seconds. Check its USB cable.";

    outcome.notice = notice;
    outcome.line = line + " Update it again; if that fails, " + emergencyAdvice + ".";
    return outcome;
}
