#pragma once

#include "firmware/FirmwareUpdate.h"
#include "midi/MidiManager.h"

#include <juce_events/juce_events.h>

/**
    Carries one FirmwareUpdate to the controller: sends its erase request, if it
    has one, waits, then sends its blocks one per timer tick through the MIDI
    manager, and reports progress and three status texts to its listeners.

    Timing alone paces the stream; the controller answers nothing. A block counts
    as sent only once an open output under the update's port name has taken it.

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
        sendTimerID = 0,      ///< one block per tick, at the update's block interval
        eraseWaitTimerID = 1  ///< once, from the erase request to the start of the stream
    };

    /** The pause between the erase request and the first block, in milliseconds. */
    static constexpr int defaultEraseWaitMs = 5000;

    /** The erase wait has ended; the stream begins. Normal updates only. */
    static const char* const statusStarted;

    /** Every block has been sent. */
    static const char* const statusCompleted;

    /** The update's port is no longer listed by the system after at least one
        block, or it refused a block. Repeated on every tick until stopped. */
    static const char* const statusDeviceOffline;

    /** Starts nothing and touches no port. The listener may be null. */
    FirmwareSysexSender (FirmwareUpdate* update,
                         const MidiManager::Ptr& midiManager,
                         Listener* listener,
                         int eraseWaitMs = defaultEraseWaitMs);
    ~FirmwareSysexSender() override;

    /** Begins the transfer. Called once. Message thread. */
    void startSending();

    /** Stops both timers; nothing else. Message thread. */
    void stopSending();

    /** The index of the next block, which is also the number of blocks sent. */
    unsigned getCurrentBlock() const noexcept { return currentBlock; }

    /** Message thread. */
    void timerCallback (int timerID) override;

    // Incoming messages and port notifications are of no interest while sending.
    void handleIncomingMidiMessage (juce::MidiInput*, const juce::MidiMessage&) override {}
    void midiInputDeviceDisconnected (juce::StringArray) override {}
    void midiOutputDeviceDisconnected (juce::StringArray) override {}
    void midiInputDeviceReconnected (juce::StringArray) override {}
    void midiOutputDeviceReconnected (juce::StringArray) override {}

private:
    void endEraseWait();
    void sendTick();

    /** Sends the bytes to the update's port, opening it first when it is listed
        but not open. True only when an open output took them. */
    bool sendToDevice (const juce::Array<char>& bytes);

    void reportProgress (double progress);

    /** Starts the send timer and marks the moment the first block is paced from. */
    void startStreaming();

    /** True when at least the given time has passed since the mark, within the
        timer's millisecond granularity. */
    static bool hasElapsedSince (double markMs, int intervalMs);

    /** Delivers a status after which this sender may have been destroyed: the
        caller must return at once, touching no member. */
    void reportFinalStatus (const char* status);

    juce::ListenerList<Listener> listeners;
    FirmwareUpdate* update;
    MidiManager::Ptr midiManager;
    unsigned currentBlock = 0;
    const int eraseWaitMs;

    // When the erase request went out, and when the last block went out (or the
    // stream was started): the timer is trusted for pacing, but never blindly.
    double eraseSentAtMs = 0.0;
    double lastBlockAtMs = 0.0;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (FirmwareSysexSender)
};
