#include "midi/MidiService.h"
#include "midi/AlsaMidiService.h"
#include "midi/JuceMidiService.h"

std::shared_ptr<MidiService> MidiService::createPlatformService()
{
#if JUCE_LINUX
    // The framework's ALSA output loses slices of System Exclusive messages.
    return std::make_shared<AlsaMidiService>();
#else
    return std::make_shared<JuceMidiService>();
#endif
}
