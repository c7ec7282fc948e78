#include "midi/MidiManager.h"

#include <algorithm>

//==============================================================================
MidiManager::DeviceUpdater::DeviceUpdater (Listeners& l, Callback cb)
    : listeners (l)
    , callback (cb)
{
}

MidiManager::DeviceUpdater::~DeviceUpdater()
{
    cancelPendingUpdate();
}

void MidiManager::DeviceUpdater::add (const juce::String& name)
{
    deviceNames.add (name);
    triggerAsyncUpdate();
}

void MidiManager::DeviceUpdater::handleAsyncUpdate()
{
    // Take the names first, so that none gathered while the listeners run is lost.
    const auto names = deviceNames;
    deviceNames.clear();

    listeners.call ([&] (Listener& l) { (l.*callback) (names); });
}

//==============================================================================
MidiManager::MidiManager()
    : MidiManager (MidiService::createPlatformService())
{
}

MidiManager::MidiManager (std::shared_ptr<MidiService> s)
    : service (std::move (s))
    , inputDisconnectUpdater (std::make_unique<MidiInputDeviceDisconnectUpdater> (listeners))
    , outputDisconnectUpdater (std::make_unique<MidiOutputDeviceDisconnectUpdater> (listeners))
    , inputReconnectUpdater (std::make_unique<MidiInputDeviceReconnectUpdater> (listeners))
    , outputReconnectUpdater (std::make_unique<MidiOutputDeviceReconnectUpdater> (listeners))
{
    jassert (service != nullptr);
    startTimer (pollIntervalMs);
}

MidiManager::~MidiManager()
{
    stopTimer();

    // No device notification is delivered once destruction has begun.
    for (auto* updater : std::initializer_list<DeviceUpdater*> { inputDisconnectUpdater.get(),
                                                                 outputDisconnectUpdater.get(),
                                                                 inputReconnectUpdater.get(),
                                                                 outputReconnectUpdater.get() })
        updater->cancelPendingUpdate();

    inputDisconnectUpdater.reset();
    outputDisconnectUpdater.reset();
    inputReconnectUpdater.reset();
    outputReconnectUpdater.reset();

    const juce::ScopedLock sl (lock);
    outputDevices.clear();

    // Incoming messages may reach the listeners until the inputs are stopped.
    for (auto& input : inputDevices)
        input->stop();

    listeners.clear();
    inputDevices.clear();
}

//==============================================================================
bool MidiManager::listContains (const juce::Array<juce::MidiDeviceInfo>& devices, const juce::String& name)
{
    for (const auto& info : devices)
        if (info.name == name)
            return true;

    return false;
}

std::optional<juce::MidiDeviceInfo> MidiManager::choosePort (const juce::Array<juce::MidiDeviceInfo>& listed,
                                                             const juce::String& name) const
{
    std::optional<juce::MidiDeviceInfo> best;
    int bestRank = -1;
    bool tied = false;

    for (const auto& info : listed)
    {
        if (info.name != name)
            continue;

        const auto rank = service->getPortRank (info);
        tied = rank == bestRank || (tied && rank < bestRank);

        if (rank > bestRank)
        {
            best = info;
            bestRank = rank;
        }
    }

    return tied ? std::nullopt : best;
}

bool MidiManager::isPortAmbiguous (const juce::String& name) const
{
    const auto outputs = service->getOutputDevices();
    const auto inputs = service->getInputDevices();
    const auto listed = [&name] (const juce::Array<juce::MidiDeviceInfo>& ports) {
        return std::any_of (ports.begin(), ports.end(), [&] (const auto& info) { return info.name == name; });
    };

    return (listed (outputs) && ! choosePort (outputs, name).has_value()) || (listed (inputs) && ! choosePort (inputs, name).has_value());
}

void MidiManager::openInputDevice (const juce::String& name)
{
    if (isInputDeviceOpen (name))
        return;

    if (const auto chosen = choosePort (service->getInputDevices(), name))
    {
        try
        {
            if (auto input = service->openInput (chosen->identifier, *this))
                addInputDevice (std::move (input));
        }
        catch (const std::exception&)
        {
            // A port that fails this way stays closed; the next attempt tries again.
        }
    }
}

void MidiManager::openOutputDevice (const juce::String& name)
{
    if (isOutputDeviceOpen (name))
        return;

    if (const auto chosen = choosePort (service->getOutputDevices(), name))
        if (auto output = service->openOutput (chosen->identifier))
            addOutputDevice (name, std::move (output));
}

void MidiManager::closeOutputDevice (const juce::String& name)
{
    const juce::ScopedLock sl (lock);

    outputDevices.erase (std::remove_if (outputDevices.begin(), outputDevices.end(),
                                         [&] (const OutputDevice& o) { return o.name == name; }),
                         outputDevices.end());
}

bool MidiManager::sendTo (OutputDevice& output, const juce::MidiMessage& message)
{
    return output.device->sendBytes (message.getRawData(), (size_t) message.getRawDataSize());
}

bool MidiManager::sendMessage (const juce::String& outputName, const juce::MidiMessage& message)
{
    const juce::ScopedLock sl (lock);

    bool sentSomewhere = false, allTookIt = true;

    for (auto& output : outputDevices)
    {
        if (output.name != outputName)
            continue;

        if (sendTo (output, message))
            sentSomewhere = true;
        else
            allTookIt = false;
    }

    return sentSomewhere && allTookIt;
}

