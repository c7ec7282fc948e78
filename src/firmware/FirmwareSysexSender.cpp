#include "firmware/FirmwareSysexSender.h"

#include <cmath>

const char* const FirmwareSysexSender::statusStarted = "Started";
const char* const FirmwareSysexSender::statusCompleted = "Completed";
const char* const FirmwareSysexSender::statusDeviceOffline = "Device Offline";

FirmwareSysexSender::FirmwareSysexSender (FirmwareUpdate* u,
                                          const MidiManager::Ptr& manager,
                                          Listener* listener,
                                          int eraseWait)
    : update (u)
    , midiManager (manager)
    , eraseWaitMs (eraseWait)
{
    jassert (update != nullptr && midiManager != nullptr);

    if (listener != nullptr)
        listeners.add (listener);
}

FirmwareSysexSender::~FirmwareSysexSender()
{
    stopTimer (eraseWaitTimerID);
    stopTimer (sendTimerID);
    midiManager->removeListener (this);
    listeners.clear();
}

void FirmwareSysexSender::startSending()
{
    const auto deviceName = update->getDeviceName();

    midiManager->addListener (this);
    midiManager->openOutputDevice (deviceName);
    currentBlock = 0;

    const auto eraseRequest = update->getEraseRequest();

    if (! eraseRequest.isEmpty())
    {
        // The erase request goes out whether or not a port could be opened; the
        // wait, "Started" and the stream follow regardless.
        midiManager->sendMessage (deviceName, juce::MidiMessage (eraseRequest.getRawDataPointer(), eraseRequest.size(), 0.0));
        eraseSentAtMs = juce::Time::getMillisecondCounterHiRes();
        startTimer (eraseWaitTimerID, eraseWaitMs);

        // Closed during the wait, while the controller erases and may re-enumerate.
        midiManager->closeOutputDevice (deviceName);
    }
    else if (midiManager->isOutputDevicePresent (deviceName))
    {
        startStreaming();
    }
}

void FirmwareSysexSender::startStreaming()
{
    lastBlockAtMs = juce::Time::getMillisecondCounterHiRes();
    startTimer (sendTimerID, update->getBlockInterval());
}

bool FirmwareSysexSender::hasElapsedSince (double markMs, int intervalMs)
{
    // The timer counts whole milliseconds, so a tick may land up to about half a
    // millisecond short of its period.
    constexpr double granularityMs = 1.0;
    return juce::Time::getMillisecondCounterHiRes() - markMs >= intervalMs - granularityMs;
}

void FirmwareSysexSender::stopSending()
{
    stopTimer (eraseWaitTimerID);
    stopTimer (sendTimerID);
}

void FirmwareSysexSender::timerCallback (int timerID)
{
    if (timerID == eraseWaitTimerID)
        endEraseWait();
    else if (timerID == sendTimerID)
        sendTick();
}

void FirmwareSysexSender::endEraseWait()
{
    // The framework's timer thread can fire a freshly started timer early, by up
    // to the time since it last woke. The controller is still erasing then: wait
    // out the rest.
    if (! hasElapsedSince (eraseSentAtMs, eraseWaitMs))
    {
        const auto remaining = eraseWaitMs - (juce::Time::getMillisecondCounterHiRes() - eraseSentAtMs);
        startTimer (eraseWaitTimerID, juce::jmax (1, (int) std::ceil (remaining)));
        return;
    }

    listeners.call ([this] (Listener& l) { l.sysexStatusChanged (this, statusStarted); });
    midiManager->openOutputDevice (update->getDeviceName());
    startStreaming();
    stopTimer (eraseWaitTimerID);
}

void FirmwareSysexSender::sendTick()
{
    // A tick may come early: the first after the timer starts (the framework's
    // timer thread can shorten it), or one that follows a late tick. A block must
    // never follow the previous one sooner than the interval, so wait out the
    // rest, then go back to the regular period.
    const int interval = update->getBlockInterval();

    if (! hasElapsedSince (lastBlockAtMs, interval))
    {
        const auto remaining = interval - (juce::Time::getMillisecondCounterHiRes() - lastBlockAtMs);
        startTimer (sendTimerID, juce::jmax (1, (int) std::ceil (remaining)));
        return;
    }

    if (getTimerInterval (sendTimerID) != interval)
        startTimer (sendTimerID, interval);

    if (! midiManager->isOutputDevicePresent (update->getDeviceName()))
    {
        // Before the first block a missing port is waited for silently.
        if (currentBlock != 0)
            reportFinalStatus (statusDeviceOffline);

        return;
    }

    if (currentBlock < update->getNumBlocks())
    {
        if (! sendToDevice (update->getBlock ((int) currentBlock)))
        {
            // Listed, yet no open output took the block: nothing is counted. Once
            // blocks have gone out, the stream is broken and that is reported.
            if (currentBlock != 0)
                reportFinalStatus (statusDeviceOffline);

            return;
        }

        lastBlockAtMs = juce::Time::getMillisecondCounterHiRes();
        const double progress = (double) currentBlock / (double) update->getNumBlocks();
        ++currentBlock;
        reportProgress (progress);
        return;
    }

    stopTimer (sendTimerID);
    reportProgress (1.0);
    midiManager->removeListener (this);
    reportFinalStatus (statusCompleted);
}

bool FirmwareSysexSender::sendToDevice (const juce::Array<char>& bytes)
{
    const auto deviceName = update->getDeviceName();

    // The port may have been closed for the erase wait and not been listed when
    // the wait ended; the manager never reopens a port closed on request.
    if (! midiManager->isOutputDeviceOpen (deviceName))
        midiManager->openOutputDevice (deviceName);

    if (! midiManager->isOutputDeviceOpen (deviceName) || bytes.isEmpty())
        return false;

    return midiManager->sendMessage (deviceName, juce::MidiMessage (bytes.getRawDataPointer(), bytes.size(), 0.0));
}

void FirmwareSysexSender::reportProgress (double progress)
{
    listeners.call ([this, progress] (Listener& l) { l.sysexProgressChanged (this, progress); });
}

void FirmwareSysexSender::reportFinalStatus (const char* status)
{
    // A listener may destroy this sender: walk a copy, and use locals only.
    const auto targets = listeners.getListeners();
    auto* const self = this;

    for (int i = targets.size(); --i >= 0;)
        targets.getUnchecked (i)->sysexStatusChanged (self, status);
}
