#pragma once

#include "emulator/TaskScheduler.h"

#include <juce_events/juce_events.h>

/**
    Runs a ControllerEmulator's timed events on the message thread, on the clock
    juce::Time::getMillisecondCounterHiRes, so delays are kept to JUCE's timer
    granularity of about a millisecond.

    Tasks may be scheduled from any thread. Destroy it on the message thread.
*/
class MessageThreadScheduler final : public TaskScheduler
    , private juce::Timer
    , private juce::AsyncUpdater
{
public:
    MessageThreadScheduler();
    ~MessageThreadScheduler() override;

private:
    void taskScheduled() override;
    void handleAsyncUpdate() override;
    void timerCallback() override;
    void startTimerForNextTask();

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MessageThreadScheduler)
};
