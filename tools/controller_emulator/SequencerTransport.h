#pragma once

#include "EmulatorTransport.h"

struct _snd_seq;
struct snd_midi_event;

/**
    The controller as ALSA sequencer ports of this process: an input port the
    application writes to and an output port it reads from, both named as the
    controller's USB ports are ("Korvan QB4 II MIDI"), under a client named after
    the controller. The ports are created when the controller appears and deleted
    when it vanishes, so a reset looks to the application like a replug.

    System Exclusive bytes pass both ways as they are, one event per message or
    slice; other messages go through alsa-lib's MIDI event coder.
*/
class SequencerTransport final : public EmulatorTransport
{
public:
    explicit SequencerTransport (juce::String clientName);
    ~SequencerTransport() override;

    juce::String open() override;
    std::vector<pollfd> getPollDescriptors() override;
    void service (Listener& listener) override;
    void send (const juce::MemoryBlock& message) override;
    void setPresent (bool present, const juce::String& portName) override;

private:
    void deletePorts();

    const juce::String clientName;
    _snd_seq* seq = nullptr;
    snd_midi_event* decoder = nullptr;
    snd_midi_event* encoder = nullptr;
    int inputPort = -1, outputPort = -1;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (SequencerTransport)
};
