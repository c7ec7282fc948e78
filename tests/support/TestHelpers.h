#pragma once

#include <juce_events/juce_events.h>

#include <functional>

namespace testing_support
{
    /** Runs the message loop until the condition holds or the deadline passes.
        Returns whether the condition held. */
    inline bool pumpUntil (const std::function<bool()>& condition, int timeoutMs = 5000)
    {
        const auto deadline = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;

        while (! condition())
        {
            if (juce::Time::getMillisecondCounter() > deadline)
                return condition();

            juce::MessageManager::getInstance()->runDispatchLoopUntil (2);
        }

        return true;
    }

    /** Runs the message loop for this long: for asserting that something does
        not happen. */
    inline void pumpFor (int milliseconds)
    {
        const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) milliseconds;

        while (juce::Time::getMillisecondCounter() < end)
            juce::MessageManager::getInstance()->runDispatchLoopUntil (2);
    }
} // namespace testing_support
