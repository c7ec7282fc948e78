#include "emulator/TaskScheduler.h"

#include <algorithm>
#include <chrono>
#include <cmath>

TaskScheduler::TaskScheduler (Clock c)
    : clock (std::move (c))
{
}

TaskScheduler::~TaskScheduler() = default;

double TaskScheduler::steadyClockMs()
{
    using namespace std::chrono;
    return duration<double, std::milli> (steady_clock::now().time_since_epoch()).count();
}

double TaskScheduler::getTimeMs()
{
    return clock();
}

void TaskScheduler::schedule (int delayMs, std::function<void()> task)
{
    const auto due = getTimeMs() + juce::jmax (0, delayMs);

    {
        const std::lock_guard<std::mutex> sl (lock);
        tasks.push_back ({ due, nextOrder++, std::move (task) });
    }

    taskScheduled();
}

void TaskScheduler::cancelAll()
{
    const std::lock_guard<std::mutex> sl (lock);
    tasks.clear();
}

std::optional<TaskScheduler::Task> TaskScheduler::takeNextDue (double byMs)
{
    const std::lock_guard<std::mutex> sl (lock);

    const auto first = std::min_element (tasks.begin(), tasks.end(), [] (const Entry& a, const Entry& b) {
        return a.dueMs != b.dueMs ? a.dueMs < b.dueMs : a.order < b.order;
    });

    if (first == tasks.end() || first->dueMs > byMs)
        return std::nullopt;

    Task next { first->dueMs, std::move (first->run) };
    tasks.erase (first);
    return next;
}

int TaskScheduler::runDueTasks (double toleranceMs)
{
    int ran = 0;

    while (auto task = takeNextDue (getTimeMs() + toleranceMs))
    {
        task->run();
        ++ran;
    }

    return ran;
}

int TaskScheduler::getMsUntilNextTask()
{
    double next = 0.0;

    {
        const std::lock_guard<std::mutex> sl (lock);

        if (tasks.empty())
            return -1;

        next = std::min_element (tasks.begin(), tasks.end(), [] (const Entry& a, const Entry& b) { return a.dueMs < b.dueMs; })->dueMs;
    }

    return juce::jmax (0, (int) std::ceil (next - getTimeMs()));
}
