#pragma once

#include "firmware/FirmwareSysexSender.h"
#include "firmware/FirmwareTiming.h"
#include "firmware/FirmwareUpdate.h"
#include "engine/PortUpdateLock.h"
#include "engine/SleepInhibitor.h"
#include "midi/MidiManager.h"

#include <juce_events/juce_events.h>

#include <atomic>
#include <memory>

/**
    The non-visual core of the updater: detects the controller, reads its firmware
    version, drives updates, and keeps the one record of everything the user
    interface shows, which it republishes through asynchronous notifications that
    are always delivered on the message thread.
*/
class ApplicationEngine final : public juce::ReferenceCountedObject
    , public FirmwareSysexSender::Listener
{
public:
    using Ptr = juce::ReferenceCountedObjectPtr<ApplicationEngine>;

    /** Where an update stands. Stored and handed to listeners as a plain int. */
    enum UpdateState
    {
        idle = 0,
        erasing = 1,
        sending = 2,
        complete = 3
    };

    /** The only error code: the controller went offline during a transfer. */
    static constexpr int deviceOfflineError = 0;

    /** Why startUpdate() last returned false. */
    enum StartRefusal
    {
        noControllerFound = 0,
        controllerBusy = 1 ///< another update, in this program or another, is writing to the controller
    };

    /** How long startUpdate() waits for another updater's claim on the port to go:
        long enough to ride out a detection pass probing it. */
    static constexpr int portClaimWaitMs = 250;

    /** The engine's one record of what the user interface shows.

        Everything is read and written on the message thread, except
        firmwareVersion, which the identity-reply handler writes on the MIDI input
        thread; it is atomic for that reason. */
    struct EngineState
    {
        double progress = 0.0;                       ///< transfer progress, 0 to 1
        int updateState = idle;                      ///< an UpdateState value
        juce::Array<int> pendingErrors;              ///< error codes not yet delivered
        std::atomic<double> firmwareVersion { 0.0 }; ///< 0.0: none read
        juce::String deviceName;                     ///< the controller's port found by the last pass; empty: none
        bool emergencyMode = false;                  ///< the emergency form of the update is selected
        bool hardwareDetected = false;               ///< a controller port was found by the last pass
    };

    /** The user interface's view of the engine. Every callback is called on the
        message thread only. */
    class Listener
    {
    public:
        virtual ~Listener() = default;

        virtual void updateStateChanged (int state) = 0;
        virtual void updateProgressChanged (double progress) = 0;
        virtual void updateErrorOccurred (int errorCode) = 0;
        virtual void firmwareVersionChanged (double version) = 0;
        virtual void hardwareDetectedChanged (bool detected) = 0;
    };

    /** The notification hub: three independent channels, each of which coalesces
        its triggers and delivers the values current in the record when it runs.

        Its own channel (the main notification) delivers progress, state and then
        every queued error once; firmwareVersionUpdater delivers the version and
        hardwareDetectedUpdater the presence flag. Triggering is safe from any
        thread; delivery is on the message thread, to every listener from the most
        recently added to the first. Destroying the hub cancels whatever is pending. */
    class Updater final : public juce::AsyncUpdater
    {
    public:
        explicit Updater (EngineState* state);
        ~Updater() override;

        /** Message thread. Null and duplicates are ignored. */
        void addListener (Listener* listener);

        /** Message thread. The listener is not called again once this returns. */
        void removeListener (Listener* listener);

        /** The main notification. Message thread. */
        void handleAsyncUpdate() override;

        class FirmwareVersionUpdater final : public juce::AsyncUpdater
        {
        public:
            explicit FirmwareVersionUpdater (Updater& owner);
            ~FirmwareVersionUpdater() override;

            /** The version notification. Message thread. */
            void handleAsyncUpdate() override;

        private:
            Updater& owner;
            JUCE_DECLARE_NON_COPYABLE (FirmwareVersionUpdater)
        };

        class HardwareDetectedUpdater final : public juce::AsyncUpdater
        {
        public:
            explicit HardwareDetectedUpdater (Updater& owner);
            ~HardwareDetectedUpdater() override;

            /** The hardware notification. Message thread. */
            void handleAsyncUpdate() override;

        private:
            Updater& owner;
            JUCE_DECLARE_NON_COPYABLE (HardwareDetectedUpdater)
        };

        juce::ListenerList<Listener> listeners;
        EngineState* const state;
        FirmwareVersionUpdater firmwareVersionUpdater;
        HardwareDetectedUpdater hardwareDetectedUpdater;

    private:
        JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Updater)
    };

    class DetectDeviceInfo;

    /** Creates the engine on the given manager; detection starts at once. The
        timing is the controller's unless a test shortens it. Message thread. */
    explicit ApplicationEngine (const MidiManager::Ptr& midiManager, FirmwareTiming timing = {});

    /** Releases any transfer; no listener is called. Message thread. */
    ~ApplicationEngine() override;

    /** Registers a listener (null and duplicates are ignored) and triggers the
        main notification, so that it hears progress and state on the next turn
        of the message loop. Message thread. */
    void addListener (Listener* listener);

    /** Unregisters a listener: no notification reaches it once this returns.
        Message thread. */
    void removeListener (Listener* listener);

    /** Builds the firmware update and its sender and starts the transfer:
        erase request, erase wait, then the image, or, for the emergency form, the
        image alone. The form is the one given, which also becomes the selected
        one. Any running transfer is released first. Returns false when no
        controller port is known or another update holds the port (see
        getLastStartRefusal()); the update holds it until it ends. Message thread. */
    bool startUpdate (bool emergency);

    /** Gives the engine the way to keep the machine awake during an update: it
        holds the inhibitor from startUpdate() until the update ends (completed,
        failed, replaced or the engine destroyed). Without one, nothing is held.
        Message thread. */
    void setSleepInhibitor (std::unique_ptr<SleepInhibitor> inhibitor);

    /** Why the last startUpdate() that returned false did so. Message thread. */
    StartRefusal getLastStartRefusal() const noexcept { return lastStartRefusal; }

    /** Starts an update of the form selected with setEmergencyMode(). Message thread. */
    bool startUpdate() { return startUpdate (state.emergencyMode); }

    /** Selects the emergency form of the next update. Message thread. */
    void setEmergencyMode (bool shouldBeOn);

    /** True while an update is erasing or sending. Message thread. */
    bool isUpdating() const;

    /** The record the listeners are told about. Message thread. */
    const EngineState& getState() const noexcept { return state; }

    /** From the sender. Message thread. */
    void sysexProgressChanged (FirmwareSysexSender* sender, double progress) override;

    /** From the sender; may release it. Message thread. */
    void sysexStatusChanged (FirmwareSysexSender* sender, juce::String status) override;

private:
    void createFirmwareUpdates (const juce::String& deviceName);
    void createSysexSenders();
    void cancelUpdate();
    void releaseClaims();

    MidiManager::Ptr midiManager;
    const FirmwareTiming timing;
    std::unique_ptr<PortUpdateLock> portClaim;      // held from startUpdate until the update ends
    std::unique_ptr<SleepInhibitor> sleepInhibitor; // likewise held while an update runs
    juce::ReferenceCountedArray<FirmwareUpdate> firmwareUpdates;
    juce::ReferenceCountedArray<FirmwareSysexSender> sysexSenders;
    StartRefusal lastStartRefusal = noControllerFound;
    EngineState state;
    Updater updater { &state };
    std::unique_ptr<DetectDeviceInfo> detectDeviceInfo;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ApplicationEngine)
};
