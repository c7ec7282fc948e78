#include "engine/UpdateConfirmation.h"

ApplicationEngine::UpdateConfirmation::UpdateConfirmation (DetectDeviceInfo& d,
                                                           const EngineState& s,
                                                           UpdateResult written,
                                                           const FirmwareTiming& t,
                                                           Verdict verdict)
    : detection (d)
    , state (s)
    , result (std::move (written))
    , waitMs (result.emergency ? t.emergencyConfirmWaitMs : t.confirmWaitMs)
    , askAfterMs (t.askAfterCompletionMs)
    , requestsBefore (d.getRequestsSent())
    , startedAtMs (juce::Time::getMillisecondCounterHiRes())
    , onVerdict (std::move (verdict))
{
    result.waitedSeconds = (waitMs + 999) / 1000;
    startTimer (checkIntervalMs);
}

ApplicationEngine::UpdateConfirmation::~UpdateConfirmation()
{
    stopTimer();
}

void ApplicationEngine::UpdateConfirmation::timerCallback()
{
    const auto elapsedMs = juce::Time::getMillisecondCounterHiRes() - startedAtMs;

    if (detection.hasAnsweredSince (requestsBefore))
    {
        result.seenVersion = state.firmwareVersion.load();
        // Both numbers are read from version texts the same way.
        decide (juce::approximatelyEqual (result.seenVersion, result.offeredVersion.getDoubleValue()) ? UpdateResult::confirmed
                                                                                                      : UpdateResult::otherVersion);
        return;
    }

    if (elapsedMs >= waitMs)
    {
        decide (state.hardwareDetected ? UpdateResult::silent : UpdateResult::notBack);
        return;
    }

    // Detection polls again once the controller's port has gone away; a port
    // that went and came back while the update was erasing, or never went, is
    // asked all the same.
    if (elapsedMs >= askAfterMs && ! detection.isTimerRunning())
        detection.resumePolling();
}

void ApplicationEngine::UpdateConfirmation::decide (UpdateResult::Verdict verdict)
{
    stopTimer();

    // Another program's messages may have landed inside the image: the right
    // version is no proof of a whole one.
    result.verdict = verdict == UpdateResult::confirmed && ! result.company.isEmpty() ? UpdateResult::disturbed : verdict;

    // The owner may destroy this object from the callback: nothing follows it.
    const auto callback = onVerdict;
    callback (result);
}
