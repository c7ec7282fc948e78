#include "emulator/VirtualMidiService.h"

//==============================================================================
class VirtualMidiService::VirtualInput final : public MidiService::Input
{
public:
    VirtualInput (VirtualMidiService& s, juce::MidiDeviceInfo i, juce::MidiInputCallback& cb)
        : service (s)
        , info (std::move (i))
        , callback (cb)
    {
        service.registerInput (this);
    }

    ~VirtualInput() override
    {
        service.unregisterInput (this);
    }

    void start() override
    {
        const std::lock_guard<std::recursive_mutex> sl (service.deliveryLock);
        started = true;
    }

    void stop() override
    {
        const std::lock_guard<std::recursive_mutex> sl (service.deliveryLock);
        started = false;
    }

    juce::MidiDeviceInfo getDeviceInfo() const override { return info; }

    // Called with the service's delivery lock held.
    bool isStarted() const noexcept { return started; }
    void deliver (const juce::MidiMessage& m) { callback.handleIncomingMidiMessage (nullptr, m); }

private:
    VirtualMidiService& service;
    const juce::MidiDeviceInfo info;
    juce::MidiInputCallback& callback;
    bool started = false;
};

class VirtualMidiService::VirtualOutput final : public MidiService::Output
{
public:
    VirtualOutput (VirtualMidiService& s, juce::MidiDeviceInfo i)
        : service (s)
        , info (std::move (i))
    {
    }

    bool sendBytes (const void* data, size_t numBytes) override
    {
        return service.sendToDevice (info, data, numBytes);
    }

    juce::MidiDeviceInfo getDeviceInfo() const override { return info; }

private:
    VirtualMidiService& service;
    const juce::MidiDeviceInfo info;
};

//==============================================================================
VirtualMidiService::VirtualMidiService()
    : deliveryThread ([this] { deliveryLoop(); })
{
}

VirtualMidiService::~VirtualMidiService()
{
    {
        const std::lock_guard<std::mutex> sl (queueLock);
        quitting = true;
    }

    queueChanged.notify_all();
    deliveryThread.join();

    // Every port opened on this service must have been closed by now.
    jassert (openInputs.empty());
}

void VirtualMidiService::addPort (std::vector<Port>& ports, const juce::String& name, const char* kind)
{
    const std::lock_guard<std::mutex> sl (portsLock);
    ports.push_back ({ juce::MidiDeviceInfo (name, juce::String ("virtual-") + kind + "-" + juce::String (nextPortNumber++)) });
}

void VirtualMidiService::removePorts (std::vector<Port>& ports, const juce::String& name)
{
    ports.erase (std::remove_if (ports.begin(), ports.end(), [&] (const Port& p) { return p.info.name == name; }),
                 ports.end());
}

void VirtualMidiService::plugDevice (const juce::String& name)
{
    addInput (name);
    addOutput (name);
}

void VirtualMidiService::unplugDevice (const juce::String& name)
{
    const std::lock_guard<std::mutex> sl (portsLock);
    removePorts (inputs, name);
    removePorts (outputs, name);
}

void VirtualMidiService::setPortRank (const juce::String& identifier, int rank)
{
    const std::lock_guard<std::mutex> sl (portsLock);
    portRanks[identifier] = rank;
}

int VirtualMidiService::getPortRank (const juce::MidiDeviceInfo& port) const
{
    const std::lock_guard<std::mutex> sl (portsLock);
    const auto rank = portRanks.find (port.identifier);
    return rank != portRanks.end() ? rank->second : 1;
}

void VirtualMidiService::addInput (const juce::String& name) { addPort (inputs, name, "in"); }
void VirtualMidiService::addOutput (const juce::String& name) { addPort (outputs, name, "out"); }

void VirtualMidiService::unplugPorts (const juce::String& inputIdentifier, const juce::String& outputIdentifier)
{
    const std::lock_guard<std::mutex> sl (portsLock);

    const auto removeById = [] (std::vector<Port>& ports, const juce::String& identifier) {
        ports.erase (std::remove_if (ports.begin(), ports.end(), [&] (const Port& p) { return p.info.identifier == identifier; }),
                     ports.end());
    };

    removeById (inputs, inputIdentifier);
    removeById (outputs, outputIdentifier);
}

