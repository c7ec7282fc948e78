/*
    The updater's whole chain in the test VM (tests/vm/run.sh): MidiManager on the
    platform's MIDI service, the engine with its device detection, and the
    firmware sender, exactly as the application builds them, against a controller
    emulator on the far side of real ALSA ports.

    qb4ii_vm_e2e update PORT VERSION_BEFORE VERSION_AFTER [INTERVAL_MS ERASE_WAIT_MS]
        Waits until detection finds PORT and reads VERSION_BEFORE, runs a normal
        update at the given pacing (by default the controller's own, as the
        application uses it: FirmwareTiming's defaults), and waits
        until it completes, the controller resets (its port goes away), detection
        reads VERSION_AFTER and the engine confirms the update.
    qb4ii_vm_e2e in-use PORT WRITER
        Waits until detection finds PORT and reads a version; another sequencer
        client, WRITER, is connected to write to it: the update must be refused,
        naming WRITER.
    qb4ii_vm_e2e offline PORT INTERVAL_MS ERASE_WAIT_MS BLOCKS
        Waits until detection finds PORT and reads a version, starts a normal
        update and says "unplug now" once BLOCKS blocks are sent; the engine must
        then report the controller offline (error 0) and fall back to idle. Then
        it says "plug in now" and waits until detection finds PORT again.

    qb4ii_vm_e2e idle PORT SECONDS answering|silent|baseline
        Waits until detection finds PORT and, when the controller is answering,
        reads its version (silent: nobody answers, so detection keeps asking),
        settles, then reports the CPU time the process used over SECONDS, as a
        share of one core, with the number of ports listed. baseline: the same
        for a program that only runs a 50 ms timer, without the updater.
    qb4ii_vm_e2e replug PORT CYCLES WARM_UP
        For each cycle says "cycle N: plug in now", waits until detection reads a
        version from PORT, says "cycle N: unplug now" and waits until detection
        misses the controller. The harness writes the time of each plug-in
        (seconds since boot, as /proc/uptime gives it) to /tmp/qb4ii-plugged-at
        before it plugs; the time from there to the version notification is the
        detection latency. Reports the latencies and the process's memory,
        threads and file descriptors after WARM_UP cycles and at the end.

    Each engine notification is printed as it arrives, with the seconds since the
    start. The exit status is 0 when everything happened as described.
*/

#include "engine/ApplicationEngine.h"
#include "firmware/DeviceMessages.h"

#include <juce_events/juce_events.h>

#include <cmath>
#include <functional>
#include "support/ProcessFigures.h"
#include "support/TestHelpers.h"

#include <algorithm>
#include <ctime>
#include <iostream>
#include <map>
#include <optional>

namespace
{
    const double startMs = juce::Time::getMillisecondCounterHiRes();

    double secondsSinceStart()
    {
        return (juce::Time::getMillisecondCounterHiRes() - startMs) / 1000.0;
    }

    void say (const char* command, const juce::String& line)
    {
        std::cout << command << ": [" << juce::String (secondsSinceStart(), 2) << " s] " << line << std::endl;
    }

    /** Runs the message loop until the condition holds; false at the deadline. */
    bool pumpUntil (const std::function<bool()>& condition, double timeoutSeconds)
    {
        return testing_support::pumpUntil (condition, juce::roundToInt (timeoutSeconds * 1000.0));
    }

    const char* stateName (int state)
    {
        switch (state)
        {
            case ApplicationEngine::idle: return "idle";
            case ApplicationEngine::erasing: return "erasing";
            case ApplicationEngine::sending: return "sending";
            case ApplicationEngine::complete: return "complete";
            default: return "unknown";
        }
    }

    /** Follows the engine as the user interface does, printing every change. */
    class EngineMonitor final : public ApplicationEngine::Listener
    {
    public:
        EngineMonitor (const char* c, const ApplicationEngine& e)
            : command (c)
            , engine (e)
        {
        }

        void updateStateChanged (int s) override
        {
            if (s != state)
            {
                say (command, juce::String ("state ") + stateName (s));
                stateTimes[s] = secondsSinceStart();
            }

            state = s;
        }

        void updateProgressChanged (double p) override
        {
            // Every tenth of the way.
            if (juce::roundToInt (p * 1000.0) / 100 != juce::roundToInt (progress * 1000.0) / 100 && p > progress)
                say (command, "progress " + juce::String (juce::roundToInt (p * 100.0)) + "%");

            progress = p;
        }

        void updateErrorOccurred (int code) override
        {
            say (command, "error " + juce::String (code) + (code == ApplicationEngine::deviceOfflineError ? " (Device Offline)" : ""));
            errors.add (code);
        }

