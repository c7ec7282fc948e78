#include "firmware/FirmwareSysexSender.h"

#include <algorithm>
#include <cmath>

const char* const FirmwareSysexSender::statusStarted = "Started";
const char* const FirmwareSysexSender::statusCompleted = "Completed";
const char* const FirmwareSysexSender::statusDeviceOffline = "Device Offline";

FirmwareSysexSender::FirmwareSysexSender (FirmwareUpdate* u,
                                          const MidiManager::Ptr& manager,
                                          Listener* listener,
                                          int eraseWait,
                                          int reconnectTimeout)
    : update (u)
    , midiManager (manager)
    , eraseWaitMs (eraseWait)
    , reconnectTimeoutMs (reconnectTimeout)
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
    streamIdentifiers.clear();
    streamLost = false;

    const auto eraseRequest = update->getEraseRequest();

    if (eraseRequest.isEmpty())
    {
        // An emergency update waits for its port from now on, if it must.
        startStreaming();
        return;
    }

    // An image streamed into flash that was never erased is never valid: when no
    // output takes the erase request, the update ends here.
    if (! midiManager->sendMessage (deviceName, juce::MidiMessage (eraseRequest.getRawDataPointer(), eraseRequest.size(), 0.0)))
    {
        midiManager->closeOutputDevice (deviceName);
        reportFinalStatus (statusDeviceOffline);
        return;
    }

    eraseSent = true;
    eraseSentAtMs = juce::Time::getMillisecondCounterHiRes();
    startTimer (eraseWaitTimerID, eraseWaitMs);

    // Closed during the wait, while the controller erases and may re-enumerate.
    midiManager->closeOutputDevice (deviceName);
}

void FirmwareSysexSender::startStreaming()
{
    lastBlockAtMs = juce::Time::getMillisecondCounterHiRes();
    streamStartedAtMs = lastBlockAtMs;
    startTimer (sendTimerID, update->getBlockInterval());
}

bool FirmwareSysexSender::hasElapsedSince (double markMs, int intervalMs)
{
    return juce::Time::getMillisecondCounterHiRes() - markMs >= intervalMs;
}

bool FirmwareSysexSender::waitUntilElapsed (int timerID, double markMs, int intervalMs)
{
    const auto remaining = intervalMs - (juce::Time::getMillisecondCounterHiRes() - markMs);

    if (remaining <= 0.0)
        return true;

    // The timer counts whole milliseconds, so a tick often lands a fraction of a
    // millisecond short of its period. That fraction is waited out here, which
    // costs less than a millisecond of this thread; a longer shortfall goes back
    // to the timer.
    if (remaining < 1.0)
    {
        while (! hasElapsedSince (markMs, intervalMs))
            juce::Thread::yield();

        return true;
    }

    startTimer (timerID, (int) std::ceil (remaining));
    return false;
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
    if (! waitUntilElapsed (eraseWaitTimerID, eraseSentAtMs, eraseWaitMs))
        return;

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

    if (! waitUntilElapsed (sendTimerID, lastBlockAtMs, interval))
        return;

    if (getTimerInterval (sendTimerID) != interval)
        startTimer (sendTimerID, interval);

    if (currentBlock >= update->getNumBlocks())
    {
        // Every block went to an open output: the controller has the whole image,
        // even if it has already reset and its port is gone.
        stopTimer (sendTimerID);
        reportProgress (1.0);
        midiManager->removeListener (this);
        reportFinalStatus (statusCompleted);
        return;
    }

    if (hasLostStream())
    {
        reportFinalStatus (statusDeviceOffline);
        return;
    }

    sendNextBlock();
}

void FirmwareSysexSender::sendNextBlock()
{
    const auto deviceName = update->getDeviceName();

    if (! midiManager->isOutputDevicePresent (deviceName) || ! sendToDevice (update->getBlock ((int) currentBlock)))
    {
        // A listed port, the stream's one output, that refused the whole block
        // took none of it: the same block is tried again shortly, a few times.
        const int interval = update->getBlockInterval();

        if (currentBlock != 0 && refusalsOfThisBlock < refusedBlockRetries && midiManager->isOutputDevicePresent (deviceName)
            && streamIdentifiers.size() == 1 && midiManager->getOpenOutputIdentifiers (deviceName) == streamIdentifiers)
        {
            ++refusalsOfThisBlock;
            startTimer (sendTimerID, std::max (1, interval / refusedBlockRetryDivisor));
            return;
        }

        // Listed or not, nothing took the block and nothing is counted. Once blocks
        // have gone out the stream is broken; before, the port is waited for, for
        // a while.
        if (currentBlock != 0 || hasElapsedSince (streamStartedAtMs, reconnectTimeoutMs))
            reportFinalStatus (statusDeviceOffline);

        return;
    }

    refusalsOfThisBlock = 0;

    if (currentBlock == 0)
        streamIdentifiers = midiManager->getOpenOutputIdentifiers (deviceName);

    lastBlockAtMs = juce::Time::getMillisecondCounterHiRes();
    const double progress = (double) currentBlock / (double) update->getNumBlocks();
    ++currentBlock;
    reportProgress (progress);
}

bool FirmwareSysexSender::hasLostStream() const
{
    if (currentBlock == 0)
        return false;

    // A port that vanished and came back between two polls is open under a new
    // identifier, or not open at all until the manager reopens it.
    return streamLost || midiManager->getOpenOutputIdentifiers (update->getDeviceName()) != streamIdentifiers;
}

void FirmwareSysexSender::midiOutputDeviceDisconnected (juce::StringArray deviceNames)
{
    if (currentBlock != 0 && deviceNames.contains (update->getDeviceName()))
        streamLost = true;
}

bool FirmwareSysexSender::sendToDevice (const juce::Array<char>& bytes)
{
    const auto deviceName = update->getDeviceName();

    // Before the first block the port may have been closed for the erase wait and
    // not been listed when the wait ended; the manager never reopens a port closed
    // on request. After it, only the outputs that took the first block will do.
    if (currentBlock == 0 && ! midiManager->isOutputDeviceOpen (deviceName))
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
