// The time from the controller being plugged in to the engine announcing its
// firmware version, with the controller emulator on the in-process MIDI system,
// over a number of plug-ins. The detection pass runs every 100 ms and the
// manager's poll every 50 ms, so expect figures up to a few hundred ms.

#include "support/TestHelpers.h"
#include "support/UpdaterRig.h"

#include <juce_events/juce_events.h>

#include <algorithm>
#include <cstdio>

namespace
{
    struct VersionWatcher final : ApplicationEngine::Listener
    {
        void updateStateChanged (int) override {}
        void updateProgressChanged (double) override {}
        void updateErrorOccurred (int) override {}
        void hardwareDetectedChanged (bool) override {}
        void firmwareVersionChanged (double v) override
        {
            if (v != 0.0)
                versionAtMs = juce::Time::getMillisecondCounterHiRes();
        }

        double versionAtMs = 0.0;
    };
} // namespace

int main()
{
    const juce::ScopedJuceInitialiser_GUI juce;

    // At the controller's own timing.
    testing_support::UpdaterRig rig ({}, {});
    auto& emulator = rig.emulator;
    auto& engine = rig.engine;
    VersionWatcher watcher;
    engine->addListener (&watcher);

    std::vector<double> latencies;

    for (int run = 0; run < 20; ++run)
    {
        watcher.versionAtMs = 0.0;
        const double pluggedAt = juce::Time::getMillisecondCounterHiRes();
        emulator.powerUp();
        if (! testing_support::pumpUntil ([&] { return watcher.versionAtMs != 0.0; }, 10000))
        {
            std::printf ("the controller's version was never read\n");
            return 1;
        }

        latencies.push_back (watcher.versionAtMs - pluggedAt);

        emulator.powerDown();
        if (! testing_support::pumpUntil ([&] { return ! engine->getState().hardwareDetected; }, 10000))
        {
            std::printf ("the unplugged controller was never missed\n");
            return 1;
        }

        juce::MessageManager::getInstance()->runDispatchLoopUntil (37 * (run % 5));
    }

    std::sort (latencies.begin(), latencies.end());
    std::printf ("plug-in to version notification over %zu plug-ins: min %.1f, median %.1f, max %.1f ms\n",
                 latencies.size(), latencies.front(), latencies[latencies.size() / 2], latencies.back());

    engine->removeListener (&watcher);
    engine = nullptr;
    return 0;
}
