// One full firmware transfer at the controller's real timing (5000 ms erase wait,
// then one 256-byte block every 259 ms) through the MIDI manager to the in-process
// MIDI system. Reports the gaps between consecutive sends as the device saw them
// and the total time against the ideal. Takes about two and a half minutes.

#include "firmware/DeviceMessages.h"
#include "firmware/FirmwareSysexSender.h"
#include "firmware/FirmwareTiming.h"
#include "midi/VirtualMidiService.h"

#include <juce_events/juce_events.h>

#include <algorithm>
#include <cstdio>

namespace
{
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
} // namespace

int main()
{
    const juce::ScopedJuceInitialiser_GUI juce;
    const FirmwareTiming timing;
    const juce::String port ("Korvan QB4 II MIDI");

    auto service = std::make_shared<VirtualMidiService>();
    service->plugDevice (port);
    MidiManager::Ptr manager = new MidiManager (service);

    const juce::Array<char> image (firmwareImage, firmwareImageSize);
    const juce::Array<char> erase (reinterpret_cast<const char*> (eraseRequestMessage.data()), (int) eraseRequestMessage.size());
    FirmwareUpdate::Ptr update = new FirmwareUpdate (erase, image, timing.blockSize, timing.blockIntervalMs, port);

    Completion completion;
    FirmwareSysexSender::Ptr sender = new FirmwareSysexSender (update.get(), manager, &completion, timing.eraseWaitMs);

    std::printf ("Sending %d bytes in %u blocks: %d ms erase wait, then one block every %d ms...\n",
                 firmwareImageSize, update->getNumBlocks(), timing.eraseWaitMs, timing.blockIntervalMs);
    std::fflush (stdout);

    const double startMs = juce::Time::getMillisecondCounterHiRes();
    sender->startSending();

    while (completion.finished.isEmpty())
        juce::MessageManager::getInstance()->runDispatchLoopUntil (50);

    const auto log = service->getSentLog (port);
    std::vector<double> gaps;
    for (size_t i = 2; i < log.size(); ++i)
        gaps.push_back (log[i].timeMs - log[i - 1].timeMs);
    std::sort (gaps.begin(), gaps.end());

    const double eraseToFirst = log.size() > 1 ? log[1].timeMs - log[0].timeMs : 0.0;
    const double total = completion.finishedAtMs - startMs;
    const double ideal = timing.eraseWaitMs + (update->getNumBlocks() + 1.0) * timing.blockIntervalMs;
    const auto tooSoon = std::count_if (gaps.begin(), gaps.end(), [&] (double g) { return g < timing.blockIntervalMs - 1.0; });

    std::printf ("status: %s; %zu sends (erase request + blocks)\n", completion.finished.toRawUTF8(), log.size());
    std::printf ("erase request to first block: %.2f ms (at least %d expected)\n", eraseToFirst, timing.eraseWaitMs + timing.blockIntervalMs);
    if (! gaps.empty())
        std::printf ("gaps between blocks: min %.2f, median %.2f, p99 %.2f, max %.2f ms; %ld under %.1f ms\n",
                     gaps.front(), gaps[gaps.size() / 2], gaps[(gaps.size() * 99) / 100], gaps.back(),
                     (long) tooSoon, timing.blockIntervalMs - 1.0);
    std::printf ("total: %.1f ms against the ideal %.0f ms (%+.3f %%)\n", total, ideal, 100.0 * (total - ideal) / ideal);

    sender = nullptr;
    return completion.finished == FirmwareSysexSender::statusCompleted ? 0 : 1;
}