        void firmwareVersionChanged (double v) override
        {
            if (v != version)
                say (command, "version " + juce::String (v, 2));

            version = v;
        }

        void updateResultChanged (const ApplicationEngine::UpdateResult& r) override
        {
            say (command, "result " + juce::String (r.verdict == ApplicationEngine::UpdateResult::confirmed ? "confirmed" : "not confirmed"));
            result = r;
        }

        void hardwareDetectedChanged (bool d) override
        {
            if (d != hardware)
            {
                say (command, d ? "hardware detected: \"" + engine.getState().deviceName + "\"" : juce::String ("hardware lost"));

                if (d)
                    ++detections;
                else
                    ++losses;
            }

            hardware = d;
        }

        const char* const command;
        const ApplicationEngine& engine;
        int state = ApplicationEngine::idle;
        double progress = 0.0, version = 0.0;
        bool hardware = false;
        int detections = 0, losses = 0;
        juce::Array<int> errors;
        std::map<int, double> stateTimes;
        std::optional<ApplicationEngine::UpdateResult> result;

    private:
        JUCE_DECLARE_NON_COPYABLE (EngineMonitor)
    };

    /** The engine, detection and the manager as the application builds them. */
    struct Chain
    {
        Chain (const char* command, FirmwareTiming timing)
            : manager (new MidiManager())
            , engine (new ApplicationEngine (manager, timing))
            , monitor (command, *engine)
        {
            engine->addListener (&monitor);
        }

        ~Chain()
        {
            engine->removeListener (&monitor);
        }

        bool waitForController (const juce::String& port, double version, double timeoutSeconds)
        {
            return pumpUntil ([&] {
                return monitor.hardware && engine->getState().deviceName == port
                       && (version > 0.0 ? std::abs (monitor.version - version) < 0.001 : monitor.version > 0.0);
            },
                              timeoutSeconds);
        }

        MidiManager::Ptr manager;
        ApplicationEngine::Ptr engine;
        EngineMonitor monitor;
    };

    int fail (const char* command, const juce::String& why)
    {
        say (command, "FAIL: " + why);
        return 1;
    }

    int update (const juce::String& port, double before, double after, FirmwareTiming timing)
    {
        constexpr auto command = "update";
        const auto intervalMs = timing.blockIntervalMs, eraseWaitMs = timing.eraseWaitMs;
        Chain chain (command, timing);
        auto& monitor = chain.monitor;

        if (! chain.waitForController (port, before, 30.0))
            return fail (command, "detection did not find \"" + port + "\" with version " + juce::String (before, 2)
                                      + " (found \"" + chain.engine->getState().deviceName + "\", version " + juce::String (monitor.version, 2) + ")");

        say (command, "starting a normal update: erase wait " + juce::String (eraseWaitMs) + " ms, a block every " + juce::String (intervalMs) + " ms");
        const auto started = secondsSinceStart();

        if (! chain.engine->startUpdate())
            return fail (command, "the engine refused to start");

        const auto blocks = (double) (((unsigned) firmwareImageSize + timing.blockSize - 1) / timing.blockSize);
        const auto budget = (eraseWaitMs + (blocks + 1) * intervalMs) * 1.5 / 1000.0 + 20.0;

        if (! pumpUntil ([&] { return monitor.state == ApplicationEngine::complete || ! monitor.errors.isEmpty(); }, budget))
            return fail (command, "no completion within " + juce::String (budget, 0) + " s");

        if (! monitor.errors.isEmpty() || monitor.stateTimes.count (ApplicationEngine::sending) == 0)
            return fail (command, "the update did not run through erasing and sending to complete");

        const auto sending = monitor.stateTimes[ApplicationEngine::sending];
        const auto complete = monitor.stateTimes[ApplicationEngine::complete];
        say (command, "erase request to sending " + juce::String (sending - started, 2) + " s, sending to complete "
                          + juce::String (complete - sending, 2) + " s, whole update " + juce::String (complete - started, 2) + " s");

        // The controller resets: its port goes away and comes back with the new firmware.
        if (! pumpUntil ([&] { return monitor.losses > 0; }, 30.0))
            return fail (command, "the controller's port did not go away after the update");

        if (! chain.waitForController (port, after, 30.0))
            return fail (command, "detection did not read version " + juce::String (after, 2) + " after the reset (read "
                                      + juce::String (monitor.version, 2) + ")");

        if (! pumpUntil ([&] { return monitor.result.has_value(); }, 30.0)
            || monitor.result->verdict != ApplicationEngine::UpdateResult::confirmed)
            return fail (command, "the update was not confirmed");

        say (command, "PASS: detected again with version " + juce::String (monitor.version, 2) + ", confirmed "
                          + juce::String (secondsSinceStart() - complete, 2) + " s after completion");
        return 0;
    }

