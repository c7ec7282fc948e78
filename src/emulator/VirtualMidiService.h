#pragma once

#include "midi/MidiService.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

/**
    An in-process MIDI system: ports that exist only in this process, for the
    tests, the demo and the controller emulator.

    A "device" is a name under which an input and an output appear and vanish
    together, as a USB device's do. The device's side sees every byte string the
    application sends to its output, exactly as sent, and can send messages back,
    which arrive at the application's open inputs of that name on the service's
    own MIDI input thread.

    Every operation is thread-safe: port lists may change while the application
    polls them.

    The service must outlive the ports opened on it.
*/
class VirtualMidiService final : public MidiService
{
public:
    /** One byte string sent by the application, as the device received it. */
    struct SentMessage
    {
        juce::MemoryBlock bytes;
        double timeMs = 0.0; ///< monotonic, juce::Time::getMillisecondCounterHiRes
    };

    /** The device's view of a send: called once per send, with exactly the bytes
        sent, on the thread that sent them, with no lock of the service held. */
    using DeviceReceiver = std::function<void (const juce::MemoryBlock&)>;

    VirtualMidiService();
    ~VirtualMidiService() override;

    /** An input and an output of this name appear. */
    void plugDevice (const juce::String& name);

    /** Every input and output of this name vanish. */
    void unplugDevice (const juce::String& name);

    /** One more input or output port of this name; a name may be listed twice. */
    void addInput (const juce::String& name);
    void addOutput (const juce::String& name);

    /** Every input, or every output, of this name vanishes. */
    void removeInput (const juce::String& name);
    void removeOutput (const juce::String& name);

    /** Sets (or clears, with an empty function) the device side of this output name. */
    void setDeviceReceiver (const juce::String& name, DeviceReceiver receiver);

    /** Gives the one output with this identifier a device side of its own, in
        place of its name's: a second device listed under the same name. An empty
        function makes it a device that takes everything and does nothing with it. */
    void setPortReceiver (const juce::String& outputIdentifier, DeviceReceiver receiver);

    /** Queues a message from the device; it is delivered to every open, started
        input of this name on the service's MIDI input thread, never on the
        caller's, in the order queued. */
    void sendFromDevice (const juce::String& name, const juce::MidiMessage& message);

    /** Blocks until every message queued so far has been delivered, or the timeout
        passes. Returns true when the queue was drained. */
    bool waitUntilDelivered (int timeoutMs = 2000);

    /** Every send to outputs of this name so far, in order. */
    std::vector<SentMessage> getSentLog (const juce::String& name) const;

    /** Forgets the sends to outputs of this name. */
    void clearSentLog (const juce::String& name);

    /** Makes opening ports of this name fail (or succeed again). */
    void setOpenFails (const juce::String& name, bool shouldFail);

    /** Decides, for each send to outputs of this name, whether the system refuses
        it: a refused send reaches neither the log nor the device, and the output
        reports failure. Called with the bytes on the sending thread, with no lock
        of the service held. An empty function refuses nothing. */
    using SendRefusal = std::function<bool (const juce::MemoryBlock&)>;
    void setSendRefusal (const juce::String& name, SendRefusal refuses);

    /** Sets which other programs write to the outputs of this name, as
        findOtherWriters() reports them; nothing: the service cannot tell, as on
        a platform whose ports another program can hold. None by default. */
    void setOtherWriters (const juce::String& name, std::optional<juce::StringArray> writers);

    /** Makes the port with this identifier a program's (rank 0) or a device's
        (rank 1, every port's to begin with): see MidiService::getPortRank(). */
    void setPortRank (const juce::String& identifier, int rank);
    int getPortRank (const juce::MidiDeviceInfo& port) const override;

    /** Makes the service one that cannot be opened, for this reason: it lists no
        port while the reason is not empty. */
    void setUnavailable (const juce::String& reason);
    juce::String getUnavailableReason() override;

    /** The identifiers of the outputs listed under this name now. */
    juce::StringArray getOutputIdentifiers (const juce::String& name) const;

    /** The one input and output with these identifiers vanish; others of the same
        name stay: one of two same-named devices is unplugged. */
    void unplugPorts (const juce::String& inputIdentifier, const juce::String& outputIdentifier);

    //==============================================================================
    juce::Array<juce::MidiDeviceInfo> getInputDevices() override;
    juce::Array<juce::MidiDeviceInfo> getOutputDevices() override;
    std::unique_ptr<Input> openInput (const juce::String& identifier, juce::MidiInputCallback& callback) override;
    std::unique_ptr<Output> openOutput (const juce::String& identifier) override;
    std::optional<juce::StringArray> findOtherWriters (const juce::String& outputIdentifier) override;

private:
    class VirtualInput;
    class VirtualOutput;

    struct Port
    {
        juce::MidiDeviceInfo info;
    };

    struct PendingMessage
    {
        juce::String name;
        juce::MidiMessage message;
    };

    void addPort (std::vector<Port>& ports, const juce::String& name, const char* kind);
    static void removePorts (std::vector<Port>& ports, const juce::String& name);
    static juce::Array<juce::MidiDeviceInfo> listPorts (const std::vector<Port>& ports);
    bool isPortListed (const std::vector<Port>& ports, const juce::String& identifier) const;

    bool sendToDevice (const juce::MidiDeviceInfo& port, const void* data, size_t numBytes);
    void registerInput (VirtualInput* input);
    void unregisterInput (VirtualInput* input);
    void deliveryLoop();

    // Guards the port lists, receivers, logs and open failures.
    mutable std::mutex portsLock;
    std::vector<Port> inputs, outputs;
    std::map<juce::String, DeviceReceiver> receivers;
    std::map<juce::String, DeviceReceiver> portReceivers; // by identifier
    std::map<juce::String, std::vector<SentMessage>> sentLogs;
    std::set<juce::String> failingOpens;
    std::map<juce::String, int> portRanks; // by identifier; the others are 1
    juce::String unavailableReason;
    std::map<juce::String, SendRefusal> sendRefusals;
    std::map<juce::String, std::optional<juce::StringArray>> otherWriters;
    int nextPortNumber = 1;

    // Held while a message is delivered and while inputs start, stop, open or
    // close: once an input's stop() has returned, its callback is not running.
    std::recursive_mutex deliveryLock;
    std::vector<VirtualInput*> openInputs;

    // The MIDI input thread's queue.
    std::mutex queueLock;
    std::condition_variable queueChanged;
    std::deque<PendingMessage> queue;
    bool delivering = false;
    bool quitting = false;
    std::thread deliveryThread;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (VirtualMidiService)
};
