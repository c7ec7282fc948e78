#pragma once

#include "engine/ApplicationEngine.h"

/**
    Finds the controller among the system's MIDI output ports every 100 ms, has the
    manager open its input and output, asks it for its firmware version with the
    Universal Identity Request, and reads the version from its reply.

    It stops polling once a valid reply has been read, is paused by the engine
    during a transfer, and re-arms itself when the controller's output port goes
    away outside an erasing update. While an update is erasing or sending it only
    scans: it opens nothing and asks nothing until the update has ended.

    It writes into the engine's record and announces what it finds through the
    engine's hardware and version channels.
*/
class ApplicationEngine::DetectDeviceInfo final : public juce::Timer
    , public MidiManager::Listener
{
public:
    /** The period of a detection pass. */
    static constexpr int detectionInterval = 100;

    /** Registers with the manager and starts polling: the first pass runs one
        interval from now. The updater and the state belong to the engine and
        must outlive this object. A listed controller that leaves requests
        unanswered for unansweredHintMs is marked silent in the record.
        Message thread. */
    DetectDeviceInfo (const MidiManager::Ptr& midiManager, Updater* updater, EngineState* state,
                      int unansweredHintMs = FirmwareTiming().unansweredHintMs);

    /** Leaves the manager's listeners; the timer stops. Message thread. */
    ~DetectDeviceInfo() override;

    /** One detection pass. Message thread. */
    void timerCallback() override;

    /** Forgets the version and the controller, leaves emergency mode and polls
        again, announcing the version and the missing hardware. Message thread. */
    void restartDetection();

    /** Polls again, keeping what is known, if it is not polling. Message thread. */
    void resumePolling();

    /** Only this controller port counts from the next pass on; empty: any.
        Message thread. */
    void setPortChoice (const juce::String& portName) { portChoice = portName; }

    /** How many identity requests have been sent so far. Message thread. */
    int getRequestsSent() const noexcept { return requestsSent.load(); }

    /** True once a valid reply has been read that arrived after more than this
        many requests had been sent. Any thread. */
    bool hasAnsweredSince (int requests) const noexcept { return requestsAnswered.load() > requests; }

    /** Recognises the controller's identity reply, from any open input. Called on
        the MIDI input thread: it only stores the version, stops the timer and
        triggers the version channel. */
    void handleIncomingMidiMessage (juce::MidiInput* source, const juce::MidiMessage& message) override;

    void midiInputDeviceDisconnected (juce::StringArray) override {}

    /** Re-arms detection when a controller port was lost, except while an update
        is erasing. Message thread. */
    void midiOutputDeviceDisconnected (juce::StringArray deviceNames) override;

private:
    void scanForDevice();
    void sendIdentityRequest();
    void forgetSilence();

    MidiManager::Ptr midiManager;
    Updater* const updater;
    EngineState* const state;
    const int unansweredHintMs;
    juce::String portChoice;

    std::atomic<int> requestsSent { 0 };
    std::atomic<int> requestsAnswered { 0 }; // requestsSent when the last valid reply was read
    double firstUnansweredAtMs = 0.0;        // the first request since the last answer or change; 0: none

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (DetectDeviceInfo)
};
