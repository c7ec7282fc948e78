#pragma once

#include "firmware/FirmwareImage.h"
#include "firmware/FirmwareSysexSender.h"
#include "firmware/FirmwareTiming.h"
#include "firmware/FirmwareUpdate.h"
#include "engine/PortUpdateLock.h"
#include "engine/SleepInhibitor.h"
#include "midi/MidiManager.h"

#include <juce_events/juce_events.h>

#include <atomic>
#include <memory>
#include <optional>

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
        controllerBusy = 1,  ///< another update, in this program or another, is writing to the controller
        controllerInUse = 2, ///< other programs write to the controller (getOtherWriters()), or hold its port
        imageDamaged = 3,    ///< the firmware image no longer matches the digest the build recorded
        portClaimFailed = 4, ///< the claim on the port could not be made safely (getPortClaimFailure())
        machineMaySleep = 5, ///< nothing keeps the machine awake (getSleepFailure()); acceptSleepRisk() lets the next start go ahead
        portAmbiguous = 7    ///< two ports share the controller's name and rank: neither is trusted with the image
    };

    /** What became of a completed update once the controller was back, or was
        waited for long enough. */
    struct UpdateResult
    {
        enum Verdict
        {
            confirmed,    ///< it answered with the offered version
            otherVersion, ///< it answered with another version (seenVersion)
            silent,       ///< its port is listed, but it did not answer in time
            notBack,      ///< its port was not listed when the time was up
            disturbed     ///< it answered with the offered version, but other programs wrote to it during the stream (company)
        };

        Verdict verdict = confirmed;
        double seenVersion = 0.0;    ///< the version it answered with
        juce::String offeredVersion; ///< the version the update wrote, as shown: "1.05"
        bool emergency = false;      ///< the emergency form was written
        int waitedSeconds = 0;       ///< how long the controller had to come back
        juce::StringArray company;   ///< other programs that wrote to the controller at any time during the stream
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
        juce::String midiUnavailable;                ///< why the last pass found no port: the MIDI system cannot be used; empty: it can

        /** The listed controller has left identity requests unanswered for a
            while, with nothing updating. Set on the message thread, cleared by
            a reply on the MIDI input thread. */
        std::atomic<bool> controllerSilent { false };

        /** The last completed update's result; nothing until it is known. */
        std::optional<UpdateResult> result;
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

        /** A completed update was confirmed, or could not be. */
        virtual void updateResultChanged (const UpdateResult& result) { juce::ignoreUnused (result); }
    };

    /** The notification hub: three independent channels, each of which coalesces
        its triggers and delivers the values current in the record when it runs.

        Its own channel (the main notification) delivers progress, state and then
        every queued error once; firmwareVersionUpdater delivers the version,
        hardwareDetectedUpdater the presence flag and resultUpdater the result. Triggering is safe from any
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

        class ResultUpdater final : public juce::AsyncUpdater
        {
        public:
            explicit ResultUpdater (Updater& owner);
            ~ResultUpdater() override;

            /** The result notification. Message thread. */
            void handleAsyncUpdate() override;

        private:
            Updater& owner;
            JUCE_DECLARE_NON_COPYABLE (ResultUpdater)
        };

        juce::ListenerList<Listener> listeners;
        EngineState* const state;
        FirmwareVersionUpdater firmwareVersionUpdater;
        HardwareDetectedUpdater hardwareDetectedUpdater;
        ResultUpdater resultUpdater;

    private:
        JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Updater)
    };

    class DetectDeviceInfo;
    class UpdateConfirmation;

    /** Creates the engine on the given manager; detection starts at once. The
        timing is the controller's unless a test shortens it, and the image the
        one built in unless a test gives another. Message thread. */
    explicit ApplicationEngine (const MidiManager::Ptr& midiManager,
                                FirmwareTiming timing = {},
                                FirmwareImage image = FirmwareImage::embedded());

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
        one. Any running transfer, or the wait for the last one's result, is
        released first. Returns false, having sent nothing, when no controller
        port is known, or two ports of its name leave no one to choose, the image is damaged, another program writes to the
        controller, another update holds its port or the claim on it cannot be
        made safely (see getLastStartRefusal());
        the update holds the port until it ends. A port that has not answered
        the identity request is updated all the same: whether to ask first is
        the caller's. Once "Completed", the engine
        waits for the controller to come back with the offered version and
        reports the result, and the emergency form is no longer selected.
        Message thread. */
    bool startUpdate (bool emergency);

    /** Gives the engine the way to keep the machine awake during an update: it
        holds the inhibitor from startUpdate() until the update ends (completed,
        failed, replaced or the engine destroyed). Without one, nothing is held.
        Message thread. */
    void setSleepInhibitor (std::unique_ptr<SleepInhibitor> inhibitor);

    /** Why the last startUpdate() that returned false did so. Message thread. */
    StartRefusal getLastStartRefusal() const noexcept { return lastStartRefusal; }

    /** The programs that kept the last startUpdate() from starting, by name; empty
        when it was refused for another reason or where the platform cannot name
        them. Message thread. */
    const juce::StringArray& getOtherWriters() const noexcept { return otherWriters; }

    /** Why the claim on the port failed, when that kept the last startUpdate()
        from starting: "the lock file … belongs to another user". Message thread. */
    const juce::String& getPortClaimFailure() const noexcept { return portClaimFailure; }

    /** Why the machine could not be kept awake, when that kept the last
        startUpdate() from starting. Message thread. */
    const juce::String& getSleepFailure() const noexcept { return sleepFailure; }

    /** Lets the next startUpdate() go ahead although nothing keeps the machine
        awake: the user was told and agreed. Message thread. */
    void acceptSleepRisk() noexcept { sleepRiskAccepted = true; }

    /** The firmware an update writes, as the window offers it. Any thread. */
    const FirmwareImage& getOfferedImage() const noexcept { return image; }

    /** The pacing of its updates. Any thread. */
    const FirmwareTiming& getTiming() const noexcept { return timing; }

    /** Starts an update of the form selected with setEmergencyMode(). Message thread. */
    bool startUpdate() { return startUpdate (state.emergencyMode); }

    /** Selects the emergency form of the next update. Message thread. */
    void setEmergencyMode (bool shouldBeOn);

    /** Makes detection consider only the controller port of exactly this name;
        empty (the default): any controller port, the last one listed. Message
        thread. */
    void setPortChoice (const juce::String& portName);

    /** True while an update is erasing or sending. Message thread. */
    bool isUpdating() const;

    /** True once the running or last update sent anything to the controller:
        its erase request, or for the emergency form its first slice. Until then
        an update that ends, however it ends, has left the controller as it was.
        Message thread. */
    bool hasWrittenToController() const noexcept { return wroteToController; }

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
    bool refuseStart (StartRefusal why);
    void noteCompany();
    void noteWhatWasSent (const FirmwareSysexSender* sender);
    void awaitConfirmation();

    MidiManager::Ptr midiManager;
    const FirmwareTiming timing;
    const FirmwareImage image;
    std::unique_ptr<PortUpdateLock> portClaim; // held from startUpdate until the update ends
    juce::String portClaimFailure, sleepFailure;
    bool sleepRiskAccepted = false;                 // for the next startUpdate() only
    bool wroteToController = false;                 // hasWrittenToController()
    std::unique_ptr<SleepInhibitor> sleepInhibitor; // likewise held while an update runs
    juce::ReferenceCountedArray<FirmwareUpdate> firmwareUpdates;
    juce::ReferenceCountedArray<FirmwareSysexSender> sysexSenders;
    StartRefusal lastStartRefusal = noControllerFound;
    juce::StringArray otherWriters; // of the last refusal
    juce::StringArray company;      // writers seen beside the running stream
    EngineState state;
    Updater updater { &state };
    std::unique_ptr<DetectDeviceInfo> detectDeviceInfo;
    std::unique_ptr<UpdateConfirmation> confirmation; // from "Completed" until the result is known

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ApplicationEngine)
};
