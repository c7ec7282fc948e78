#include "engine/DetectDeviceInfo.h"

#include "firmware/DeviceMessages.h"
#include "firmware/DevicePortNames.h"

ApplicationEngine::DetectDeviceInfo::DetectDeviceInfo (const MidiManager::Ptr& manager, Updater* u, EngineState* s)
    : midiManager (manager)
    , updater (u)
    , state (s)
{
    jassert (midiManager != nullptr && updater != nullptr && state != nullptr);

    midiManager->addListener (this);
    startTimer (detectionInterval);
}

ApplicationEngine::DetectDeviceInfo::~DetectDeviceInfo()
{
    stopTimer();

    // Once this returns the manager is not calling us on any thread.
    midiManager->removeListener (this);
}

void ApplicationEngine::DetectDeviceInfo::scanForDevice()
{
    juce::String found;

    // The last controller port in the system's list wins.
    for (const auto& name : midiManager->getOutputDeviceNames())
        if (isControllerPortName (name))
            found = name;

    state->hardwareDetected = found.isNotEmpty();
    state->deviceName = found;
    updater->hardwareDetectedUpdater.triggerAsyncUpdate();
}

void ApplicationEngine::DetectDeviceInfo::timerCallback()
{
    scanForDevice();

    const auto deviceName = state->deviceName;

    // An identity request inside a firmware stream would end the controller's
    // image early: while an update runs, the ports are the sender's alone.
    if (deviceName.isEmpty() || state->updateState == erasing || state->updateState == sending)
        return;

    // Nor inside another updater's stream, in this program or another.
    if (PortUpdateLock::isClaimed (deviceName))
        return;

    // The input is looked up by the name found in the output list.
    midiManager->openInputDevice (deviceName);
    midiManager->openOutputDevice (deviceName);

    if (! state->emergencyMode)
        midiManager->sendMessageToAllOutputs (juce::MidiMessage (identityRequestMessage.data(),
                                                                 (int) identityRequestMessage.size(),
                                                                 0.0));
}

void ApplicationEngine::DetectDeviceInfo::handleIncomingMidiMessage (juce::MidiInput*, const juce::MidiMessage& message)
{
    const auto version = parseIdentityReply (message);

    if (! version.has_value())
        return;

    state->firmwareVersion = *version;
    stopTimer();
    updater->firmwareVersionUpdater.triggerAsyncUpdate();
}

void ApplicationEngine::DetectDeviceInfo::restartDetection()
{
    state->firmwareVersion = 0.0;
    startTimer (detectionInterval);
    updater->firmwareVersionUpdater.triggerAsyncUpdate();
    state->emergencyMode = false;
    state->hardwareDetected = false;
    updater->hardwareDetectedUpdater.triggerAsyncUpdate();
}

void ApplicationEngine::DetectDeviceInfo::midiOutputDeviceDisconnected (juce::StringArray deviceNames)
{
    for (const auto& name : deviceNames)
    {
        // While erasing, the controller's port comes and goes by design.
        if (! isControllerPortName (name) || state->updateState == erasing)
            continue;

        restartDetection();
    }
}
