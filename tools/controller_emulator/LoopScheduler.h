#pragma once

#include "emulator/ControllerEmulator.h"

#include <mutex>
#include <vector>

/**
    Runs a ControllerEmulator's timed events from a plain loop, without a JUCE
    message loop: the loop asks how long it may sleep (getMsUntilNextTask) and
    calls runDueTasks when it wakes.

    Tasks may be scheduled from any thread; they run on the loop's thread, in
    order of their due time, and in the order scheduled when due together. The
    clock is std::chrono::steady_clock.
*/
class LoopScheduler final : public ControllerEmulator::Scheduler
{
public:
    LoopScheduler() = default;

    /** Any thread. */
    double getTimeMs() override;

    /** Any thread; the task runs in a later runDueTasks. */
    void schedule (int delayMs, std::function<void()> task) override;

    /** Any thread. */
    void cancelAll() override;

    /** Runs every task due by now, tasks they schedule with no delay included.
        Returns how many ran. The loop's thread. */
    int runDueTasks();

    /** Milliseconds until the next task is due, rounded up; 0 when one is due;
        -1 when there is none. Any thread. */
    int getMsUntilNextTask();

private:
    struct Task
    {
        double dueMs;
        juce::uint64 order;
        std::function<void()> run;
    };

    std::mutex lock;
    std::vector<Task> tasks;
    juce::uint64 nextOrder = 0;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (LoopScheduler)
};
