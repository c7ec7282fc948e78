#include "midi/AlsaMidiService.h"

#include "midi/SysexAssembler.h"

#include "ProductInfo.h"

#if JUCE_LINUX

// alsa-lib declares its thread-local error handler outside its C linkage block.
extern "C"
{
#include <alsa/asoundlib.h>
}

#include <cerrno>
#include <poll.h>
#include <vector>

namespace
{
    constexpr auto clientName = ProductInfo::name;

    /** alsa-lib reports a failed open on stderr; here it is reported as an empty
        port list instead. */
    void ignoreAlsaError (const char*, int, const char*, int, const char*, va_list) {}

    /** Silences alsa-lib's error messages on the calling thread while it lives. */
    class ScopedSilentAlsaErrors
    {
    public:
        ScopedSilentAlsaErrors()
            : previous (snd_lib_error_set_local (ignoreAlsaError))
        {
        }
        ~ScopedSilentAlsaErrors() { snd_lib_error_set_local (previous); }

    private:
        snd_local_error_handler_t previous;

        JUCE_DECLARE_NON_COPYABLE (ScopedSilentAlsaErrors)
    };

    juce::String formatPortIdentifier (int client, int port)
    {
        return juce::String (client) + "-" + juce::String (port);
    }
} // namespace

//==============================================================================
/** One open sequencer client of this process, shared by the service and the
    outputs opened on it. Every call into alsa-lib holds its lock. */
class AlsaMidiService::Client final
{
public:
    /** Opens a client, or returns null with the reason where the sequencer
        cannot be opened. */
    static std::shared_ptr<Client> open (juce::String& failure)
    {
        snd_seq_t* seq = nullptr;

        {
            const ScopedSilentAlsaErrors silent;

            // Duplex: the sequencer's announcements come in as input events.
            if (const auto error = snd_seq_open (&seq, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK); error < 0 || seq == nullptr)
            {
                failure = "the ALSA sequencer cannot be opened: " + juce::String (snd_strerror (error)).toLowerCase();
                return nullptr;
            }
        }

        const auto id = snd_seq_client_id (seq);

        if (const auto error = id < 0 ? id : snd_seq_set_client_name (seq, clientName); error < 0)
        {
            failure = "the ALSA sequencer refused a client: " + juce::String (snd_strerror (error)).toLowerCase();
            snd_seq_close (seq);
            return nullptr;
        }

        std::shared_ptr<Client> client (new Client (seq, id));
        client->listenForAnnouncements();
        return client;
    }

    ~Client()
    {
        snd_seq_close (seq);
    }

    /** Every port of every client with this capability, in the sequencer's order.

        The ports are walked again only after the sequencer announced a client or
        port that came, went or changed: listing them is polled often, and a walk
        costs two system calls a client and one a port. */
    juce::Array<juce::MidiDeviceInfo> listPorts (unsigned int capability)
    {
        const std::lock_guard<std::mutex> sl (lock);

        if (portsMayHaveChanged())
            walkPorts();

        juce::Array<juce::MidiDeviceInfo> devices;

        for (const auto& listed : listedPorts)
            if ((listed.capability & capability) != 0)
                devices.add (listed.info);

        return devices;
    }

    /** The name of the port at this address if it has this capability. */
    std::optional<juce::String> getPortName (PortAddress address, unsigned int capability)
    {
        const std::lock_guard<std::mutex> sl (lock);

        snd_seq_port_info_t* portInfo = nullptr;
        snd_seq_port_info_alloca (&portInfo);

        if (snd_seq_get_any_port_info (seq, address.client, address.port, portInfo) < 0
            || (snd_seq_port_info_get_capability (portInfo) & capability) == 0)
            return std::nullopt;

        return juce::String::fromUTF8 (snd_seq_port_info_get_name (portInfo));
    }

