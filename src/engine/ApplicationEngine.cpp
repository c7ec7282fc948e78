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
    releaseClaims();
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

void ApplicationEngine::setSleepInhibitor (std::unique_ptr<SleepInhibitor> inhibitor)
{
    if (sleepInhibitor != nullptr && isUpdating())
        sleepInhibitor->release();

    sleepInhibitor = std::move (inhibitor);

    if (sleepInhibitor != nullptr && isUpdating())
        sleepInhibitor->acquire();
}

void ApplicationEngine::releaseClaims()
{
    portClaim.reset();

    if (sleepInhibitor != nullptr)
        sleepInhibitor->release();
}

bool ApplicationEngine::isUpdating() const
{
    return state.updateState == erasing || state.updateState == sending;
}

bool ApplicationEngine::startUpdate (bool emergency)
{
    state.emergencyMode = emergency;
    sysexSenders.clear();
    firmwareUpdates.clear();
    releaseClaims();
    state.updateState = idle;
    state.progress = 0.0;
    updater.triggerAsyncUpdate();

    if (state.deviceName.isEmpty())
    {
        lastStartRefusal = noControllerFound;
        return false;
    }

    portClaim = std::make_unique<PortUpdateLock> (state.deviceName, portClaimWaitMs);

    if (! portClaim->isHeld())
    {
        portClaim.reset();
        lastStartRefusal = controllerBusy;
        return false;
    }

    if (sleepInhibitor != nullptr)
        sleepInhibitor->acquire();

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
        sysexSenders.add (new FirmwareSysexSender (update, midiManager, this, timing.eraseWaitMs, timing.reconnectTimeoutMs));
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
        releaseClaims();
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
    for (auto* sender : sysexSenders)
        sender->stopSending();

    sysexSenders.clear();
    firmwareUpdates.clear();
    releaseClaims();
    state.updateState = idle;
    state.progress = 0.0;
    updater.triggerAsyncUpdate();

    // After a failed transfer the controller's firmware is unknown, and detection
    // may not be running: a loss while erasing (an emergency update erases
    // throughout) does not re-arm it. Find the controller and read it afresh.
    detectDeviceInfo->restartDetection();
}