    int inUse (const juce::String& port, const juce::String& writer)
    {
        constexpr auto command = "in-use";
        Chain chain (command, {});

        if (! chain.waitForController (port, 0.0, 30.0))
            return fail (command, "detection did not find \"" + port + "\" and read a version");

        if (chain.engine->startUpdate() || chain.engine->getLastStartRefusal() != ApplicationEngine::controllerInUse)
            return fail (command, "the update was not refused as the controller in use");

        if (! chain.engine->getOtherWriters().contains (writer))
            return fail (command, "the refusal named \"" + chain.engine->getOtherWriters().joinIntoString ("\", \"") + "\"");

        // Nothing follows the refusal: no erase wait ends in a stream.
        pumpUntil ([] { return false; }, 6.0);
        say (command, "PASS: refused, naming \"" + writer + "\"");
        return 0;
    }

    int offline (const juce::String& port, int intervalMs, int eraseWaitMs, int unplugAfterBlocks)
    {
        constexpr auto command = "offline";
        const FirmwareTiming timing { FirmwareTiming().blockSize, intervalMs, eraseWaitMs };
        Chain chain (command, timing);
        auto& monitor = chain.monitor;

        if (! chain.waitForController (port, 0.0, 30.0))
            return fail (command, "detection did not find \"" + port + "\" and read a version");

        if (! chain.engine->startUpdate())
            return fail (command, "the engine refused to start");

        const auto blocks = (double) (((unsigned) firmwareImageSize + timing.blockSize - 1) / timing.blockSize);
        const auto budget = (eraseWaitMs + unplugAfterBlocks * intervalMs) * 1.5 / 1000.0 + 20.0;

        if (! pumpUntil ([&] { return monitor.progress >= unplugAfterBlocks / blocks; }, budget))
            return fail (command, juce::String (unplugAfterBlocks) + " blocks were not sent within " + juce::String (budget, 0) + " s");

        const auto detectionsBefore = monitor.detections;
        say (command, "unplug now");

        if (! pumpUntil ([&] { return ! monitor.errors.isEmpty() && monitor.state == ApplicationEngine::idle; }, 30.0))
            return fail (command, "no Device Offline within 30 s of the unplug (state " + juce::String (stateName (monitor.state)) + ")");

        if (monitor.errors != juce::Array<int> { ApplicationEngine::deviceOfflineError } || chain.engine->isUpdating())
            return fail (command, "expected error 0 once and no update running");

        say (command, "offline reported, the engine is idle; plug in now");

        if (! pumpUntil ([&] { return monitor.detections > detectionsBefore && chain.engine->getState().deviceName == port; }, 30.0))
            return fail (command, "detection did not find \"" + port + "\" again within 30 s");

        say (command, "PASS: offline at the unplug, detected again at the replug");
        return 0;
    }

    /** Seconds since boot, on the clock /proc/uptime reads. */
    double secondsSinceBoot()
    {
        timespec t {};
        clock_gettime (CLOCK_BOOTTIME, &t);
        return (double) t.tv_sec + (double) t.tv_nsec / 1e9;
    }

    /** Runs the application's own message loop for this long and reports the CPU
        the process used meanwhile. The loop cannot be run again afterwards. */
    void reportIdleCpu (int seconds, const juce::String& what)
    {
        testing_support::pumpFor (2000);
        const auto cpuBefore = testing_support::cpuSecondsUsed();
        const auto wallBefore = juce::Time::getMillisecondCounterHiRes();
        // The loop sleeps until there is something to do; runDispatchLoopUntil would
        // wake every millisecond and cost more than the updater.
        juce::Timer::callAfterDelay (seconds * 1000, [] { juce::MessageManager::getInstance()->stopDispatchLoop(); });
        juce::MessageManager::getInstance()->runDispatchLoop();
        const auto cpu = testing_support::cpuSecondsUsed() - cpuBefore;
        const auto wall = (juce::Time::getMillisecondCounterHiRes() - wallBefore) / 1000.0;

        say ("idle", what + ": " + juce::String (cpu, 3) + " s of CPU in " + juce::String (wall, 1) + " s, "
                         + juce::String (100.0 * cpu / wall, 3) + " % of one core");
    }

    /** The floor under the figures: a program that only wakes on a 50 ms timer. */
    int idleBaseline (int seconds)
    {
        struct Tick final : juce::Timer
        {
            void timerCallback() override {}
        } tick;

        tick.startTimer (50);
        reportIdleCpu (seconds, "baseline, a 50 ms timer that does nothing");
        return 0;
    }

