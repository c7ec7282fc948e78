#pragma once

#include "emulator/ControllerEmulator.h"

#include <juce_events/juce_events.h>

#include <mutex>
#include <vector>

/**
    Runs a ControllerEmulator's timed events on the message thread.

    Tasks may be scheduled from any thread; they run on the message thread, in
    order of their due time, and in the order scheduled when due together. The
    clock is juce::Time::getMillisecondCounterHiRes, so delays are kept to JUCE's
    timer granularity of about a millisecond.

    Destroy it on the message thread.
*/
class MessageThreadScheduler final : public ControllerEmulator::Scheduler
    , private juce::Timer
    , private juce::AsyncUpdater
{
public:
    MessageThreadScheduler() = default;
    ~MessageThreadScheduler() override;

    /** Any thread. */
    double getTimeMs() override;

    /** Any thread; the task runs on the message thread. */
    void schedule (int delayMs, std::function<void()> task) override;

    /** Message thread. */
    void cancelAll() override;

private:
    struct Task
    {
        double dueMs;
        juce::uint64 order;
        std::function<void()> run;
    };

    void handleAsyncUpdate() override;
    void timerCallback() override;
    void startTimerForNextTask();

    std::mutex lock;
    std::vector<Task> tasks;
    juce::uint64 nextOrder = 0;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MessageThreadScheduler)
};