juce::StringArray VirtualMidiService::getOutputIdentifiers (const juce::String& name) const
{
    const std::lock_guard<std::mutex> sl (portsLock);

    juce::StringArray identifiers;
    for (const auto& p : outputs)
        if (p.info.name == name)
            identifiers.add (p.info.identifier);

    return identifiers;
}

void VirtualMidiService::removeInput (const juce::String& name)
{
    const std::lock_guard<std::mutex> sl (portsLock);
    removePorts (inputs, name);
}

void VirtualMidiService::removeOutput (const juce::String& name)
{
    const std::lock_guard<std::mutex> sl (portsLock);
    removePorts (outputs, name);
}

void VirtualMidiService::setDeviceReceiver (const juce::String& name, DeviceReceiver receiver)
{
    const std::lock_guard<std::mutex> sl (portsLock);

    if (receiver)
        receivers[name] = std::move (receiver);
    else
        receivers.erase (name);
}

void VirtualMidiService::sendFromDevice (const juce::String& name, const juce::MidiMessage& message)
{
    {
        const std::lock_guard<std::mutex> sl (queueLock);
        queue.push_back ({ name, message });
    }

    queueChanged.notify_all();
}

bool VirtualMidiService::waitUntilDelivered (int timeoutMs)
{
    std::unique_lock<std::mutex> sl (queueLock);
    return queueChanged.wait_for (sl, std::chrono::milliseconds (timeoutMs),
                                  [this] { return queue.empty() && ! delivering; });
}

std::vector<VirtualMidiService::SentMessage> VirtualMidiService::getSentLog (const juce::String& name) const
{
    const std::lock_guard<std::mutex> sl (portsLock);
    const auto it = sentLogs.find (name);
    return it != sentLogs.end() ? it->second : std::vector<SentMessage>();
}

void VirtualMidiService::clearSentLog (const juce::String& name)
{
    const std::lock_guard<std::mutex> sl (portsLock);
    sentLogs.erase (name);
}

void VirtualMidiService::setOpenFails (const juce::String& name, bool shouldFail)
{
    const std::lock_guard<std::mutex> sl (portsLock);

    if (shouldFail)
        failingOpens.insert (name);
    else
        failingOpens.erase (name);
}

void VirtualMidiService::setPortReceiver (const juce::String& outputIdentifier, DeviceReceiver receiver)
{
    const std::lock_guard<std::mutex> sl (portsLock);
    portReceivers[outputIdentifier] = std::move (receiver);
}

void VirtualMidiService::setSendRefusal (const juce::String& name, SendRefusal refuses)
{
    const std::lock_guard<std::mutex> sl (portsLock);

    if (refuses)
        sendRefusals[name] = std::move (refuses);
    else
        sendRefusals.erase (name);
}

//==============================================================================
juce::Array<juce::MidiDeviceInfo> VirtualMidiService::listPorts (const std::vector<Port>& ports)
{
    juce::Array<juce::MidiDeviceInfo> list;

    for (const auto& p : ports)
        list.add (p.info);

    return list;
}

void VirtualMidiService::setUnavailable (const juce::String& reason)
{
    const std::lock_guard<std::mutex> sl (portsLock);
    unavailableReason = reason;
}

juce::String VirtualMidiService::getUnavailableReason()
{
    const std::lock_guard<std::mutex> sl (portsLock);
    return unavailableReason;
}

juce::Array<juce::MidiDeviceInfo> VirtualMidiService::getInputDevices()
{
    const std::lock_guard<std::mutex> sl (portsLock);
    return unavailableReason.isEmpty() ? listPorts (inputs) : juce::Array<juce::MidiDeviceInfo>();
}

juce::Array<juce::MidiDeviceInfo> VirtualMidiService::getOutputDevices()
{
    const std::lock_guard<std::mutex> sl (portsLock);
    return unavailableReason.isEmpty() ? listPorts (outputs) : juce::Array<juce::MidiDeviceInfo>();
}

bool VirtualMidiService::isPortListed (const std::vector<Port>& ports, const juce::String& identifier) const
{
    return std::any_of (ports.begin(), ports.end(), [&] (const Port& p) { return p.info.identifier == identifier; });
}

