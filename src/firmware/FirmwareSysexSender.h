#pragma once

#include "firmware/FirmwareTiming.h"
#include "firmware/FirmwareUpdate.h"
#include "midi/MidiManager.h"

#include <juce_events/juce_events.h>

/**
    Carries one FirmwareUpdate to the controller: sends its erase request, if it
    has one, waits, then sends its blocks one per timer tick through the MIDI
    manager, and reports progress and three status texts to its listeners.

    Timing alone paces the stream; the controller answers nothing. A block counts
    as sent only once an open output under the update's port name has taken it.

    Once the first block has gone out, the stream belongs to the outputs that took
    it: if one of them is lost (the manager reports the port disconnected, or it
    is no longer open under the same identifier) while blocks remain, the
    controller has lost the start of the image, and the transfer ends with
    "Device Offline" even if a port of that name is back by the next tick. Before
    the first block the port may come and go; it is waited for, but only for the
    reconnect timeout. Once every block has gone out, the transfer is complete
    whatever becomes of the port: a controller may reset at its last byte.

    Everything runs on the message thread. The update must outlive the sender.
    A listener may drop the last reference to the sender from within the
    "Completed" and "Device Offline" notifications: the sender touches none of its
    own members after delivering either.
*/
class FirmwareSysexSender final : public juce::MultiTimer
    , public juce::ReferenceCountedObject
    , public MidiManager::Listener
{
public:
    using Ptr = juce::ReferenceCountedObjectPtr<FirmwareSysexSender>;

    /** Hears a sender's reports, on the message thread. */
    class Listener
    {
    public:
        virtual ~Listener() = default;

        /** After each block is sent, with the fraction sent before it, and with
            1.0 one tick after the last block. */
        virtual void sysexProgressChanged (FirmwareSysexSender* sender, double progress) = 0;

        /** With statusStarted, statusCompleted or statusDeviceOffline. */
        virtual void sysexStatusChanged (FirmwareSysexSender* sender, juce::String status) = 0;
    };

    enum TimerIds
    {
        sendTimerID = 0,     ///< one block per tick, at the update's block interval
        eraseWaitTimerID = 1 ///< once, from the erase request to the start of the stream
    };

    /** The pause between the erase request and the first block, in milliseconds:
        the controller's (FirmwareTiming). */
    static constexpr int defaultEraseWaitMs = FirmwareTiming {}.eraseWaitMs;

    /** The erase wait has ended; the stream begins. Normal updates only. */
    static const char* const statusStarted;

    /** How long the port is waited for before the first block, in milliseconds:
        FirmwareTiming's. */
    static constexpr int defaultReconnectTimeoutMs = FirmwareTiming {}.reconnectTimeoutMs;

    /** A block the one open port refused (its buffer full, say) is tried again
        this many times, a fraction of the interval apart, before the controller
        counts as lost. Nothing of a refused block went out, so nothing repeats;
        the block after it still waits the whole interval. */
    static constexpr int refusedBlockRetries = 4;
    static constexpr int refusedBlockRetryDivisor = 8; ///< the retries' spacing: the interval over this

    /** Every block has been handed to an open output. */
    static const char* const statusCompleted;

    /** The transfer failed: no output took the erase request; the port was lost
        or refused a block after the first; or no block went out within the
        reconnect timeout. Repeated on every tick until stopped. */
    static const char* const statusDeviceOffline;

    /** Starts nothing and touches no port. The listener may be null. */
    FirmwareSysexSender (FirmwareUpdate* update,
                         const MidiManager::Ptr& midiManager,
                         Listener* listener,
                         int eraseWaitMs = defaultEraseWaitMs,
                         int reconnectTimeoutMs = defaultReconnectTimeoutMs);
    ~FirmwareSysexSender() override;

    /** Begins the transfer. Called once. Message thread. */
    void startSending();

    /** Stops both timers; nothing else. Message thread. */
    void stopSending();

    /** True once anything of this transfer went out to the controller: the erase
        request, or for the emergency form the first block. From then on its
        firmware is no longer the one it had. Message thread. */
    bool hasSentAnything() const noexcept { return eraseSent || currentBlock > 0; }

    /** The index of the next block, which is also the number of blocks sent. */
    unsigned getCurrentBlock() const noexcept { return currentBlock; }

    /** Message thread. */
    void timerCallback (int timerID) override;

    /** Marks the stream lost when the update's port is among the names and blocks
        have gone out; the next tick reports it. Message thread. */
    void midiOutputDeviceDisconnected (juce::StringArray deviceNames) override;

    // Incoming messages and the other port notifications are of no interest.
    void handleIncomingMidiMessage (juce::MidiInput*, const juce::MidiMessage&) override {}
    void midiInputDeviceDisconnected (juce::StringArray) override {}
    void midiInputDeviceReconnected (juce::StringArray) override {}
    void midiOutputDeviceReconnected (juce::StringArray) override {}

private:
    void endEraseWait();
    void sendTick();
    void sendNextBlock();

    /** True once blocks went out and an output that took them is gone. */
    bool hasLostStream() const;

    /** Sends the bytes to the update's port, opening it first when it is listed
        but not open. True only when an open output took them. */
    bool sendToDevice (const juce::Array<char>& bytes);

    void reportProgress (double progress);

    /** Starts the send timer and marks the moment the first block is paced from. */
    void startStreaming();

    /** True when at least the given time has passed since the mark, by the
        high-resolution clock. */
    static bool hasElapsedSince (double markMs, int intervalMs);

    /** True once the interval since the mark has passed, waiting out a remainder
        under a millisecond; otherwise restarts the timer for the rest and returns
        false. */
    bool waitUntilElapsed (int timerID, double markMs, int intervalMs);

    /** Delivers a status after which this sender may have been destroyed: the
        caller must return at once, touching no member. */
    void reportFinalStatus (const char* status);

    juce::ListenerList<Listener> listeners;
    FirmwareUpdate* update;
    MidiManager::Ptr midiManager;
    unsigned currentBlock = 0;
    const int eraseWaitMs;
    const int reconnectTimeoutMs;

    // The outputs that took the first block, and whether one of them was reported
    // disconnected since.
    juce::StringArray streamIdentifiers;
    bool streamLost = false;
    bool eraseSent = false;
    int refusalsOfThisBlock = 0;

    // When the erase request went out, and when the last block went out (or the
    // stream was started): the timer is trusted for pacing, but never blindly.
    double eraseSentAtMs = 0.0;
    double lastBlockAtMs = 0.0;
    double streamStartedAtMs = 0.0; // the reconnect timeout counts from here

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (FirmwareSysexSender)
};
