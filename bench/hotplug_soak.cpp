// Plugs and unplugs the emulated controller many times against the whole chain
// (engine and detection at their real timing, MIDI manager, in-process MIDI
// system), each time waiting until detection has read the controller's version
// and then noticed it gone. Reports the process's resident memory, threads and
// open file descriptors after a warm-up and at the end.
//
// Usage: qb4ii_bench_hotplug_soak [CYCLES [WARM_UP]]
//        (default 1000 cycles, about 2.5 minutes, the first tenth of them the warm-up)

#include "support/ProcessFigures.h"
#include "support/TestHelpers.h"
#include "support/UpdaterRig.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>

namespace
{
    struct Watcher final : ApplicationEngine::Listener
    {
        void updateStateChanged (int) override {}
        void updateProgressChanged (double) override {}
        void updateErrorOccurred (int) override {}
        void firmwareVersionChanged (double v) override { version = v; }
        void hardwareDetectedChanged (bool d) override { detected = d; }

        double version = 0.0;
        bool detected = false;
    };

    using testing_support::ProcessFigures;

    void print (const char* when, int cycle, const ProcessFigures& p)
    {
        std::printf ("%-10s after cycle %4d: %s\n", when, cycle, p.describe().toRawUTF8());
        std::fflush (stdout);
    }
} // namespace

int main (int argc, char** argv)
{
    const int cycles = argc > 1 ? std::atoi (argv[1]) : 1000;
    const int warmUp = std::clamp (argc > 2 ? std::atoi (argv[2]) : cycles / 10, 1, cycles);
    const juce::ScopedJuceInitialiser_GUI juce;

    // The controller's own timing, and resets that do not matter here.
    testing_support::UpdaterRig rig ({}, {});
    Watcher watcher;
    rig.engine->addListener (&watcher);

    ProcessFigures atWarmUp;
    std::vector<double> cycleMs;
    cycleMs.reserve ((size_t) cycles); // allocated up front, so as not to count as the updater's
    const double startMs = juce::Time::getMillisecondCounterHiRes();

    for (int cycle = 1; cycle <= cycles; ++cycle)
    {
        const double cycleStart = juce::Time::getMillisecondCounterHiRes();
        rig.emulator.powerUp();
        if (! testing_support::pumpUntil ([&] { return watcher.version == 1.0; }, 10000))
            return std::printf ("cycle %d: the controller's version was never read\n", cycle), 1;

        rig.emulator.powerDown();
        if (! testing_support::pumpUntil ([&] { return ! watcher.detected && watcher.version == 0.0; }, 10000))
            return std::printf ("cycle %d: the unplugged controller was never missed\n", cycle), 1;

        cycleMs.push_back (juce::Time::getMillisecondCounterHiRes() - cycleStart);

        // The in-process MIDI system and the emulator keep every send and event
        // for the tests to read: forget them, so that only the updater's own
        // memory is measured.
        rig.service->clearSentLog (rig.emulator.getPortName());
        rig.emulator.clearRecords();

        if (cycle == warmUp)
            print ("warm-up", cycle, atWarmUp = ProcessFigures::measure());
        else if (cycle % 100 == 0)
            print ("", cycle, ProcessFigures::measure());
    }

    const auto atEnd = ProcessFigures::measure();
    print ("end", cycles, atEnd);

    std::sort (cycleMs.begin(), cycleMs.end());
    std::printf ("%d plug-and-unplug cycles in %.0f s (a cycle: min %.0f, median %.0f, max %.0f ms)\n", cycles,
                 (juce::Time::getMillisecondCounterHiRes() - startMs) / 1000.0, cycleMs.front(),
                 cycleMs[cycleMs.size() / 2], cycleMs.back());
    const auto growth = [] (long from, long to) { return 100.0 * (double) (to - from) / (double) from; };
    std::printf ("from warm-up to end: RSS %+.2f %%, anonymous RSS %+.2f %%, heap in use %+.2f %%; threads %ld to %ld;"
                 " file descriptors %ld to %ld\n",
                 growth (atWarmUp.rssKb, atEnd.rssKb), growth (atWarmUp.rssAnonKb, atEnd.rssAnonKb),
                 growth (atWarmUp.heapInUseKb, atEnd.heapInUseKb), atWarmUp.threads, atEnd.threads, atWarmUp.fds,
                 atEnd.fds);

    rig.engine->removeListener (&watcher);
    return 0;
}
