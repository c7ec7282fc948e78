#pragma once

#include "engine/SleepInhibitor.h"

#include <juce_core/juce_core.h>

/**
    Keeps Windows from sleeping while firmware is written: the message thread
    declares the system required (SetThreadExecutionState with
    ES_CONTINUOUS | ES_SYSTEM_REQUIRED) until release(), and each of the
    program's top-level windows gives the reason Windows shows when asked to
    shut down or sign out (ShutdownBlockReasonCreate). A terminal program, with
    no window, holds the system awake only.
*/
class WindowsSleepInhibitor final : public SleepInhibitor
{
public:
    /** The reason Windows lists beside the program when shutting down. */
    static constexpr const wchar_t* shutdownReason = L"Writing new firmware to the QB4 II: shutting down now could leave it unusable";

    WindowsSleepInhibitor() = default;
    ~WindowsSleepInhibitor() override;

    bool acquire() override;
    void release() override;
    bool isHeld() const override { return held; }
    std::string getFailure() const override { return failure; }

private:
    bool held = false;
    std::string failure;
    juce::Array<void*> blockingWindows; // HWNDs given a shutdown reason

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (WindowsSleepInhibitor)
};
