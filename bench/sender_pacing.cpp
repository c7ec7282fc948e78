// Firmware transfers at the controller's real timing (5000 ms erase wait, then
// one 256-byte block every 259 ms), each reported as the gaps between consecutive
// blocks as the device saw them and the total time against the ideal:
//
//   sender           the sender alone, on the in-process MIDI system
//   window           the whole application chain with the real main window on
//                    screen, repainting its progress bar (needs a display: run
//                    under xvfb-run)
//   window, loaded   the same while two busy processes load both cores
//
// Usage: qb4ii_bench_sender_pacing [MODE...]   (sender, window, loaded; default all)
// Each transfer takes about two and a half minutes. Figures only: it asserts
// nothing about wall-clock time, and exits 1 only if a transfer did not complete.

#include "app/MainWindow.h"
#include "firmware/DeviceMessages.h"
#include "firmware/DevicePortNames.h"
#include "support/UpdaterRig.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
    struct Figures
    {
        juce::String mode;
        bool completed = false;
        std::vector<double> gaps; // sorted
        double eraseToFirstMs = 0.0;
        double totalMs = 0.0;
        double idealMs = 0.0;
    };

    const FirmwareTiming timing;

    /** Gaps between the blocks of the last update in the log, which starts with its erase request. */
    void readLog (const std::vector<VirtualMidiService::SentMessage>& log, Figures& f)
    {
        const juce::MemoryBlock erase (eraseRequestMessage.data(), eraseRequestMessage.size());
        size_t first = 0;
        for (size_t i = 0; i < log.size(); ++i)
            if (log[i].bytes == erase)
                first = i;

        const auto numBlocks = (size_t) ((firmwareImageSize + (int) timing.blockSize - 1) / (int) timing.blockSize);
        const auto end = std::min (log.size(), first + 1 + numBlocks);

        for (size_t i = first + 2; i < end; ++i)
            f.gaps.push_back (log[i].timeMs - log[i - 1].timeMs);
        std::sort (f.gaps.begin(), f.gaps.end());

        f.eraseToFirstMs = end > first + 1 ? log[first + 1].timeMs - log[first].timeMs : 0.0;
        f.idealMs = timing.eraseWaitMs + ((double) numBlocks + 1.0) * timing.blockIntervalMs;
    }

    struct Completion final : FirmwareSysexSender::Listener
    {
        void sysexProgressChanged (FirmwareSysexSender*, double) override {}
        void sysexStatusChanged (FirmwareSysexSender*, juce::String status) override
        {
            if (status == FirmwareSysexSender::statusCompleted || status == FirmwareSysexSender::statusDeviceOffline)
            {
                finished = status;
                finishedAtMs = juce::Time::getMillisecondCounterHiRes();
            }
        }

        juce::String finished;
        double finishedAtMs = 0.0;
    };

    Figures senderAlone()
    {
        Figures f;
        f.mode = "sender";

        auto service = std::make_shared<VirtualMidiService>();
        service->plugDevice (deviceMidiPortName);
        MidiManager::Ptr manager = new MidiManager (service);

        const juce::Array<char> image (firmwareImage, firmwareImageSize);
        const juce::Array<char> erase (reinterpret_cast<const char*> (eraseRequestMessage.data()), (int) eraseRequestMessage.size());
        FirmwareUpdate::Ptr update = new FirmwareUpdate (erase, image, timing.blockSize, timing.blockIntervalMs, deviceMidiPortName);

        Completion completion;
        FirmwareSysexSender::Ptr sender = new FirmwareSysexSender (update.get(), manager, &completion, timing.eraseWaitMs);

        const double startMs = juce::Time::getMillisecondCounterHiRes();
        sender->startSending();

        while (completion.finished.isEmpty())
            juce::MessageManager::getInstance()->runDispatchLoopUntil (50);

        f.completed = completion.finished == FirmwareSysexSender::statusCompleted;
        f.totalMs = completion.finishedAtMs - startMs;
        readLog (service->getSentLog (deviceMidiPortName), f);
        sender = nullptr;
        return f;
    }

    /** Notices that go nowhere: the window's completion notice would wait for a click. */
    struct NoAlerts final : MainWindowComponent::Alerts
    {
        void showNotice (const juce::String&, const juce::String&) override {}
        bool askOkCancel (const juce::String&, const juce::String&) override { return true; }
    };

    struct StateWatcher final : ApplicationEngine::Listener
    {
        void updateStateChanged (int state) override
        {
            if (state == ApplicationEngine::complete || (state == ApplicationEngine::idle && startedAtMs > 0.0))
            {
                ended = true;
                completed = state == ApplicationEngine::complete;
                endedAtMs = juce::Time::getMillisecondCounterHiRes();
            }
        }
        void updateProgressChanged (double) override {}
        void updateErrorOccurred (int) override {}
        void firmwareVersionChanged (double v) override { version = v; }
        void hardwareDetectedChanged (bool) override {}

        double version = 0.0, startedAtMs = 0.0, endedAtMs = 0.0;
        bool ended = false, completed = false;
    };

    /** Processes that spin on a core each until destroyed. */
    struct BusyProcesses
    {
        explicit BusyProcesses (int count)
        {
            for (int i = 0; i < count; ++i)
            {
                const pid_t pid = fork();
                if (pid == 0)
                {
                    volatile unsigned long spin = 0;
                    for (;;)
                        spin = spin + 1;
                }
                pids.push_back (pid);
            }
        }

        ~BusyProcesses()
        {
            for (auto pid : pids)
            {
                kill (pid, SIGKILL);
                waitpid (pid, nullptr, 0);
            }
        }

        std::vector<pid_t> pids;
    };

    Figures withWindow (bool loaded)
    {
        Figures f;
        f.mode = loaded ? "window, loaded" : "window";

        testing_support::UpdaterRig rig ({}, {});
        StateWatcher watcher;
        rig.engine->addListener (&watcher);

        MainWindowComponent::Ptr content (new MainWindowComponent (rig.engine));
        content->setAlerts (std::make_unique<NoAlerts>());
        MainWindow::Ptr window (new MainWindow (content));

        rig.emulator.powerUp();
        while (watcher.version == 0.0)
            juce::MessageManager::getInstance()->runDispatchLoopUntil (20);

        std::unique_ptr<BusyProcesses> load;
        if (loaded)
            load = std::make_unique<BusyProcesses> (2);

        watcher.startedAtMs = juce::Time::getMillisecondCounterHiRes();
        if (rig.engine->startUpdate (false))
            while (! watcher.ended)
                juce::MessageManager::getInstance()->runDispatchLoopUntil (50);

        load = nullptr;
        f.completed = watcher.completed;
        f.totalMs = watcher.endedAtMs - watcher.startedAtMs;
        readLog (rig.service->getSentLog (deviceMidiPortName), f);

        rig.engine->removeListener (&watcher);
        window = nullptr;
        content = nullptr;
        return f;
    }

    void print (const Figures& f)
    {
        if (f.gaps.empty())
        {
            std::printf ("%-16s no blocks\n", f.mode.toRawUTF8());
            return;
        }

        const auto p99 = f.gaps[(f.gaps.size() * 99) / 100];
        std::printf ("%-16s %-10s %8.2f %8.2f %8.2f %8.2f %10.1f %9.0f %+8.3f %%\n", f.mode.toRawUTF8(),
                     f.completed ? "Completed" : "FAILED", f.gaps.front(), f.gaps[f.gaps.size() / 2], p99, f.gaps.back(),
                     f.totalMs, f.idealMs, 100.0 * (f.totalMs - f.idealMs) / f.idealMs);
    }
} // namespace

