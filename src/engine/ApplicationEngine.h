#pragma once

#include "midi/MidiManager.h"

#include <juce_core/juce_core.h>

/**
    The non-visual core of the updater.

    For now it only holds the MIDI manager and never reports an update running.
*/
class ApplicationEngine final : public juce::ReferenceCountedObject
{
public:
    using Ptr = juce::ReferenceCountedObjectPtr<ApplicationEngine>;

    explicit ApplicationEngine (const MidiManager::Ptr& midiManager);
    ~ApplicationEngine() override;

    /** True while an update is erasing or sending. Message thread. */
    bool isUpdating() const;

private:
    MidiManager::Ptr midiManager;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ApplicationEngine)
};
