#include "SequencerTransport.h"

// alsa-lib declares its thread-local error handler outside its C linkage block.
extern "C"
{
#include <alsa/asoundlib.h>
}

#include <iostream>

SequencerTransport::SequencerTransport (juce::String name)
    : clientName (std::move (name))
{
}

SequencerTransport::~SequencerTransport()
{
    if (decoder != nullptr)
        snd_midi_event_free (decoder);

    if (encoder != nullptr)
        snd_midi_event_free (encoder);

    if (seq != nullptr)
        snd_seq_close (seq);
}

juce::String SequencerTransport::open()
{
    if (const auto err = snd_seq_open (&seq, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK); err < 0)
    {
        seq = nullptr;
        return juce::String ("cannot open the ALSA sequencer: ") + snd_strerror (err);
    }

    snd_seq_set_client_name (seq, clientName.toRawUTF8());

    // Room for many image slices, should the loop fall behind.
    snd_seq_set_input_buffer_size (seq, 256 * 1024);
    snd_seq_set_client_pool_input (seq, 2000);

    if (snd_midi_event_new (256, &decoder) < 0 || snd_midi_event_new (256, &encoder) < 0)
        return "cannot create a MIDI event coder";

    snd_midi_event_no_status (decoder, 1);
    return {};
}

std::vector<pollfd> SequencerTransport::getPollDescriptors()
{
    std::vector<pollfd> fds ((size_t) snd_seq_poll_descriptors_count (seq, POLLIN));
    const auto count = snd_seq_poll_descriptors (seq, fds.data(), (unsigned int) fds.size(), POLLIN);
    fds.resize ((size_t) juce::jmax (0, count));
    return fds;
}

void SequencerTransport::service (Listener& listener)
{
    for (;;)
    {
        snd_seq_event_t* event = nullptr;
        const auto result = snd_seq_event_input (seq, &event);

        if (result == -ENOSPC)
        {
            std::cout << "warning: the sequencer's input overran: events were lost" << std::endl;
            continue;
        }

        if (result < 0 || event == nullptr)
            return;

        if (inputPort < 0 || event->dest.port != inputPort)
            continue;

        if (event->type == SND_SEQ_EVENT_SYSEX)
        {
            listener.bytesReceived (event->data.ext.ptr, event->data.ext.len);
        }
        else
        {
            unsigned char bytes[16];
            const auto size = snd_midi_event_decode (decoder, bytes, sizeof (bytes), event);

            if (size > 0)
                listener.bytesReceived (bytes, (size_t) size);
        }
    }
}

void SequencerTransport::send (const juce::MemoryBlock& message)
{
    if (outputPort < 0 || message.isEmpty())
        return;

    snd_seq_event_t event;

    const auto sendEvent = [this, &event] {
        snd_seq_ev_set_source (&event, (unsigned char) outputPort);
        snd_seq_ev_set_subs (&event);
        snd_seq_ev_set_direct (&event);
        snd_seq_event_output_direct (seq, &event);
    };

    if (message[0] == (char) 0xf0)
    {
        snd_seq_ev_clear (&event);
        // The macro's flag arithmetic is alsa-lib's own.
        JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wsign-conversion")
        snd_seq_ev_set_sysex (&event, (unsigned int) message.getSize(), const_cast<void*> (message.getData()));
        JUCE_END_IGNORE_WARNINGS_GCC_LIKE
        sendEvent();
        return;
    }

    snd_midi_event_reset_encode (encoder);
    const auto* bytes = static_cast<const unsigned char*> (message.getData());

    for (size_t i = 0; i < message.getSize(); ++i)
    {
        snd_seq_ev_clear (&event);

        if (snd_midi_event_encode_byte (encoder, bytes[i], &event) == 1)
            sendEvent();
    }
}

void SequencerTransport::setPresent (bool present, const juce::String& portName)
{
    deletePorts();

    if (! present)
        return;

    const auto type = SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_HARDWARE;
    inputPort = snd_seq_create_simple_port (seq, portName.toRawUTF8(), SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE, type);
    outputPort = snd_seq_create_simple_port (seq, portName.toRawUTF8(), SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ, type);

    if (inputPort < 0 || outputPort < 0)
    {
        std::cout << "error: cannot create the sequencer ports \"" << portName << "\"" << std::endl;
        deletePorts();
        return;
    }

    std::cout << "sequencer ports " << snd_seq_client_id (seq) << ":" << inputPort << " (from the application) and "
              << snd_seq_client_id (seq) << ":" << outputPort << " (to it), \"" << portName << "\"" << std::endl;
}

void SequencerTransport::deletePorts()
{
    for (auto* port : { &inputPort, &outputPort })
    {
        if (*port >= 0)
            snd_seq_delete_simple_port (seq, *port);

        *port = -1;
    }
}
