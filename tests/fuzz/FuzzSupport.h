#pragma once

// What the fuzz targets share: reading operations from the fuzzer's bytes, a
// scheduler for the controller emulator that runs on fuzzed time, the JUCE
// message loop, and stopping the run when an invariant breaks.

#include "emulator/ControllerEmulator.h"
#include "emulator/TaskScheduler.h"
#include "engine/PortUpdateLock.h"

#include <juce_events/juce_events.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

/** The entry point libFuzzer calls with each input; every target defines it. */
extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size);

namespace fuzzing
{
    /** Hands out the fuzzer's bytes; once they run out, zeros. */
    class FuzzInput
    {
    public:
        FuzzInput (const uint8_t* d, size_t s)
            : data (d)
            , size (s)
        {
        }

        bool empty() const noexcept { return pos >= size; }
        uint8_t byte() noexcept { return pos < size ? data[pos++] : 0; }

        /** Up to n of the next bytes (fewer at the end), as a block. */
        juce::MemoryBlock bytes (size_t n)
        {
            n = std::min (n, size - std::min (pos, size));
            juce::MemoryBlock block (data + pos, n);
            pos += n;
            return block;
        }

    private:
        const uint8_t* data;
        size_t size;
        size_t pos = 0;
    };

    /** Stops the run with a message: libFuzzer records the input as a crash. */
    [[noreturn]] inline void broken (const char* invariant)
    {
        std::fprintf (stderr, "invariant broken: %s\n", invariant);
        std::abort();
    }

    /** Runs the emulator's timed events on a clock that only moves when told. */
    class StepScheduler final : public TaskScheduler
    {
    public:
        StepScheduler()
            : TaskScheduler ([this] { return now; })
        {
        }

        /** Moves the clock on, running every task that falls due, in order, each
            at its own time. */
        void advance (double ms)
        {
            const double until = now + ms;

            while (auto task = takeNextDue (until))
            {
                now = std::max (now, task->dueMs);
                task->run();
            }

            now = until;
        }

    private:
        double now = 0.0;
    };

    /** The message manager, made once for the whole run on the fuzzer's thread,
        which is then the message thread. */
    inline void ensureMessageThread()
    {
        static const bool made = [] {
            juce::MessageManager::getInstance()->setCurrentThreadAsMessageThread();
            // The fuzzed ports are not the system's: their update claims stay
            // away from those of updaters of real controllers.
            const auto folder = juce::File::getSpecialLocation (juce::File::tempDirectory).getChildFile ("qb4ii-fuzz-locks");
            folder.createDirectory();
            PortUpdateLock::setLockFolder (folder);
            return true;
        }();
        juce::ignoreUnused (made);
    }

    /** Runs the message loop for about this long. */
    inline void pump (int ms)
    {
        juce::MessageManager::getInstance()->runDispatchLoopUntil (ms);
    }
} // namespace fuzzing
