#include "midi/MidiService.h"
#include "midi/JuceMidiService.h"

std::shared_ptr<MidiService> MidiService::createPlatformService()
{
    return std::make_shared<JuceMidiService>();
}