std::unique_ptr<MidiService::Input> VirtualMidiService::openInput (const juce::String& identifier,
                                                                   juce::MidiInputCallback& callback)
{
    juce::MidiDeviceInfo info;

    {
        const std::lock_guard<std::mutex> sl (portsLock);

        const auto it = std::find_if (inputs.begin(), inputs.end(), [&] (const Port& p) { return p.info.identifier == identifier; });

        if (it == inputs.end() || failingOpens.count (it->info.name) > 0)
            return nullptr;

        info = it->info;
    }

    return std::make_unique<VirtualInput> (*this, info, callback);
}

std::unique_ptr<MidiService::Output> VirtualMidiService::openOutput (const juce::String& identifier)
{
    const std::lock_guard<std::mutex> sl (portsLock);

    const auto it = std::find_if (outputs.begin(), outputs.end(), [&] (const Port& p) { return p.info.identifier == identifier; });

    if (it == outputs.end() || failingOpens.count (it->info.name) > 0)
        return nullptr;

    return std::make_unique<VirtualOutput> (*this, it->info);
}

void VirtualMidiService::setOtherWriters (const juce::String& name, std::optional<juce::StringArray> writers)
{
    const std::lock_guard<std::mutex> sl (portsLock);
    otherWriters[name] = std::move (writers);
}

std::optional<juce::StringArray> VirtualMidiService::findOtherWriters (const juce::String& outputIdentifier)
{
    const std::lock_guard<std::mutex> sl (portsLock);

    const auto port = std::find_if (outputs.begin(), outputs.end(), [&] (const Port& p) { return p.info.identifier == outputIdentifier; });

    if (port == outputs.end())
        return juce::StringArray();

    const auto writers = otherWriters.find (port->info.name);
    return writers != otherWriters.end() ? writers->second : juce::StringArray();
}

bool VirtualMidiService::sendToDevice (const juce::MidiDeviceInfo& port, const void* data, size_t numBytes)
{
    DeviceReceiver receiver;
    SendRefusal refuses;
    juce::MemoryBlock bytes (data, numBytes);

    {
        const std::lock_guard<std::mutex> sl (portsLock);
        const auto it = sendRefusals.find (port.name);

        if (it != sendRefusals.end())
            refuses = it->second;
    }

    if (refuses && refuses (bytes))
        return false;

    {
        const std::lock_guard<std::mutex> sl (portsLock);

        // A port that has vanished takes nothing, even if its name is listed again.
        if (! isPortListed (outputs, port.identifier) || numBytes == 0)
            return false;

        sentLogs[port.name].push_back ({ bytes, juce::Time::getMillisecondCounterHiRes() });

        const auto own = portReceivers.find (port.identifier);
        const auto it = receivers.find (port.name);

        if (own != portReceivers.end())
            receiver = own->second;
        else if (it != receivers.end())
            receiver = it->second;
    }

    if (receiver)
        receiver (bytes);

    return true;
}

void VirtualMidiService::registerInput (VirtualInput* input)
{
    const std::lock_guard<std::recursive_mutex> sl (deliveryLock);
    openInputs.push_back (input);
}

void VirtualMidiService::unregisterInput (VirtualInput* input)
{
    const std::lock_guard<std::recursive_mutex> sl (deliveryLock);
    openInputs.erase (std::remove (openInputs.begin(), openInputs.end(), input), openInputs.end());
}

void VirtualMidiService::deliveryLoop()
{
    for (;;)
    {
        PendingMessage pending;

        {
            std::unique_lock<std::mutex> sl (queueLock);
            queueChanged.wait (sl, [this] { return quitting || ! queue.empty(); });

            if (quitting)
                return;

            pending = std::move (queue.front());
            queue.pop_front();
            delivering = true;
        }

        {
            const std::lock_guard<std::recursive_mutex> sl (deliveryLock);

            // Copy: a callback may close inputs of other names.
            const auto targets = openInputs;

            for (auto* input : targets)
            {
                if (std::find (openInputs.begin(), openInputs.end(), input) == openInputs.end())
                    continue;

                const auto info = input->getDeviceInfo();
                bool listed = false;

                {
                    const std::lock_guard<std::mutex> pl (portsLock);
                    listed = isPortListed (inputs, info.identifier);
                }

                if (info.name == pending.name && listed && input->isStarted())
                    input->deliver (pending.message);
            }
        }

        {
            const std::lock_guard<std::mutex> sl (queueLock);
            delivering = false;
        }

        queueChanged.notify_all();
    }
}
