#include "RawMidiTransport.h"

// alsa-lib declares its thread-local error handler outside its C linkage block.
extern "C"
{
#include <alsa/asoundlib.h>
}

#include <cstdlib>
#include <iostream>

namespace
{
    constexpr int reopenIntervalMs = 100;

    void ignoreAlsaError (const char*, int, const char*, int, const char*, ...) {}
} // namespace

RawMidiTransport::RawMidiTransport (juce::String device, juce::String unplug, juce::String plug)
    : deviceName (std::move (device))
    , unplugCommand (std::move (unplug))
    , plugCommand (std::move (plug))
{
}

RawMidiTransport::~RawMidiTransport()
{
    close();
}

juce::String RawMidiTransport::open()
{
    // The device is plugged in when the emulator starts: it stays open from here.
    if (const auto err = tryOpen(); err < 0)
        return "cannot open " + deviceName + ": " + snd_strerror (err);

    return {};
}

int RawMidiTransport::tryOpen()
{
    // While the device is away, every attempt would print an error.
    snd_lib_error_set_handler (ignoreAlsaError);
    const auto err = snd_rawmidi_open (&input, &output, deviceName.toRawUTF8(), SND_RAWMIDI_NONBLOCK);
    snd_lib_error_set_handler (nullptr);

    if (err < 0)
    {
        input = output = nullptr;
        return err;
    }

    // Room for a whole image, should the loop fall behind.
    snd_rawmidi_params_t* params = nullptr;
    snd_rawmidi_params_alloca (&params);

    if (snd_rawmidi_params_current (input, params) == 0 && snd_rawmidi_params_set_buffer_size (input, params, 256 * 1024) == 0)
        snd_rawmidi_params (input, params);

    return 0;
}

void RawMidiTransport::close()
{
    for (auto* handle : { &input, &output })
    {
        if (*handle != nullptr)
            snd_rawmidi_close (*handle);

        *handle = nullptr;
    }
}

std::vector<pollfd> RawMidiTransport::getPollDescriptors()
{
    if (input == nullptr)
        return {};

    std::vector<pollfd> fds ((size_t) snd_rawmidi_poll_descriptors_count (input));
    const auto count = snd_rawmidi_poll_descriptors (input, fds.data(), (unsigned int) fds.size());
    fds.resize ((size_t) juce::jmax (0, count));
    return fds;
}

void RawMidiTransport::service (Listener& listener)
{
    if (input == nullptr)
    {
        const auto now = juce::Time::getMillisecondCounterHiRes();

        if (! reopenWanted || now < nextOpenAttemptMs)
            return;

        nextOpenAttemptMs = now + reopenIntervalMs;

        if (tryOpen() < 0)
            return;

        reopenWanted = false;
        std::cout << deviceName << " is open" << std::endl;
        listener.deviceOpened();
        return;
    }

    unsigned char buffer[4096];

    for (;;)
    {
        const auto got = snd_rawmidi_read (input, buffer, sizeof (buffer));

        if (got == -EAGAIN || got == 0)
            return;

        if (got < 0)
        {
            std::cout << deviceName << " went away (" << snd_strerror ((int) got) << ")" << std::endl;
            close();
            reopenWanted = true;
            listener.deviceLost();
            return;
        }

        listener.bytesReceived (buffer, (size_t) got);
    }
}

void RawMidiTransport::send (const juce::MemoryBlock& message)
{
    if (output == nullptr)
        return;

    const auto written = snd_rawmidi_write (output, message.getData(), message.getSize());

    if (written != (ssize_t) message.getSize())
        std::cout << "warning: " << juce::jmax ((ssize_t) 0, written) << " of " << message.getSize()
                  << " bytes written to " << deviceName << std::endl;
}

void RawMidiTransport::setPresent (bool present, const juce::String&)
{
    // The device is already where the controller is: it came or went by itself.
    if (present == (input != nullptr))
        return;

    if (present)
    {
        runCommand ("plug", plugCommand);
        reopenWanted = true;
        nextOpenAttemptMs = 0.0;
    }
    else
    {
        // Closed first, so that the device can go at once.
        close();
        reopenWanted = false;
        runCommand ("unplug", unplugCommand);
    }
}

void RawMidiTransport::runCommand (const char* what, const juce::String& command)
{
    if (command.isEmpty())
    {
        std::cout << "no " << what << " command: " << deviceName << " stays plugged in" << std::endl;
        return;
    }

    std::cout << what << ": " << command << std::endl;

    if (const auto status = std::system (command.toRawUTF8()); status != 0)
        std::cout << "warning: the " << what << " command failed (status " << status << ")" << std::endl;
}