int main (int argc, char** argv)
{
    juce::StringArray modes;
    for (int i = 1; i < argc; ++i)
        modes.add (argv[i]);
    if (modes.isEmpty())
        modes = { "sender", "window", "loaded" };

    // Under a bare X server JUCE needs its forgiving X error handler, which it
    // installs only for an application; a factory never called is enough.
    juce::JUCEApplicationBase::createInstance = []() -> juce::JUCEApplicationBase* { return nullptr; };
    const juce::ScopedJuceInitialiser_GUI juce;
    std::vector<Figures> results;

    for (const auto& mode : modes)
    {
        std::printf ("%s: one transfer of %d bytes, %d ms erase wait, a block every %d ms...\n",
                     mode.toRawUTF8(), firmwareImageSize, timing.eraseWaitMs, timing.blockIntervalMs);
        std::fflush (stdout);

        if (mode == "sender")
            results.push_back (senderAlone());
        else if (mode == "window" || mode == "loaded")
            results.push_back (withWindow (mode == "loaded"));
        else
            return std::printf ("unknown mode %s (sender, window, loaded)\n", mode.toRawUTF8()), 2;
    }

    std::printf ("\n%-16s %-10s %8s %8s %8s %8s %10s %9s %10s\n", "mode", "status", "min", "median", "p99", "max",
                 "total ms", "ideal ms", "vs ideal");
    for (const auto& f : results)
        print (f);

    return std::all_of (results.begin(), results.end(), [] (const Figures& f) { return f.completed; }) ? 0 : 1;
}