    /** Creates a port of ours that sends to the destination and connects it.
        Returns the port's number, or -1. */
    int openPortTo (PortAddress destination, const juce::String& name)
    {
        const std::lock_guard<std::mutex> sl (lock);

        // Readable by ourselves only, so that the port lists skip it as they skip
        // the framework's own ports.
        const auto port = snd_seq_create_simple_port (seq, name.toRawUTF8(), SND_SEQ_PORT_CAP_READ,
                                                      SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
        if (port < 0)
            return -1;

        if (snd_seq_connect_to (seq, port, destination.client, destination.port) < 0)
        {
            snd_seq_delete_simple_port (seq, port);
            return -1;
        }

        return port;
    }

    void closePort (int port)
    {
        const std::lock_guard<std::mutex> sl (lock);
        snd_seq_delete_simple_port (seq, port);
    }

    /** Sends the bytes as one System Exclusive event from our port to its
        destination, at once. False when the destination port has gone or the
        sequencer refused the event. */
    bool sendSysex (int port, PortAddress destination, const void* data, size_t numBytes)
    {
        const std::lock_guard<std::mutex> sl (lock);

        // A vanishing port leaves the port lists before the sequencer drops its
        // connections, and a new port may take the old one's address: the port
        // must be there, and still be the one we connected to.
        if (! exists (destination) || ! isConnected (port, destination))
            return false;

        snd_seq_event_t event;
        snd_seq_ev_clear (&event);
        snd_seq_ev_set_source (&event, (unsigned char) port);
        snd_seq_ev_set_subs (&event);
        snd_seq_ev_set_direct (&event);
        // The macro's flag arithmetic is alsa-lib's own.
        JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wsign-conversion")
        snd_seq_ev_set_sysex (&event, (unsigned int) numBytes, const_cast<void*> (data));
        JUCE_END_IGNORE_WARNINGS_GCC_LIKE

        return snd_seq_event_output_direct (seq, &event) >= 0;
    }

    /** The names of the clients, other than ours, whose ports are connected to
        write to the port at this address. */
    juce::StringArray listWritersTo (PortAddress destination)
    {
        const std::lock_guard<std::mutex> sl (lock);

        snd_seq_query_subscribe_t* query = nullptr;
        snd_seq_query_subscribe_alloca (&query);

        const snd_seq_addr_t root { (unsigned char) destination.client, (unsigned char) destination.port };
        snd_seq_query_subscribe_set_root (query, &root);
        snd_seq_query_subscribe_set_type (query, SND_SEQ_QUERY_SUBS_WRITE);
        snd_seq_query_subscribe_set_index (query, 0);

        juce::StringArray names;

        while (snd_seq_query_port_subscribers (seq, query) >= 0)
        {
            const auto writer = snd_seq_query_subscribe_get_addr (query)->client;

            if (writer != clientId)
                names.addIfNotAlreadyThere (getClientName (writer));

            snd_seq_query_subscribe_set_index (query, snd_seq_query_subscribe_get_index (query) + 1);
        }

        return names;
    }

private:
    struct ListedPort
    {
        juce::MidiDeviceInfo info;
        unsigned int capability;
    };

    Client (snd_seq_t* s, int id)
        : seq (s)
        , clientId (id)
    {
    }

    /** Subscribes a port of ours, which nobody else can see or reach, to the
        sequencer's announcements. Where that fails, every listing walks the ports. */
    void listenForAnnouncements()
    {
        const std::lock_guard<std::mutex> sl (lock);

        const auto port = snd_seq_create_simple_port (seq, "announcements",
                                                      SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_NO_EXPORT,
                                                      SND_SEQ_PORT_TYPE_APPLICATION);
        hearsAnnouncements = port >= 0
                             && snd_seq_connect_from (seq, port, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE) >= 0;
    }

    /** Reads every pending announcement. True when there was one, when some were
        lost to an overrun, or when nothing says the last walk is still current.
        The sequencer announces a change after making it, so a walk never misses
        one: at worst it is seen at the next listing. */
    bool portsMayHaveChanged()
    {
        bool changed = ! walked || ! hearsAnnouncements;

        for (;;)
        {
            snd_seq_event_t* event = nullptr;
            const auto result = snd_seq_event_input (seq, &event);

            if (result == -EAGAIN)
                break;

            changed = true;

            if (result < 0 && result != -ENOSPC)
                break;
        }

        return changed;
    }

    void walkPorts()
    {
        listedPorts.clear();

        snd_seq_client_info_t* clientInfo = nullptr;
        snd_seq_port_info_t* portInfo = nullptr;
        snd_seq_client_info_alloca (&clientInfo);
        snd_seq_port_info_alloca (&portInfo);

        snd_seq_client_info_set_client (clientInfo, -1);

        while (snd_seq_query_next_client (seq, clientInfo) >= 0)
        {
            const auto listedClient = snd_seq_client_info_get_client (clientInfo);

            snd_seq_port_info_set_client (portInfo, listedClient);
            snd_seq_port_info_set_port (portInfo, -1);

            while (snd_seq_query_next_port (seq, portInfo) >= 0)
                listedPorts.push_back ({ { juce::String::fromUTF8 (snd_seq_port_info_get_name (portInfo)),
                                           formatPortIdentifier (listedClient, snd_seq_port_info_get_port (portInfo)) },
                                         snd_seq_port_info_get_capability (portInfo) });
        }

        walked = true;
    }

    juce::String getClientName (int otherClient)
    {
        snd_seq_client_info_t* clientInfo = nullptr;
        snd_seq_client_info_alloca (&clientInfo);

        if (snd_seq_get_any_client_info (seq, otherClient, clientInfo) < 0)
            return "client " + juce::String (otherClient);

        return juce::String::fromUTF8 (snd_seq_client_info_get_name (clientInfo));
    }

    bool exists (PortAddress address)
    {
        snd_seq_port_info_t* portInfo = nullptr;
        snd_seq_port_info_alloca (&portInfo);

        return snd_seq_get_any_port_info (seq, address.client, address.port, portInfo) == 0;
    }

    bool isConnected (int port, PortAddress destination)
    {
        snd_seq_port_subscribe_t* subscription = nullptr;
        snd_seq_port_subscribe_alloca (&subscription);

        const snd_seq_addr_t sender { (unsigned char) clientId, (unsigned char) port };
        const snd_seq_addr_t receiver { (unsigned char) destination.client, (unsigned char) destination.port };
        snd_seq_port_subscribe_set_sender (subscription, &sender);
        snd_seq_port_subscribe_set_dest (subscription, &receiver);

        return snd_seq_get_port_subscription (seq, subscription) == 0;
    }

    std::mutex lock;
    snd_seq_t* const seq;
    const int clientId;
    bool hearsAnnouncements = false;
    bool walked = false;
    std::vector<ListedPort> listedPorts; // as the last walk found them

    JUCE_DECLARE_NON_COPYABLE (Client)
};

//==============================================================================
class AlsaMidiService::AlsaOutput final : public MidiService::Output
{
public:
    AlsaOutput (std::shared_ptr<Client> c, int p, PortAddress d, juce::MidiDeviceInfo i)
        : client (std::move (c))
        , port (p)
        , destination (d)
        , info (std::move (i))
    {
    }

