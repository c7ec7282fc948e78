#include "engine/ApplicationEngine.h"

ApplicationEngine::ApplicationEngine (const MidiManager::Ptr& manager)
    : midiManager (manager)
{
}

ApplicationEngine::~ApplicationEngine() = default;

bool ApplicationEngine::isUpdating() const
{
    return false;
}
