#pragma once

#include "engine/DetectDeviceInfo.h"

#include <functional>

/**
    After a transfer's "Completed": waits for the controller to come back and
    answer an identity request asked after the update, and decides the result
    from its answer, or from its silence once the wait is over.

    Only an answer to a request sent after "Completed" counts: no request goes
    out while the image streams, so a reply that arrives before then answers
    nothing the updater asked of the new firmware. Detection asks as it always
    does once the controller's port has gone and come back; a port that never
    went away is asked all the same after askAfterCompletionMs.

    Polls on the message thread; the verdict is handed to the callback once, and
    nothing happens after it. Destroying it abandons the wait.
*/
class ApplicationEngine::UpdateConfirmation final : private juce::Timer
{
public:
    using Verdict = std::function<void (const UpdateResult&)>;

    /** Starts waiting now. The result carries what the update wrote; the
        detection object and the record must outlive this object. Message thread. */
    UpdateConfirmation (DetectDeviceInfo& detection,
                        const EngineState& state,
                        UpdateResult written,
                        const FirmwareTiming& timing,
                        Verdict onVerdict);

    ~UpdateConfirmation() override;

    /** How often the answer is looked for. */
    static constexpr int checkIntervalMs = 50;

private:
    void timerCallback() override;
    void decide (UpdateResult::Verdict verdict);

    DetectDeviceInfo& detection;
    const EngineState& state;
    UpdateResult result;
    const int waitMs;
    const int askAfterMs;
    const int requestsBefore;
    const double startedAtMs;
    Verdict onVerdict;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (UpdateConfirmation)
};
