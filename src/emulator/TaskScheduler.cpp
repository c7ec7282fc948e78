#include "emulator/TaskScheduler.h"

#include <chrono>
#include <cmath>
#include <limits>

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
        tasks.emplace (std::make_pair (due, nextOrder++), std::move (task));
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
    return takeNextDue (byMs, std::numeric_limits<juce::uint64>::max());
}

std::optional<TaskScheduler::Task> TaskScheduler::takeNextDue (double byMs, juce::uint64 scheduledBefore)
{
    const std::lock_guard<std::mutex> sl (lock);

    // The first task scheduled before the mark; with a mark, later ones wait.
    auto next = tasks.begin();
    while (next != tasks.end() && next->first.first <= byMs && next->first.second >= scheduledBefore)
        ++next;

    if (next == tasks.end() || next->first.first > byMs)
        return std::nullopt;

    Task task { next->first.first, std::move (next->second) };
    tasks.erase (next);
    return task;
}

int TaskScheduler::runDueTasks (double toleranceMs, Batch batch)
{
    juce::uint64 scheduledBefore = std::numeric_limits<juce::uint64>::max();

    if (batch == Batch::waitingAtTheCall)
    {
        const std::lock_guard<std::mutex> sl (lock);
        scheduledBefore = nextOrder;
    }

    int ran = 0;

    while (auto task = takeNextDue (getTimeMs() + toleranceMs, scheduledBefore))
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

        next = tasks.begin()->first.first;
    }

    return juce::jmax (0, (int) std::ceil (next - getTimeMs()));
}
