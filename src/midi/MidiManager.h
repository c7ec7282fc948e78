#pragma once

#include "midi/MidiService.h"

#include <juce_audio_devices/juce_audio_devices.h>
#include <juce_events/juce_events.h>

#include <memory>
#include <optional>
#include <vector>

/**
    The system's only access to MIDI ports.

    Opens the input and output ports its users name, keeps them open, forwards
    every message arriving on an open input to its listeners, sends on open
    outputs, and polls the system's port lists every 50 ms: an open port that
    vanishes is closed and reported, and a vanished port whose name comes back is
    reopened and reported. Names are always compared whole and case-sensitively.

    All operations but the incoming-message path are called on the message thread.
*/
class MidiManager final : public juce::MidiInputCallback
    , public juce::ReferenceCountedObject
    , private juce::Timer
{
public:
    using Ptr = juce::ReferenceCountedObjectPtr<MidiManager>;

    /** What the manager's users hear from it. The manager does not own its
        listeners: each one removes itself before it is destroyed. */
    class Listener
    {
    public:
        virtual ~Listener() = default;

        /** A complete message arrived on an open input. Called on the MIDI input
            thread, directly, while the manager's input cannot be stopped: it must
            not call any manager operation that sends, opens or closes. */
        virtual void handleIncomingMidiMessage (juce::MidiInput* source, const juce::MidiMessage& message) = 0;

        /** Open inputs with these names vanished and were closed. Message thread. */
        virtual void midiInputDeviceDisconnected (juce::StringArray deviceNames) = 0;

        /** Open outputs with these names vanished and were closed. Message thread. */
        virtual void midiOutputDeviceDisconnected (juce::StringArray deviceNames) = 0;

        /** Lost inputs with these names were listed again and reopening was tried.
            Message thread. */
        virtual void midiInputDeviceReconnected (juce::StringArray deviceNames) { juce::ignoreUnused (deviceNames); }

        /** Lost outputs with these names were listed again and reopening was tried.
            Message thread. */
        virtual void midiOutputDeviceReconnected (juce::StringArray deviceNames) { juce::ignoreUnused (deviceNames); }
    };

    /** The period of the device poll. */
    static constexpr int pollIntervalMs = 50;

    /** A manager on the platform's MIDI service. */
    MidiManager();

    /** A manager on the given service, which it shares. */
    explicit MidiManager (std::shared_ptr<MidiService> service);

    ~MidiManager() override;

    /** Opens the one input listed under exactly this name, unless one is open
        already. Of several, the one of the highest MidiService::getPortRank()
        (a device's before a program's); none when two share it (see
        isPortAmbiguous()). */
    void openInputDevice (const juce::String& name);

    /** Opens the one output listed under exactly this name, chosen as
        openInputDevice() chooses, unless one is open already. */
    void openOutputDevice (const juce::String& name);

    /** True when ports listed under exactly this name leave no one to choose: two
        of them share the highest rank, among the inputs or the outputs. */
    bool isPortAmbiguous (const juce::String& name) const;

    /** Why the system's MIDI service cannot be used now; empty while it can
        (see MidiService::getUnavailableReason()). Message thread. */
    juce::String getUnavailableReason() const { return service->getUnavailableReason(); }

    /** Closes every open output with this name. It is not reopened by the poll. */
    void closeOutputDevice (const juce::String& name);

    /** Sends the message's bytes unchanged, at once, on the open output with this
        name. Returns true when at least one output took them and none refused
        them; false when no such output is open or a send failed. */
    bool sendMessage (const juce::String& outputName, const juce::MidiMessage& message);

    /** Sends the message on every open output, in the order they were opened.
        Returns true when at least one output took it and none refused it. */
    bool sendMessageToAllOutputs (const juce::MidiMessage& message);

    bool isInputDeviceOpen (const juce::String& name) const;
    bool isOutputDeviceOpen (const juce::String& name) const;

    /** The identifiers of the open outputs with this name, in the order they were
        opened; empty when none is open. A port that vanished and came back is
        reopened under the identifier the system gives it then. */
    juce::StringArray getOpenOutputIdentifiers (const juce::String& name) const;

    /** True when the system lists an input of this name now. */
    bool isInputDevicePresent (const juce::String& name) const;

    /** True when the system lists an output of this name now, whether or not the
        manager has it open. */
    bool isOutputDevicePresent (const juce::String& name) const;

    /** The names of the system's output ports, freshly listed, in the system's order. */
    juce::StringArray getOutputDeviceNames() const;

    /** The other programs connected to write to the outputs listed under exactly
        this name (see MidiService::findOtherWriters), each named once; empty when
        there are none or no such output is listed. Nothing where the platform
        cannot tell. Message thread. */
    std::optional<juce::StringArray> findOtherWriters (const juce::String& name) const;

    /** One device poll, as the manager's timer runs it every pollIntervalMs:
        closes and reports open ports that vanished, reopens and reports lost
        ports that came back. Message thread. */
    void pollDevices();

    /** Adds a listener; null and listeners already registered are ignored.
        Any thread. */
    void addListener (Listener* listener);

    /** True while the listener is registered. */
    bool hasListener (Listener* listener) const;

    /** Removes a listener. When this returns the listener is not being called and
        will not be called again, on any thread. Any thread, but not from within
        another listener's incoming-message callback on the MIDI thread. */
    void removeListener (Listener* listener);

    /** From the MIDI service: forwards the message to every listener. MIDI input
        thread. */
    void handleIncomingMidiMessage (juce::MidiInput* source, const juce::MidiMessage& message) override;

private:
    /** The port to open under the name, as openInputDevice() chooses it. */
    std::optional<juce::MidiDeviceInfo> choosePort (const juce::Array<juce::MidiDeviceInfo>& listed, const juce::String& name) const;

    using ListenerArray = juce::Array<Listener*, juce::CriticalSection>;
    using Listeners = juce::ListenerList<Listener, ListenerArray>;

    /** Collects port names on the poll and delivers them to the listeners on the
        next turn of the message loop. */
    class DeviceUpdater : public juce::AsyncUpdater
    {
    public:
        using Callback = void (Listener::*) (juce::StringArray);

        DeviceUpdater (Listeners& listeners, Callback callback);
        ~DeviceUpdater() override;

        /** Message thread. */
        void add (const juce::String& name);
        void handleAsyncUpdate() override;

    private:
        juce::StringArray deviceNames;
        Listeners& listeners;
        Callback callback;

        JUCE_DECLARE_NON_COPYABLE (DeviceUpdater)
    };

    class MidiInputDeviceDisconnectUpdater final : public DeviceUpdater
    {
    public:
        explicit MidiInputDeviceDisconnectUpdater (Listeners& l)
            : DeviceUpdater (l, &Listener::midiInputDeviceDisconnected)
        {
        }
    };

    class MidiOutputDeviceDisconnectUpdater final : public DeviceUpdater
    {
    public:
        explicit MidiOutputDeviceDisconnectUpdater (Listeners& l)
            : DeviceUpdater (l, &Listener::midiOutputDeviceDisconnected)
        {
        }
    };

    class MidiInputDeviceReconnectUpdater final : public DeviceUpdater
    {
    public:
        explicit MidiInputDeviceReconnectUpdater (Listeners& l)
            : DeviceUpdater (l, &Listener::midiInputDeviceReconnected)
        {
        }
    };

    class MidiOutputDeviceReconnectUpdater final : public DeviceUpdater
    {
    public:
        explicit MidiOutputDeviceReconnectUpdater (Listeners& l)
            : DeviceUpdater (l, &Listener::midiOutputDeviceReconnected)
        {
        }
    };

    struct OutputDevice
    {
        juce::String name;
        std::unique_ptr<MidiService::Output> device;
    };

    void timerCallback() override;

    void addInputDevice (std::unique_ptr<MidiService::Input> input);
    void addOutputDevice (const juce::String& name, std::unique_ptr<MidiService::Output> output);
    void removeInputDevice (const juce::String& name);
    bool sendTo (OutputDevice& output, const juce::MidiMessage& message);

    static bool listContains (const juce::Array<juce::MidiDeviceInfo>& devices, const juce::String& name);

    std::shared_ptr<MidiService> service;
    Listeners listeners;

    std::unique_ptr<MidiInputDeviceDisconnectUpdater> inputDisconnectUpdater;
    std::unique_ptr<MidiOutputDeviceDisconnectUpdater> outputDisconnectUpdater;
    std::unique_ptr<MidiInputDeviceReconnectUpdater> inputReconnectUpdater;
    std::unique_ptr<MidiOutputDeviceReconnectUpdater> outputReconnectUpdater;

    juce::StringArray disconnectedInputNames;
    juce::StringArray disconnectedOutputNames;

    std::vector<std::unique_ptr<MidiService::Input>> inputDevices;
    std::vector<OutputDevice> outputDevices;

    juce::CriticalSection lock;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MidiManager)
};
