#include "engine/ApplicationEngine.h"

#include "engine/DetectDeviceInfo.h"
#include "engine/UpdateConfirmation.h"
#include "firmware/DeviceMessages.h"

#include <utility>

ApplicationEngine::ApplicationEngine (const MidiManager::Ptr& manager, FirmwareTiming t, FirmwareImage i)
    : midiManager (manager)
    , timing (t)
    , image (std::move (i))
{
    detectDeviceInfo = std::make_unique<DetectDeviceInfo> (midiManager, &updater, &state, timing.unansweredHintMs);
}

ApplicationEngine::~ApplicationEngine()
{
    // The wait for a result watches detection: it goes first. Then detection:
    // once it has left the manager, no MIDI thread can reach the record or the
    // channels any more.
    confirmation.reset();
    detectDeviceInfo.reset();
    sysexSenders.clear();
    releaseClaims();
    updater.cancelPendingUpdate();
    updater.firmwareVersionUpdater.cancelPendingUpdate();
    updater.hardwareDetectedUpdater.cancelPendingUpdate();
    updater.resultUpdater.cancelPendingUpdate();
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

void ApplicationEngine::setPortChoice (const juce::String& portName)
{
    detectDeviceInfo->setPortChoice (portName);
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

bool ApplicationEngine::refuseStart (StartRefusal why)
{
    portClaim.reset();
    lastStartRefusal = why;
    return false;
}

bool ApplicationEngine::startUpdate (bool emergency)
{
    const bool riskAccepted = std::exchange (sleepRiskAccepted, false);
    state.emergencyMode = emergency;
    confirmation.reset();
    sysexSenders.clear();
    firmwareUpdates.clear();
    releaseClaims();
    state.updateState = idle;
    state.progress = 0.0;
    state.result.reset();
    otherWriters.clear();
    portClaimFailure.clear();
    sleepFailure.clear();
    company.clear();
    wroteToController = false;
    updater.triggerAsyncUpdate();

    if (state.deviceName.isEmpty())
        return refuseStart (noControllerFound);

    // The image goes to one port only, and never to one picked by guessing.
    if (midiManager->isPortAmbiguous (state.deviceName))
        return refuseStart (portAmbiguous);

    if (! image.isIntact())
        return refuseStart (imageDamaged);

    // Another program's messages would land inside the image. Where the platform
    // cannot list who writes to the port, a port another program holds fails
    // to open instead.
    if (const auto writers = midiManager->findOtherWriters (state.deviceName))
    {
        otherWriters = *writers;

        if (! otherWriters.isEmpty())
            return refuseStart (controllerInUse);
    }
    else
    {
        midiManager->openOutputDevice (state.deviceName);

        if (! midiManager->isOutputDeviceOpen (state.deviceName))
            return refuseStart (controllerInUse);
    }

    portClaim = std::make_unique<PortUpdateLock> (state.deviceName, portClaimWaitMs);

    // Never unclaimed: a claim that cannot be made safely stops the update too.
    if (! portClaim->isHeld())
    {
        portClaimFailure = portClaim->getFailure();
        return refuseStart (portClaimFailure.isEmpty() ? controllerBusy : portClaimFailed);
    }

    // A machine that sleeps or shuts down mid-stream leaves the controller
    // half-written: without a lock, the update waits for the user's word.
    if (sleepInhibitor != nullptr && ! sleepInhibitor->acquire() && ! riskAccepted)
    {
        sleepFailure = juce::String::fromUTF8 (sleepInhibitor->getFailure().c_str());
        return refuseStart (machineMaySleep);
    }

    createFirmwareUpdates (state.deviceName);
    createSysexSenders();

    detectDeviceInfo->stopTimer();
    state.updateState = erasing;
    updater.triggerAsyncUpdate();

    const FirmwareSysexSender::Ptr sender (sysexSenders.getFirst());
    sender->startSending();
    noteWhatWasSent (sender.get());
    return true;
}

void ApplicationEngine::createFirmwareUpdates (const juce::String& deviceName)
{
    if (deviceName.isEmpty())
        return;

    if (state.emergencyMode)
    {
        firmwareUpdates.add (new FirmwareUpdate (image.getData(), image.getSize(),
                                                 timing.blockSize, timing.blockIntervalMs, deviceName));
    }
    else
    {
        const juce::Array<char> data (image.getData(), image.getSize());
        const juce::Array<char> erase (reinterpret_cast<const char*> (eraseRequestMessage.data()),
                                       (int) eraseRequestMessage.size());
        firmwareUpdates.add (new FirmwareUpdate (erase, data, timing.blockSize, timing.blockIntervalMs, deviceName));
    }
}

void ApplicationEngine::createSysexSenders()
{
    for (auto* update : firmwareUpdates)
        sysexSenders.add (new FirmwareSysexSender (update, midiManager, this, timing.eraseWaitMs, timing.reconnectTimeoutMs));
}

void ApplicationEngine::noteWhatWasSent (const FirmwareSysexSender* sender)
{
    wroteToController = wroteToController || (sender != nullptr && sender->hasSentAnything());
}

void ApplicationEngine::sysexProgressChanged (FirmwareSysexSender* sender, double progress)
{
    noteWhatWasSent (sender);

    state.progress = progress;
    updater.triggerAsyncUpdate();
    noteCompany();
}

void ApplicationEngine::noteCompany()
{
    // Stopping the stream would leave an erased controller: a writer that joins
    // it is only noted, and the result decided by what the controller reports.
    if (const auto update = firmwareUpdates.getFirst())
        if (const auto writers = midiManager->findOtherWriters (update->getDeviceName()))
            company.mergeArray (*writers);
}

void ApplicationEngine::awaitConfirmation()
{
    UpdateResult written;
    written.offeredVersion = image.getVersion();
    written.emergency = state.emergencyMode;
    written.company = company;

    confirmation = std::make_unique<UpdateConfirmation> (*detectDeviceInfo, state, written, timing,
                                                         [this] (const UpdateResult& result) {
                                                             state.result = result;
                                                             updater.resultUpdater.triggerAsyncUpdate();
                                                             confirmation.reset();
                                                         });
}

void ApplicationEngine::sysexStatusChanged (FirmwareSysexSender* sender, juce::String status)
{
    noteWhatWasSent (sender);

    if (status == FirmwareSysexSender::statusStarted)
    {
        noteCompany();
        state.updateState = sending;
        updater.triggerAsyncUpdate();
    }
    else if (status == FirmwareSysexSender::statusCompleted)
    {
        noteCompany();

        // This may destroy the reporting sender, which touches nothing afterwards.
        sysexSenders.clear();
        firmwareUpdates.clear();
        releaseClaims();
        state.updateState = complete;
        updater.triggerAsyncUpdate();
        awaitConfirmation();

        // The result has noted the form. The controller that comes back runs
        // firmware, and detection asks it only outside the emergency form.
        state.emergencyMode = false;
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