    ~AlsaOutput() override
    {
        client->closePort (port);
    }

    bool sendBytes (const void* data, size_t numBytes) override
    {
        // The sequencer carries up to 2^30 - 1 bytes in one event.
        if (numBytes == 0 || numBytes >= ((size_t) 1 << 30))
            return false;

        return client->sendSysex (port, destination, data, numBytes);
    }

    juce::MidiDeviceInfo getDeviceInfo() const override { return info; }

private:
    const std::shared_ptr<Client> client;
    const int port;
    const PortAddress destination;
    const juce::MidiDeviceInfo info;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (AlsaOutput)
};

//==============================================================================
/** An input port of the controller's, read on a thread of its own through a
    sequencer client of its own (the shared one reads the announcements).

    Any client of the sequencer can send events to any port it can address, so
    every event whose source is not the port this input was opened for is
    dropped: the kernel writes the sending client's number into each event, so
    no other program can pass for the controller. Our port is also hidden from
    the lists and takes no subscriptions but our own.

    System Exclusive messages arrive in pieces and are put together by a
    SysexAssembler, which drops one longer than it keeps. */
class AlsaMidiService::AlsaInput final : public MidiService::Input
    , private juce::Thread
{
public:
    static std::unique_ptr<AlsaInput> open (PortAddress source, juce::MidiDeviceInfo info, juce::MidiInputCallback& callback)
    {
        snd_seq_t* seq = nullptr;

        {
            const ScopedSilentAlsaErrors silent;

            if (snd_seq_open (&seq, "default", SND_SEQ_OPEN_INPUT, SND_SEQ_NONBLOCK) < 0 || seq == nullptr)
                return nullptr;
        }

        snd_midi_event_t* decoder = nullptr;
        const auto port = snd_seq_create_simple_port (seq, "input", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_NO_EXPORT,
                                                      SND_SEQ_PORT_TYPE_APPLICATION);

        if (snd_seq_set_client_name (seq, clientName) < 0 || port < 0
            || snd_seq_connect_from (seq, port, source.client, source.port) < 0 || snd_midi_event_new (64, &decoder) < 0)
        {
            snd_seq_close (seq);
            return nullptr;
        }

        snd_midi_event_no_status (decoder, 1); // every message whole, running status or not
        return std::unique_ptr<AlsaInput> (new AlsaInput (seq, decoder, source, std::move (info), callback));
    }

    ~AlsaInput() override
    {
        stop();
        snd_midi_event_free (decoder);
        snd_seq_close (seq);
    }

    void start() override { startThread(); }

    void stop() override
    {
        signalThreadShouldExit();
        stopThread (-1); // the thread wakes every pollTimeoutMs
    }

    juce::MidiDeviceInfo getDeviceInfo() const override { return info; }

private:
    static constexpr int pollTimeoutMs = 50;

    AlsaInput (snd_seq_t* s, snd_midi_event_t* d, PortAddress from, juce::MidiDeviceInfo i, juce::MidiInputCallback& c)
        : juce::Thread ("QB4II MIDI input")
        , seq (s)
        , decoder (d)
        , source (from)
        , info (std::move (i))
        , callback (c)
    {
    }

    void run() override
    {
        std::vector<pollfd> fds ((size_t) snd_seq_poll_descriptors_count (seq, POLLIN));
        snd_seq_poll_descriptors (seq, fds.data(), (unsigned int) fds.size(), POLLIN);

        while (! threadShouldExit())
        {
            if (::poll (fds.data(), (nfds_t) fds.size(), pollTimeoutMs) <= 0)
                continue;

            snd_seq_event_t* event = nullptr;

            while (! threadShouldExit() && snd_seq_event_input (seq, &event) >= 0 && event != nullptr)
                if (event->source.client == source.client && event->source.port == source.port)
                    receive (*event);
        }
    }

    void receive (snd_seq_event_t& event)
    {
        if (event.type == SND_SEQ_EVENT_SYSEX)
        {
            const auto* bytes = static_cast<const juce::uint8*> (event.data.ext.ptr);
            sysex.feed (bytes, event.data.ext.len, [this] (const juce::uint8* message, size_t size) {
                callback.handleIncomingMidiMessage (nullptr, juce::MidiMessage (message, (int) size, juce::Time::getMillisecondCounterHiRes() * 0.001));
            });
            return;
        }

        unsigned char bytes[16];
        const auto length = snd_midi_event_decode (decoder, bytes, sizeof (bytes), &event);

        if (length > 0)
            callback.handleIncomingMidiMessage (nullptr, juce::MidiMessage (bytes, (int) length, juce::Time::getMillisecondCounterHiRes() * 0.001));
    }

    snd_seq_t* const seq;
    snd_midi_event_t* const decoder;
    const PortAddress source;
    const juce::MidiDeviceInfo info;
    juce::MidiInputCallback& callback;
    SysexAssembler sysex; // input thread only

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (AlsaInput)
};

//==============================================================================
AlsaMidiService::AlsaMidiService()
    : AlsaMidiService (juce::File ("/dev/snd/seq"))
{
}

AlsaMidiService::AlsaMidiService (juce::File device)
    : sequencerDevice (std::move (device))
{
}

AlsaMidiService::~AlsaMidiService() = default;

std::shared_ptr<AlsaMidiService::Client> AlsaMidiService::getClient()
{
    const std::lock_guard<std::mutex> sl (clientLock);

    // Without the device, alsa-lib would print an error at every attempt.
    if (client == nullptr && ! sequencerDevice.exists())
        unavailableReason = "there is no ALSA sequencer (" + sequencerDevice.getFullPathName() + ")";
    else if (client == nullptr)
        client = Client::open (unavailableReason);

    if (client != nullptr)
        unavailableReason.clear();

    return client;
}

juce::String AlsaMidiService::getUnavailableReason()
{
    getClient();
    const std::lock_guard<std::mutex> sl (clientLock);
    return unavailableReason;
}

std::optional<AlsaMidiService::PortAddress> AlsaMidiService::parsePortIdentifier (const juce::String& identifier)
{
    const auto isNumber = [] (const juce::String& s) {
        return s.isNotEmpty() && s.length() <= 3 && s.containsOnly ("0123456789");
    };

    const auto clientText = identifier.upToFirstOccurrenceOf ("-", false, false);
    const auto portText = identifier.fromFirstOccurrenceOf ("-", false, false);

    if (! identifier.containsChar ('-') || ! isNumber (clientText) || ! isNumber (portText))
        return std::nullopt;

    const PortAddress address { clientText.getIntValue(), portText.getIntValue() };

    // Sequencer addresses are bytes.
    if (address.client > 255 || address.port > 255)
        return std::nullopt;

    return address;
}

juce::Array<juce::MidiDeviceInfo> AlsaMidiService::getInputDevices()
{
    if (auto c = getClient())
        return c->listPorts (SND_SEQ_PORT_CAP_SUBS_READ);

    return {};
}

juce::Array<juce::MidiDeviceInfo> AlsaMidiService::getOutputDevices()
{
    if (auto c = getClient())
        return c->listPorts (SND_SEQ_PORT_CAP_SUBS_WRITE);

    return {};
}

std::unique_ptr<MidiService::Input> AlsaMidiService::openInput (const juce::String& identifier,
                                                                juce::MidiInputCallback& callback)
{
    const auto source = parsePortIdentifier (identifier);
    const auto c = getClient();

    if (! source.has_value() || c == nullptr)
        return nullptr;

    const auto name = c->getPortName (*source, SND_SEQ_PORT_CAP_SUBS_READ);

    if (! name.has_value())
        return nullptr;

    return AlsaInput::open (*source, juce::MidiDeviceInfo (*name, identifier), callback);
}

std::unique_ptr<MidiService::Output> AlsaMidiService::openOutput (const juce::String& identifier)
{
    const auto destination = parsePortIdentifier (identifier);
    const auto c = getClient();

    if (! destination.has_value() || c == nullptr)
        return nullptr;

    const auto name = c->getPortName (*destination, SND_SEQ_PORT_CAP_SUBS_WRITE);

    if (! name.has_value())
        return nullptr;

    const auto port = c->openPortTo (*destination, *name);

    if (port < 0)
        return nullptr;

    return std::make_unique<AlsaOutput> (c, port, *destination, juce::MidiDeviceInfo (*name, identifier));
}

int AlsaMidiService::getPortRank (const juce::MidiDeviceInfo& port) const
{
    const auto address = parsePortIdentifier (port.identifier);
    constexpr int firstProgramClient = 128; // the kernel's clients are 0 to 127
    return address.has_value() && address->client < firstProgramClient ? 1 : 0;
}

std::optional<juce::StringArray> AlsaMidiService::findOtherWriters (const juce::String& outputIdentifier)
{
    const auto destination = parsePortIdentifier (outputIdentifier);
    const auto c = getClient();

    if (! destination.has_value() || c == nullptr)
        return juce::StringArray();

    return c->listWritersTo (*destination);
}

#endif
