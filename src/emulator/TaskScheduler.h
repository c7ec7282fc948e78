#pragma once

#include "emulator/ControllerEmulator.h"

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <utility>

/**
    Runs a ControllerEmulator's timed events: one queue of tasks in order of their
    due time, in the order scheduled when due together, on a clock of the owner's
    choosing. The message thread's scheduler, the standalone emulator's poll loop
    and the fuzzer's stepped time differ only in their clock and in who calls
    runDueTasks().

    Tasks may be scheduled from any thread; they run on the thread that runs the
    due tasks, without the scheduler's lock, so they may schedule more.
*/
class TaskScheduler : public ControllerEmulator::Scheduler
{
public:
    /** A monotonic time in milliseconds. */
    using Clock = std::function<double()>;

    explicit TaskScheduler (Clock clock);
    ~TaskScheduler() override;

    /** std::chrono::steady_clock, for a loop without a JUCE message loop. */
    static double steadyClockMs();

    /** Any thread. */
    double getTimeMs() override;

    /** Any thread. */
    void schedule (int delayMs, std::function<void()> task) override;

    /** Any thread. */
    void cancelAll() override;

    struct Task
    {
        double dueMs;
        std::function<void()> run;
    };

    /** Removes and returns the next task if it is due by this time. Any thread. */
    std::optional<Task> takeNextDue (double byMs);

    enum class Batch
    {
        untilNoneDue,     ///< tasks scheduled while the batch runs join it when due
        waitingAtTheCall, ///< only the tasks already waiting: a loop with other work gets back to it
    };

    /** Runs the tasks due by the clock's time plus the tolerance, in order.
        Returns how many ran. */
    int runDueTasks (double toleranceMs = 0.0, Batch batch = Batch::untilNoneDue);

    /** Milliseconds until the next task is due, rounded up; 0 when one is due;
        -1 when there is none. Any thread. */
    int getMsUntilNextTask();

protected:
    /** Called after each schedule(), on the scheduling thread, without the lock. */
    virtual void taskScheduled() {}

private:
    std::optional<Task> takeNextDue (double byMs, juce::uint64 scheduledBefore);

    const Clock clock;
    std::mutex lock;
    std::map<std::pair<double, juce::uint64>, std::function<void()>> tasks; // by due time, then order scheduled
    juce::uint64 nextOrder = 0;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (TaskScheduler)
};
