#include "EmulatorSession.h"

#include <algorithm>
#include <iostream>

namespace
{
    /** The longest the loop sleeps: how often it checks for a stop and retries a lost device. */
    constexpr int maxWaitMs = 100;
} // namespace

EmulatorSession::EmulatorSession (const EmulatorOptions& o, std::unique_ptr<EmulatorTransport> t)
    : options (o)
    , transport (std::move (t))
{
    auto loopScheduler = std::make_unique<TaskScheduler> (TaskScheduler::steadyClockMs);
    scheduler = loopScheduler.get();
    startMs = scheduler->getTimeMs();
    emulator = std::make_unique<ControllerEmulator> (options.config, std::move (loopScheduler));

    emulator->setOutput ([this] (const juce::MemoryBlock& message) { transport->send (message); });
    emulator->setPresence ([this] (bool present, const juce::String& portName) { transport->setPresent (present, portName); });
}

EmulatorSession::~EmulatorSession()
{
    emulator->setOutput ({});
    emulator->setPresence ({});
    emulator.reset();
}

int EmulatorSession::run (const std::function<bool()>& shouldStop)
{
    if (const auto problem = transport->open(); problem.isNotEmpty())
    {
        say ("error: " + problem);
        return 2;
    }

    const auto version = emulator->getVersion();
    say (juce::String ("controller with firmware ") + juce::String (version[0]) + "." + juce::String (version[1])
         + juce::String (version[2]) + (options.bootloader ? ", in its bootloader" : ""));

    if (options.bootloader)
        emulator->powerUpInBootloader();
    else
        emulator->powerUp();

    logNewPhases();

    while (! shouldStop() && ending != Ending::done && ! (failed && ! options.keepRunning))
    {
        auto fds = transport->getPollDescriptors();
        const auto untilTask = scheduler->getMsUntilNextTask();
        const auto waitMs = untilTask < 0 ? maxWaitMs : juce::jmin (untilTask, maxWaitMs);

        poll (fds.data(), (nfds_t) fds.size(), waitMs);

        transport->service (*this);
        scheduler->runDueTasks();
        logNewPhases();
    }

    const auto counts = emulator->getCounts();
    say ("stopping: " + juce::String (counts.identityReplies) + " identity replies, "
         + juce::String (counts.eraseRequests) + " erase requests, " + juce::String (counts.imagesAccepted)
         + " images verified, " + juce::String (counts.imagesRejected) + " rejected or lost"
         + (failed ? "; an image was rejected or cut off" : ""));

    return failed ? 1 : 0;
}

void EmulatorSession::bytesReceived (const void* data, size_t size)
{
    emulator->receive (data, size);
}

void EmulatorSession::deviceLost()
{
    emulator->powerDown();
}

void EmulatorSession::deviceOpened()
{
    // Plugged in again from outside; after a reset of its own the controller is
    // present already.
    if (! emulator->isPresent())
        emulator->powerUp();
}

void EmulatorSession::logNewPhases()
{
    const auto phases = emulator->getPhaseLog();

    for (; phasesLogged < phases.size(); ++phasesLogged)
    {
        const auto& line = phases[phasesLogged];

        if (line.startsWith ("burst "))
        {
            const auto n = line.fromFirstOccurrenceOf (" ", false, false).getIntValue();
            const auto every = options.logEveryNthBurst;

            if (every > 0 && (n == 1 || n % every == 0))
            {
                const auto bursts = emulator->getBursts();
                size_t bytes = 0;

                for (auto i = juce::jmin (firstBurstOfImage, bursts.size()); i < bursts.size(); ++i)
                    bytes += bursts[i].size;

                say (line + " (" + juce::String (bytes) + " bytes of the image so far)");
            }

            continue;
        }

        if (line.startsWith ("image "))
        {
            logImage (line);
            continue;
        }

        say (line);

        if (ending == Ending::verified && line == "reset")
            ending = Ending::reset;
        else if (ending == Ending::reset && line.startsWith ("ports appear"))
            ending = Ending::back;
        else if (ending == Ending::back && line == "identity answered")
            ending = Ending::done;
    }
}

void EmulatorSession::logImage (const juce::String& line)
{
    const auto bursts = emulator->getBursts();
    const auto first = juce::jmin (firstBurstOfImage, bursts.size());
    const std::vector<ControllerEmulator::Burst> ofImage (bursts.begin() + (std::ptrdiff_t) first, bursts.end());
    firstBurstOfImage = bursts.size();

    size_t bytes = 0;

    for (const auto& burst : ofImage)
        bytes += burst.size;

    const auto seconds = ofImage.size() < 2 ? 0.0 : (ofImage.back().timeMs - ofImage.front().timeMs) / 1000.0;
    say (line + " (" + juce::String (bytes) + " bytes in " + juce::String (ofImage.size()) + " bursts over "
         + juce::String (seconds, 2) + " s; gaps between bursts min/median/max " + describeGaps (ofImage) + " ms)");

    // An unplugged controller loses its image through no fault of the sender.
    if (line.startsWith ("image rejected") || (line.startsWith ("image lost") && ! line.endsWith ("unplugged")))
        failed = true;
    else if (line == "image verified" && ! options.keepRunning)
        ending = Ending::verified;
}

juce::String EmulatorSession::describeGaps (const std::vector<ControllerEmulator::Burst>& bursts)
{
    if (bursts.size() < 2)
        return "-/-/-";

    std::vector<double> gaps;

    for (size_t i = 1; i < bursts.size(); ++i)
        gaps.push_back (bursts[i].timeMs - bursts[i - 1].timeMs);

    std::sort (gaps.begin(), gaps.end());
    const auto n = gaps.size();
    const auto median = n % 2 == 1 ? gaps[n / 2] : (gaps[n / 2 - 1] + gaps[n / 2]) / 2.0;

    return juce::String (gaps.front(), 1) + "/" + juce::String (median, 1) + "/" + juce::String (gaps.back(), 1);
}

void EmulatorSession::say (const juce::String& line)
{
    const auto seconds = (scheduler->getTimeMs() - startMs) / 1000.0;
    std::cout << "[" << juce::String (seconds, 3).paddedLeft (' ', 8) << "] " << line << std::endl;
}
