#pragma once

#include "firmware/DevicePortNames.h"

#include <juce_core/juce_core.h>

#include <array>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

/**
    A model of the Korvan QB4 II as the updater relies on it: it answers the
    Universal Identity Request with its firmware version, takes the erase request
    and the firmware image message, checks the image, resets and comes back with
    the version the image stands for. Fault knobs make it misbehave the ways a
    real controller or a real USB cable can.

    The emulator knows nothing of any MIDI back end. An adapter feeds it the byte
    strings the application sends to the controller's output port (receive), hands
    its answers to the application (the output callback) and makes its ports
    appear and vanish (the presence callback). It spells out the controller's
    side of every message itself, so that a mistake in the application's message
    constants shows up against it instead of being mirrored.

    Threads: receive() and every getter may be called on any thread. Timed events
    (delayed replies, resets, returns after an unplug) run on the scheduler's
    thread: the message thread with the default scheduler. The output and presence
    callbacks are called on the thread that caused them (the caller of receive(),
    of a power method, or the scheduler's thread), with the emulator's lock held:
    they may call the emulator back on the same thread, but must not wait for
    another thread that is calling the emulator.

    Destroy the emulator on the scheduler's thread (the message thread by
    default), once no other thread is calling it.
*/
class ControllerEmulator final
{
public:
    /** Firmware version bytes as they stand in the identity reply: 01 00 05 is 1.05. */
    using Version = std::array<juce::uint8, 3>;

    enum class State
    {
        normal,     ///< firmware running: answers identity requests, takes the erase request
        receiving,  ///< firmware erased: waits for the firmware image message
        noFirmware, ///< no valid firmware: answers nothing and takes nothing
        bootloader  ///< powered up with the buttons held: answers nothing, takes an image without an erase request
    };

    enum class ImageCheck
    {
        exactMatch,        ///< the image must equal the expected image byte for byte
        headerAndChecksums ///< the image needs the right header, valid Intel HEX records and F7
    };

    /** Ways to misbehave. Each is off by default. */
    struct Faults
    {
        bool neverAnswer = false;                ///< identity requests are seen but not answered
        int replyLength = 37;                    ///< other lengths cut the reply short or pad it (F7 stays last)
        int corruptPrefixOffset = -1;            ///< 0 to 10: this byte of the reply prefix is replaced...
        juce::uint8 corruptPrefixValue = 0x7f;   ///< ...by this value
        int replyDelayMs = 0;                    ///< replies go out this long after their request
        int unplugAfterBursts = 0;               ///< when positive: the ports vanish once this many bursts of an image arrived
        int unplugAfterBurstsForMs = 1500;       ///< ...and come back (without firmware) after this long; negative: never
        int unplugDuringEraseWaitMs = 0;         ///< when positive: the ports vanish at the erase request for this long
        bool comeBackUnderAlternateName = false; ///< after vanishing, the ports return under the alternate name
        bool mixUnrelatedMidi = false;           ///< clock and note messages go out with every burst of an image
    };

    struct Config
    {
        juce::String portName { getAcceptedDevicePortNames()[0] };          // this platform's name for the controller
        juce::String alternatePortName { getAcceptedDevicePortNames()[1] }; // and for its USB audio device mode
        Version version { { 1, 0, 0 } };
        Version versionAfterUpdate { { 1, 0, 5 } };
        ImageCheck imageCheck = ImageCheck::exactMatch;

        /** The image exactMatch expects; when empty, the firmware image message the
            application embeds. */
        std::optional<juce::MemoryBlock> expectedImage;

        /** From a verified image to the ports vanishing: the time the controller
            takes to program itself. The application's sender reports completion
            one block interval after the last block, so this should exceed it. */
        int resetDelayMs = 600;

        /** How long the ports stay away during a reset. */
        int resetDurationMs = 1500;

        Faults faults;
    };

    /** One receive() call's worth of an image: when it arrived and how many bytes of
        the image it carried (real-time bytes mixed in are not counted). */
    struct Burst
    {
        double timeMs = 0.0;
        size_t size = 0;
    };

    struct Counts
    {
        int identityRequests = 0; ///< seen, whether answered or not
        int identityReplies = 0;  ///< sent
        int eraseRequests = 0;
        int imagesAccepted = 0;
        int imagesRejected = 0; ///< invalid, or cut off before their F7
    };

    /** Runs the emulator's timed events. */
    class Scheduler
    {
    public:
        virtual ~Scheduler() = default;

        /** A monotonic clock in milliseconds. Any thread. */
        virtual double getTimeMs() = 0;

        /** Runs the task once, about delayMs from now, on the scheduler's thread;
            tasks due at the same time run in the order scheduled. Any thread. */
        virtual void schedule (int delayMs, std::function<void()> task) = 0;

