#pragma once

#include "midi/MidiService.h"

#include <juce_audio_devices/juce_audio_devices.h>

#include <memory>
#include <mutex>
#include <optional>

/**
    The MIDI service of Linux, on the ALSA sequencer.

    Ports are listed as the framework lists them on Linux: identifier
    "client-port" (for example "24-0"), name the port's own name. Neither inputs
    nor outputs are the framework's. Its outputs pass every outgoing message
    through alsa-lib's MIDI event encoder and reset it after each one, which
    silently discards a System Exclusive message sent in slices: here every byte
    string goes out unchanged as one System Exclusive event of its own, from the
    service's own sequencer client, connected to the destination port. Its inputs
    deliver whatever any client sends to their port: here an input delivers only
    what comes from the port it was opened for, with System Exclusive messages
    put together up to a bound (see AlsaInput in the .cpp).

    Where the system has no ALSA sequencer the service lists nothing, opens nothing
    and writes nothing to stderr; it looks for the sequencer again at each listing,
    so one that appears later is found.

    Listing, opening and sending are thread-safe and may be called on any thread;
    an input calls its callback on a thread of its own.
*/
class AlsaMidiService final : public MidiService
{
public:
    /** A service on the system's sequencer, /dev/snd/seq. */
    AlsaMidiService();

    /** A service that looks for the sequencer only while this file exists.
        Lets tests take the sequencer away. */
    explicit AlsaMidiService (juce::File sequencerDevice);

    ~AlsaMidiService() override;

    juce::Array<juce::MidiDeviceInfo> getInputDevices() override;
    juce::Array<juce::MidiDeviceInfo> getOutputDevices() override;
    juce::String getUnavailableReason() override;
    std::unique_ptr<Input> openInput (const juce::String& identifier, juce::MidiInputCallback& callback) override;
    std::unique_ptr<Output> openOutput (const juce::String& identifier) override;

    /** 1 for a port of a kernel client (numbers below 128: the sequencer's own
        and the hardware's, USB MIDI among them), 0 for a program's. */
    int getPortRank (const juce::MidiDeviceInfo& port) const override;

    /** The sequencer's subscribers that write to the port, by client name. */
    std::optional<juce::StringArray> findOtherWriters (const juce::String& outputIdentifier) override;

    /** The client and port numbers of an identifier "client-port", both decimal
        and not negative; nothing for any other text. Pure: any thread. */
    struct PortAddress
    {
        int client = 0, port = 0;
    };
    static std::optional<PortAddress> parsePortIdentifier (const juce::String& identifier);

private:
    class Client;
    class AlsaInput;
    class AlsaOutput;

    /** The open sequencer client, opened at the first call that finds the
        sequencer device present; null while there is none. */
    std::shared_ptr<Client> getClient();

    const juce::File sequencerDevice;
    std::mutex clientLock;
    std::shared_ptr<Client> client;
    juce::String unavailableReason; // why client is null; guarded by clientLock

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (AlsaMidiService)
};
