#include "engine/DetectDeviceInfo.h"

#include "firmware/DeviceMessages.h"
#include "firmware/DevicePortNames.h"

ApplicationEngine::DetectDeviceInfo::DetectDeviceInfo (const MidiManager::Ptr& manager, Updater* u, EngineState* s,
                                                       int hintMs)
    : midiManager (manager)
    , updater (u)
    , state (s)
    , unansweredHintMs (hintMs)
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

    // The last controller port in the system's list wins, or the one chosen.
    for (const auto& name : midiManager->getOutputDeviceNames())
        if (isControllerPortName (name) && (portChoice.isEmpty() || name == portChoice))
            found = name;

    state->hardwareDetected = found.isNotEmpty();
    state->deviceName = found;
    state->midiUnavailable = found.isEmpty() ? midiManager->getUnavailableReason() : juce::String();
    updater->hardwareDetectedUpdater.triggerAsyncUpdate();
}

void ApplicationEngine::DetectDeviceInfo::timerCallback()
{
    scanForDevice();

    const auto deviceName = state->deviceName;

    // An identity request inside a firmware stream would end the controller's
    // image early: while an update runs, the ports are the sender's alone.
    // Nor inside another updater's stream, in this program or another: the
    // claim is held across the request, so that none can start in between.
    // (A claim that cannot be made at all stops every update; the requests go on.)
    const bool updating = state->updateState == erasing || state->updateState == sending;
    const auto probe = deviceName.isEmpty() || updating ? nullptr : std::make_unique<PortUpdateLock> (deviceName);

    if (probe == nullptr || (! probe->isHeld() && probe->getFailure().isEmpty()))
    {
        forgetSilence();
        return;
    }

    // The input is looked up by the name found in the output list.
    midiManager->openInputDevice (deviceName);
    midiManager->openOutputDevice (deviceName);

    if (state->emergencyMode)
        forgetSilence();
    else
        sendIdentityRequest();
}

void ApplicationEngine::DetectDeviceInfo::sendIdentityRequest()
{
    midiManager->sendMessageToAllOutputs (juce::MidiMessage (identityRequestMessage.data(),
                                                             (int) identityRequestMessage.size(),
                                                             0.0));
    ++requestsSent;

    // A controller whose firmware runs answers within a few passes; one that has
    // let requests go unanswered this long is in its bootloader, or has none.
    const auto now = juce::Time::getMillisecondCounterHiRes();

    if (firstUnansweredAtMs <= 0.0)
        firstUnansweredAtMs = now;
    else if (now - firstUnansweredAtMs >= unansweredHintMs)
        state->controllerSilent = true;
}

void ApplicationEngine::DetectDeviceInfo::forgetSilence()
{
    firstUnansweredAtMs = 0.0;
    state->controllerSilent = false;
}

void ApplicationEngine::DetectDeviceInfo::handleIncomingMidiMessage (juce::MidiInput*, const juce::MidiMessage& message)
{
    const auto version = parseIdentityReply (message);

    if (! version.has_value())
        return;

    state->firmwareVersion = *version;
    state->controllerSilent = false;
    requestsAnswered = requestsSent.load();
    stopTimer();
    updater->firmwareVersionUpdater.triggerAsyncUpdate();
}

void ApplicationEngine::DetectDeviceInfo::resumePolling()
{
    if (isTimerRunning())
        return;

    firstUnansweredAtMs = 0.0;
    startTimer (detectionInterval);
}

void ApplicationEngine::DetectDeviceInfo::restartDetection()
{
    state->firmwareVersion = 0.0;
    forgetSilence();
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
