#include "engine/ApplicationEngine.h"

#include "engine/DetectDeviceInfo.h"
#include "firmware/DeviceMessages.h"

ApplicationEngine::ApplicationEngine (const MidiManager::Ptr& manager, FirmwareTiming t)
    : midiManager (manager)
    , timing (t)
{
    detectDeviceInfo = std::make_unique<DetectDeviceInfo> (midiManager, &updater, &state);
}

ApplicationEngine::~ApplicationEngine()
{
    // Detection first: once it has left the manager, no MIDI thread can reach
    // the record or the channels any more.
    detectDeviceInfo.reset();
    sysexSenders.clear();
    updater.cancelPendingUpdate();
    updater.firmwareVersionUpdater.cancelPendingUpdate();
    updater.hardwareDetectedUpdater.cancelPendingUpdate();
}

void ApplicationEngine::addListener (Listener* listener)
{
    updater.addListener (listener);
    updater.triggerAsyncUpdate();
}

void ApplicationEngine::removeListener (Listener* listener)
{
    updater.removeListener (listener);
}

void ApplicationEngine::setEmergencyMode (bool shouldBeOn)
{
    state.emergencyMode = shouldBeOn;
}

bool ApplicationEngine::isUpdating() const
{
    return state.updateState == erasing || state.updateState == sending;
}

bool ApplicationEngine::startUpdate()
{
    sysexSenders.clear();
    firmwareUpdates.clear();
    state.updateState = idle;
    state.progress = 0.0;
    updater.triggerAsyncUpdate();

    if (state.deviceName.isEmpty())
        return false;

    createFirmwareUpdates (state.deviceName);
    createSysexSenders();

    detectDeviceInfo->stopTimer();
    state.updateState = erasing;
    updater.triggerAsyncUpdate();

    const FirmwareSysexSender::Ptr sender (sysexSenders.getFirst());
    sender->startSending();
    return true;
}

void ApplicationEngine::createFirmwareUpdates (const juce::String& deviceName)
{
    if (deviceName.isEmpty())
        return;

    if (state.emergencyMode)
    {
        firmwareUpdates.add (new FirmwareUpdate (firmwareImage, firmwareImageSize,
                                                 timing.blockSize, timing.blockIntervalMs, deviceName));
    }
    else
    {
        const juce::Array<char> image (firmwareImage, firmwareImageSize);
        const juce::Array<char> erase (reinterpret_cast<const char*> (eraseRequestMessage.data()),
                                       (int) eraseRequestMessage.size());
        firmwareUpdates.add (new FirmwareUpdate (erase, image, timing.blockSize, timing.blockIntervalMs, deviceName));
    }
}

void ApplicationEngine::createSysexSenders()
{
    for (auto* update : firmwareUpdates)
        sysexSenders.add (new FirmwareSysexSender (update, midiManager, this, timing.eraseWaitMs));
}

void ApplicationEngine::sysexProgressChanged (FirmwareSysexSender*, double progress)
{
    state.progress = progress;
    updater.triggerAsyncUpdate();
}

void ApplicationEngine::sysexStatusChanged (FirmwareSysexSender*, juce::String status)
{
    if (status == FirmwareSysexSender::statusStarted)
    {
        state.updateState = sending;
        updater.triggerAsyncUpdate();
    }
    else if (status == FirmwareSysexSender::statusCompleted)
    {
        // This may destroy the reporting sender, which touches nothing afterwards.
        sysexSenders.clear();
        firmwareUpdates.clear();
        state.updateState = complete;
        updater.triggerAsyncUpdate();
    }
    else if (status == FirmwareSysexSender::statusDeviceOffline)
    {
        cancelUpdate();
        state.pendingErrors.add (deviceOfflineError);
        updater.triggerAsyncUpdate();
    }
}

void ApplicationEngine::cancelUpdate()
{
    // An emergency transfer stays in the erasing state throughout, so the loss of
    // the controller's port did not re-arm detection: do it here, or a controller
    // that comes back would never be found again.
    const bool wasEmergency = state.emergencyMode && state.updateState == erasing;

    for (auto* sender : sysexSenders)
        sender->stopSending();

    sysexSenders.clear();
    firmwareUpdates.clear();
    state.updateState = idle;
    state.progress = 0.0;
    updater.triggerAsyncUpdate();

    if (wasEmergency)
        detectDeviceInfo->restartDetection();
}