    int idle (const juce::String& port, int seconds, bool answering)
    {
        constexpr auto command = "idle";
        Chain chain (command, {});

        if (answering ? ! chain.waitForController (port, 0.0, 60.0)
                      : ! pumpUntil ([&] { return chain.engine->getState().deviceName == port; }, 60.0))
            return fail (command, "detection did not find \"" + port + "\"");

        if (! answering && chain.monitor.version > 0.0)
            return fail (command, "the controller answered; it should be silent");

        reportIdleCpu (seconds, juce::String ("controller ") + (answering ? "answering" : "silent") + ", "
                                    + juce::String (chain.manager->getOutputDeviceNames().size()) + " outputs listed");
        return 0;
    }

    int replug (const juce::String& port, int cycles, int warmUp)
    {
        constexpr auto command = "replug";
        Chain chain (command, {});
        auto& monitor = chain.monitor;
        std::vector<double> latenciesMs;
        testing_support::ProcessFigures atWarmUp;

        for (int cycle = 1; cycle <= cycles; ++cycle)
        {
            say (command, "cycle " + juce::String (cycle) + ": plug in now");

            if (! chain.waitForController (port, 0.0, 60.0))
                return fail (command, "cycle " + juce::String (cycle) + ": no version read within 60 s");

            const auto pluggedAt = juce::File ("/tmp/qb4ii-plugged-at").loadFileAsString().getDoubleValue();
            latenciesMs.push_back ((secondsSinceBoot() - pluggedAt) * 1000.0);
            say (command, "cycle " + juce::String (cycle) + ": version read " + juce::String (juce::roundToInt (latenciesMs.back()))
                              + " ms after the plug-in; unplug now");

            if (! pumpUntil ([&] { return ! monitor.hardware && monitor.version == 0.0; }, 60.0))
                return fail (command, "cycle " + juce::String (cycle) + ": the unplugged controller was not missed");

            if (cycle == warmUp)
            {
                atWarmUp = testing_support::ProcessFigures::measure();
                say (command, "after the warm-up: " + atWarmUp.describe());
            }
        }

        const auto atEnd = testing_support::ProcessFigures::measure();
        say (command, "at the end: " + atEnd.describe());
        say (command, "RSS from warm-up to end: " + juce::String (100.0 * (double) (atEnd.rssKb - atWarmUp.rssKb) / (double) atWarmUp.rssKb, 2) + " %");

        auto sorted = latenciesMs;
        std::sort (sorted.begin(), sorted.end());
        const auto at = [&] (double q) { return sorted[std::min (sorted.size() - 1, (size_t) (q * (double) sorted.size()))]; };
        say (command, "detection latency over " + juce::String ((int) sorted.size()) + " plug-ins: min " + juce::String (juce::roundToInt (sorted.front()))
                          + ", median " + juce::String (juce::roundToInt (at (0.5))) + ", p95 " + juce::String (juce::roundToInt (at (0.95))) + ", max "
                          + juce::String (juce::roundToInt (sorted.back())) + " ms");
        say (command, "PASS");
        return 0;
    }

    int usage()
    {
        std::cerr << "usage: qb4ii_vm_e2e update PORT VERSION_BEFORE VERSION_AFTER [INTERVAL_MS ERASE_WAIT_MS]"
                     " | in-use PORT WRITER | offline PORT INTERVAL_MS ERASE_WAIT_MS BLOCKS | idle PORT SECONDS answering|silent|baseline"
                     " | replug PORT CYCLES WARM_UP"
                  << std::endl;
        return 2;
    }
} // namespace

int main (int argc, char** argv)
{
    const juce::ScopedJuceInitialiser_GUI juce;

    juce::StringArray args;
    for (int i = 1; i < argc; ++i)
        args.add (juce::CharPointer_UTF8 (argv[i]));

    if (args[0] == "update" && (args.size() == 4 || args.size() == 6))
    {
        FirmwareTiming timing;

        if (args.size() == 6)
        {
            timing.blockIntervalMs = args[4].getIntValue();
            timing.eraseWaitMs = args[5].getIntValue();
        }

        return update (args[1], args[2].getDoubleValue(), args[3].getDoubleValue(), timing);
    }

    if (args[0] == "in-use" && args.size() == 3)
        return inUse (args[1], args[2]);

    if (args[0] == "offline" && args.size() == 5)
        return offline (args[1], args[2].getIntValue(), args[3].getIntValue(), args[4].getIntValue());

    if (args[0] == "idle" && args.size() == 4 && args[3] == "baseline")
        return idleBaseline (args[2].getIntValue());

    if (args[0] == "idle" && args.size() == 4)
        return idle (args[1], args[2].getIntValue(), args[3] == "answering");

    if (args[0] == "replug" && args.size() == 4)
        return replug (args[1], args[2].getIntValue(), args[3].getIntValue());

    return usage();
}
