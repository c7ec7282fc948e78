#include "emulator/MessageThreadScheduler.h"

#include <algorithm>
#include <cmath>

MessageThreadScheduler::~MessageThreadScheduler()
{
    cancelAll();
    cancelPendingUpdate();
    stopTimer();
}

double MessageThreadScheduler::getTimeMs()
{
    return juce::Time::getMillisecondCounterHiRes();
}

void MessageThreadScheduler::schedule (int delayMs, std::function<void()> task)
{
    {
        const std::lock_guard<std::mutex> sl (lock);
        tasks.push_back ({ getTimeMs() + juce::jmax (0, delayMs), nextOrder++, std::move (task) });
    }

    // Timers may only be started on the message thread.
    triggerAsyncUpdate();
}

void MessageThreadScheduler::cancelAll()
{
    const std::lock_guard<std::mutex> sl (lock);
    tasks.clear();
}

void MessageThreadScheduler::handleAsyncUpdate()
{
    startTimerForNextTask();
}

void MessageThreadScheduler::timerCallback()
{
    stopTimer();

    std::vector<Task> due;

    {
        const std::lock_guard<std::mutex> sl (lock);

        // The timer counts whole milliseconds: a task less than half a millisecond
        // from its due time is due.
        const auto now = getTimeMs() + 0.5;
        const auto firstLater = std::stable_partition (tasks.begin(), tasks.end(),
                                                       [now] (const Task& t) { return t.dueMs <= now; });
        due.assign (std::make_move_iterator (tasks.begin()), std::make_move_iterator (firstLater));
        tasks.erase (tasks.begin(), firstLater);
    }

    std::sort (due.begin(), due.end(), [] (const Task& a, const Task& b) { return a.dueMs != b.dueMs ? a.dueMs < b.dueMs : a.order < b.order; });

    // Tasks run without the lock: they may schedule more.
    for (auto& task : due)
        task.run();

    startTimerForNextTask();
}

void MessageThreadScheduler::startTimerForNextTask()
{
    double next = 0.0;

    {
        const std::lock_guard<std::mutex> sl (lock);

        if (tasks.empty())
        {
            stopTimer();
            return;
        }

        next = std::min_element (tasks.begin(), tasks.end(), [] (const Task& a, const Task& b) { return a.dueMs < b.dueMs; })
                   ->dueMs;
    }

    startTimer (juce::jmax (1, (int) std::ceil (next - getTimeMs())));
}
