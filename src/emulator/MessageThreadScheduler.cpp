#include "emulator/MessageThreadScheduler.h"

MessageThreadScheduler::MessageThreadScheduler()
    : TaskScheduler ([] { return juce::Time::getMillisecondCounterHiRes(); })
{
}

MessageThreadScheduler::~MessageThreadScheduler()
{
    cancelAll();
    cancelPendingUpdate();
    stopTimer();
}

void MessageThreadScheduler::taskScheduled()
{
    // Timers may only be started on the message thread.
    triggerAsyncUpdate();
}

void MessageThreadScheduler::handleAsyncUpdate()
{
    startTimerForNextTask();
}

void MessageThreadScheduler::timerCallback()
{
    stopTimer();

    // The timer counts whole milliseconds: a task less than half a millisecond
    // from its due time is due. Tasks scheduled meanwhile wait for the next tick:
    // a storm of them from another thread must not keep the message thread here.
    runDueTasks (0.5, Batch::waitingAtTheCall);
    startTimerForNextTask();
}

void MessageThreadScheduler::startTimerForNextTask()
{
    const auto untilNext = getMsUntilNextTask();

    if (untilNext < 0)
        stopTimer();
    else
        startTimer (juce::jmax (1, untilNext));
}