        /** Drops every task not yet run. Call it on the scheduler's thread. */
        virtual void cancelAll() = 0;
    };

    /** Called with each message the controller sends, one complete message per call.
        May be called on any thread (see the class comment), with the lock held. */
    using Output = std::function<void (const juce::MemoryBlock& message)>;

    /** Called when the controller's input and output ports appear or vanish together,
        with the name they are listed under. May be called on any thread (see the
        class comment), with the lock held. */
    using Presence = std::function<void (bool present, const juce::String& portName)>;

    /** The emulator starts powered off: call powerUp() once its callbacks are set.
        Without a scheduler, timed events run on the message thread. */
    explicit ControllerEmulator (Config config, std::unique_ptr<Scheduler> scheduler = nullptr);

    /** An emulator with the default configuration. */
    ControllerEmulator();
    ~ControllerEmulator();

    /** Set or clear (with an empty function) the callbacks. Any thread: once a setter
        returns, the old callback is not running and will not be called again. */
    void setOutput (Output output);
    void setPresence (Presence presence);

    //==============================================================================
    /** Bytes sent to the controller's input, as they arrive: whole messages, slices
        of one System Exclusive message or several messages at once, in order.
        Ignored while the ports are away. Any thread. */
    void receive (const void* data, size_t size);

    /** Plugs the controller in: its ports appear; it runs its firmware, if it has any.
        Any thread. */
    void powerUp();

    /** Plugs the controller in with its buttons held: it starts in its bootloader.
        Unplugs it first if it is plugged in. Any thread. */
    void powerUpInBootloader();

    /** Unplugs the controller: its ports vanish, an image being received is lost and
        with it the erased firmware. Any thread. */
    void powerDown();

    /** Changes the fault knobs; they apply from the next byte received. Any thread. */
    void setFaults (const Faults& faults);

    //==============================================================================
    // What the controller is doing and has done. Any thread.
    State getState() const;
    bool isPresent() const;
    juce::String getPortName() const;
    Version getVersion() const;
    Counts getCounts() const;

    /** The last image received, complete or not, as it arrived. */
    juce::MemoryBlock getLastImage() const;

    /** Every burst of every image so far, in order of arrival. */
    std::vector<Burst> getBursts() const;

    /** What the controller did, one short line per event: "identity answered",
        "erase", "burst 12", "image verified", "reset", "ports back as ...". */
    juce::StringArray getPhaseLog() const;

    /** Forgets the bursts and the phase log kept so far, for a long run that reads
        neither. Any thread. */
    void clearRecords();

    /** The reply this controller gives to an identity request in its normal state,
        fault knobs aside. */
    static juce::MemoryBlock buildIdentityReply (const Version& version);

    /** Checks a firmware image message's header, its Intel HEX records and its
        final F7. Returns an empty string when it is valid, otherwise what is wrong. */
    static juce::String checkImageContainer (const void* data, size_t size);

    static const char* getStateName (State state);

private:
    enum class SysexKind
    {
        identityRequest,
        eraseRequest,
        other
    };

    void receiveByte (juce::uint8 byte);
    void endSysex (bool complete);
    void flushBurst();
    bool isTakingImage() const noexcept;

    void handleIdentityRequest();
    void handleEraseRequest();
    void handleImage (const juce::MemoryBlock& image);
    void loseImage (const juce::String& why);

    juce::String verifyImage (const juce::MemoryBlock& image) const;
    juce::MemoryBlock makeReply() const;

    void send (const juce::MemoryBlock& message);
    void sendUnrelatedMidi();
    /** The ports appear: returning is true when the controller comes back on its own
        after vanishing (a reset, a fault), false when it is plugged in by hand. */
    void appear (State newState, bool returning);
    void vanish();
    void after (int delayMs, std::function<void()> task);
    void log (const juce::String& line);

    static SysexKind classify (const juce::MemoryBlock& message);

    Config config;
    std::unique_ptr<Scheduler> scheduler;
    juce::MemoryBlock expectedImage;

    // Everything below is guarded by the lock, which is held while the callbacks run.
    mutable std::recursive_mutex lock;
    Output output;
    Presence presence;

    State state = State::normal;
    bool present = false;
    bool hasFirmware = true;
    bool resetPending = false;
    juce::uint32 epoch = 0; // bumped at every appearance and disappearance: older timed events lapse
    juce::String portName;
    Version version;

    bool sysexOpen = false;
    std::vector<juce::uint8> sysex;
    size_t bytesThisCall = 0;
    size_t firstBurstOfSysex = 0;
    int burstsOfSysex = 0;
    bool nextUnrelatedIsNoteOn = true;

    Counts counts;
    juce::MemoryBlock lastImage;
    std::vector<Burst> bursts;
    juce::StringArray phaseLog;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ControllerEmulator)
};
