#include "engine/ApplicationEngine.h"

ApplicationEngine::Updater::Updater (EngineState* s)
    : state (s)
    , firmwareVersionUpdater (*this)
    , hardwareDetectedUpdater (*this)
    , resultUpdater (*this)
{
    jassert (state != nullptr);
}

ApplicationEngine::Updater::~Updater()
{
    cancelPendingUpdate();
}

void ApplicationEngine::Updater::addListener (Listener* listener)
{
    if (listener != nullptr)
        listeners.add (listener);
}

void ApplicationEngine::Updater::removeListener (Listener* listener)
{
    if (listener != nullptr)
        listeners.remove (listener);
}

void ApplicationEngine::Updater::handleAsyncUpdate()
{
    listeners.call ([this] (Listener& l) { l.updateProgressChanged (state->progress); });
    listeners.call ([this] (Listener& l) { l.updateStateChanged (state->updateState); });

    // Each queued code is delivered once, in order, even if a listener queues more.
    while (! state->pendingErrors.isEmpty())
    {
        const auto code = state->pendingErrors.removeAndReturn (0);
        listeners.call ([code] (Listener& l) { l.updateErrorOccurred (code); });
    }
}

//==============================================================================
ApplicationEngine::Updater::FirmwareVersionUpdater::FirmwareVersionUpdater (Updater& o)
    : owner (o)
{
}

ApplicationEngine::Updater::FirmwareVersionUpdater::~FirmwareVersionUpdater()
{
    cancelPendingUpdate();
}

void ApplicationEngine::Updater::FirmwareVersionUpdater::handleAsyncUpdate()
{
    const double version = owner.state->firmwareVersion.load();
    owner.listeners.call ([version] (Listener& l) { l.firmwareVersionChanged (version); });
}

ApplicationEngine::Updater::HardwareDetectedUpdater::HardwareDetectedUpdater (Updater& o)
    : owner (o)
{
}

ApplicationEngine::Updater::HardwareDetectedUpdater::~HardwareDetectedUpdater()
{
    cancelPendingUpdate();
}

void ApplicationEngine::Updater::HardwareDetectedUpdater::handleAsyncUpdate()
{
    const bool detected = owner.state->hardwareDetected;
    owner.listeners.call ([detected] (Listener& l) { l.hardwareDetectedChanged (detected); });
}

ApplicationEngine::Updater::ResultUpdater::ResultUpdater (Updater& o)
    : owner (o)
{
}

ApplicationEngine::Updater::ResultUpdater::~ResultUpdater()
{
    cancelPendingUpdate();
}

void ApplicationEngine::Updater::ResultUpdater::handleAsyncUpdate()
{
    if (! owner.state->result.has_value())
        return;

    const auto result = *owner.state->result;
    owner.listeners.call ([&result] (Listener& l) { l.updateResultChanged (result); });
}
