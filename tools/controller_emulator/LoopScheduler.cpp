#include "LoopScheduler.h"

#include <algorithm>
#include <chrono>
#include <cmath>

double LoopScheduler::getTimeMs()
{
    using namespace std::chrono;
    return duration<double, std::milli> (steady_clock::now().time_since_epoch()).count();
}

void LoopScheduler::schedule (int delayMs, std::function<void()> task)
{
    const auto due = getTimeMs() + juce::jmax (0, delayMs);
    const std::lock_guard<std::mutex> sl (lock);
    tasks.push_back ({ due, nextOrder++, std::move (task) });
}

void LoopScheduler::cancelAll()
{
    const std::lock_guard<std::mutex> sl (lock);
    tasks.clear();
}

int LoopScheduler::runDueTasks()
{
    int ran = 0;

    for (;;)
    {
        Task next;

        {
            const std::lock_guard<std::mutex> sl (lock);

            const auto now = getTimeMs();
            const auto first = std::min_element (tasks.begin(), tasks.end(), [] (const Task& a, const Task& b) { return a.dueMs != b.dueMs ? a.dueMs < b.dueMs : a.order < b.order; });

            if (first == tasks.end() || first->dueMs > now)
                return ran;

            next = std::move (*first);
            tasks.erase (first);
        }

        // Without the lock: a task may schedule more.
        next.run();
        ++ran;
    }
}

int LoopScheduler::getMsUntilNextTask()
{
    const std::lock_guard<std::mutex> sl (lock);

    if (tasks.empty())
        return -1;

    const auto next = std::min_element (tasks.begin(), tasks.end(), [] (const Task& a, const Task& b) { return a.dueMs < b.dueMs; })
                          ->dueMs;

    return juce::jmax (0, (int) std::ceil (next - getTimeMs()));
}