bool MidiManager::sendMessageToAllOutputs (const juce::MidiMessage& message)
{
    const juce::ScopedLock sl (lock);

    bool sentSomewhere = false, allTookIt = true;

    for (auto& output : outputDevices)
    {
        if (sendTo (output, message))
            sentSomewhere = true;
        else
            allTookIt = false;
    }

    return sentSomewhere && allTookIt;
}

bool MidiManager::isInputDeviceOpen (const juce::String& name) const
{
    const juce::ScopedLock sl (lock);

    return std::any_of (inputDevices.begin(), inputDevices.end(),
                        [&] (const auto& input) { return input->getDeviceInfo().name == name; });
}

bool MidiManager::isOutputDeviceOpen (const juce::String& name) const
{
    const juce::ScopedLock sl (lock);

    return std::any_of (outputDevices.begin(), outputDevices.end(),
                        [&] (const OutputDevice& o) { return o.name == name; });
}

juce::StringArray MidiManager::getOpenOutputIdentifiers (const juce::String& name) const
{
    const juce::ScopedLock sl (lock);

    juce::StringArray identifiers;
    for (const auto& o : outputDevices)
        if (o.name == name)
            identifiers.add (o.device->getDeviceInfo().identifier);

    return identifiers;
}

bool MidiManager::isInputDevicePresent (const juce::String& name) const
{
    return listContains (service->getInputDevices(), name);
}

bool MidiManager::isOutputDevicePresent (const juce::String& name) const
{
    return listContains (service->getOutputDevices(), name);
}

juce::StringArray MidiManager::getOutputDeviceNames() const
{
    juce::StringArray names;

    for (const auto& info : service->getOutputDevices())
        names.add (info.name);

    return names;
}

std::optional<juce::StringArray> MidiManager::findOtherWriters (const juce::String& name) const
{
    juce::StringArray writers;

    for (const auto& info : service->getOutputDevices())
    {
        if (info.name != name)
            continue;

        const auto found = service->findOtherWriters (info.identifier);

        if (! found.has_value())
            return std::nullopt;

        writers.addArray (*found);
    }

    writers.removeDuplicates (false);
    return writers;
}

void MidiManager::addListener (Listener* listener)
{
    if (listener != nullptr)
        listeners.add (listener);
}

bool MidiManager::hasListener (Listener* listener) const
{
    return listeners.contains (listener);
}

void MidiManager::removeListener (Listener* listener)
{
    // The list's lock is held across every walk, so once this returns no walk can
    // still be calling the listener.
    if (listener != nullptr)
        listeners.remove (listener);
}

void MidiManager::handleIncomingMidiMessage (juce::MidiInput* source, const juce::MidiMessage& message)
{
    listeners.call ([&] (Listener& l) { l.handleIncomingMidiMessage (source, message); });
}

//==============================================================================
void MidiManager::addInputDevice (std::unique_ptr<MidiService::Input> input)
{
    const juce::ScopedLock sl (lock);

    inputDevices.push_back (std::move (input));
    inputDevices.back()->start();
}

void MidiManager::addOutputDevice (const juce::String& name, std::unique_ptr<MidiService::Output> output)
{
    const juce::ScopedLock sl (lock);

    outputDevices.push_back ({ name, std::move (output) });
}

void MidiManager::removeInputDevice (const juce::String& name)
{
    const juce::ScopedLock sl (lock);

    for (auto it = inputDevices.begin(); it != inputDevices.end();)
    {
        if ((*it)->getDeviceInfo().name == name)
        {
            (*it)->stop();
            it = inputDevices.erase (it);
        }
        else
        {
            ++it;
        }
    }
}

void MidiManager::timerCallback()
{
    pollDevices();
}

void MidiManager::pollDevices()
{
    const juce::ScopedLock sl (lock);

    // One listing of each kind a poll, which every step below reads.
    const auto listedInputs = service->getInputDevices();
    const auto listedOutputs = service->getOutputDevices();

    // Inputs that came back.
    {
        const auto& listed = listedInputs;

        for (const auto& name : juce::StringArray (disconnectedInputNames))
        {
            if (! listContains (listed, name) || ! disconnectedInputNames.contains (name))
                continue;

            openInputDevice (name);
            disconnectedInputNames.removeString (name);
            inputReconnectUpdater->add (name);
        }
    }

    // Outputs that came back.
    {
        const auto& listed = listedOutputs;

        for (const auto& name : juce::StringArray (disconnectedOutputNames))
        {
            if (! listContains (listed, name) || ! disconnectedOutputNames.contains (name))
                continue;

            openOutputDevice (name);
            disconnectedOutputNames.removeString (name);
            outputReconnectUpdater->add (name);
        }
    }

    // Inputs that vanished. A port listed again under its name but with another
    // identifier was replaced while we held it (unplugged and plugged in between
    // two polls): the handle we hold is dead, so it counts as vanished too.
    // Removing one removes every input of its name.
    {
        const auto& listed = listedInputs;

        for (size_t i = 0; i < inputDevices.size();)
        {
            const auto info = inputDevices[i]->getDeviceInfo();

            if (listed.contains (info))
            {
                ++i;
                continue;
            }

            disconnectedInputNames.add (info.name);
            inputDisconnectUpdater->add (info.name);
            removeInputDevice (info.name);
        }
    }

    // Outputs that vanished, or were replaced as above.
    {
        const auto& listed = listedOutputs;

        for (size_t i = 0; i < outputDevices.size();)
        {
            const auto name = outputDevices[i].name;

            if (listed.contains (outputDevices[i].device->getDeviceInfo()))
            {
                ++i;
                continue;
            }

            disconnectedOutputNames.add (name);
            outputDisconnectUpdater->add (name);
            closeOutputDevice (name);
        }
    }
}
