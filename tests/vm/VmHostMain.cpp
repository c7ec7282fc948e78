/*
    The application side of the MIDI checks run in the test VM (tests/vm/run.sh):
    a headless program that reaches the system's MIDI ports exactly as the updater
    does, through MidiManager on the platform's MIDI service.

    qb4ii_vm_host list
        Prints every input and output port the service lists.
    qb4ii_vm_host appear PORT TIMEOUT_MS
        Lists the outputs every 50 ms until PORT is listed, after saying "waiting"
        once the first listing came back empty. For a sequencer that appears late.
    qb4ii_vm_host image FILE
        Writes the embedded firmware image message to FILE and prints its size.
    qb4ii_vm_host send PORT INTERVAL_MS [--juce]
        Streams the firmware image message to PORT as an emergency update does: a
        FirmwareSysexSender sends its 256-byte blocks through MidiManager, one
        every INTERVAL_MS. With --juce the same blocks go through the framework's
        own juce::MidiOutput instead (a control).
    qb4ii_vm_host reply MAJOR MINOR PATCH
        Prints, in hex, the controller's 37-byte identity reply for this firmware
        version, for the device side to send.
    qb4ii_vm_host identity PORT REPLY_HEX TIMEOUT_MS
        Opens PORT's input and output, sends the identity request and waits for a
        System Exclusive message, which must equal REPLY_HEX and parse as an
        identity reply.
    qb4ii_vm_host ping PORT TIMEOUT_MS
        Opens PORT's input and output and sends the identity request every 250 ms,
        as detection does, until an identity reply arrives.
    qb4ii_vm_host forged PORT REPLY_HEX
        Opens PORT's input through the service, and the framework's own
        juce::MidiInput on it (a control), then plays another program: a client
        of its own sends REPLY_HEX straight to every port of every other client.
        The control must receive it, the service's input must not.
    qb4ii_vm_host probe PORT
        Opens PORT's input and output on the service and closes them again: the
        port is usable, not just listed.
    qb4ii_vm_host vanish PORT TIMEOUT_MS
        Opens PORT's output on the service, sends, says "unplug now" and waits for
        PORT to vanish, then says "plug in now" and waits for it to come back:
        sends on the old output must fail in both states.

    A PORT ending in '*' names the first output whose name starts with the rest.
    Every line of output starts with the command's name; the exit status is 0 on
    success.
*/

#include "firmware/DeviceMessages.h"
#include "firmware/FirmwareSysexSender.h"
#include "firmware/FirmwareUpdate.h"
#include "midi/MidiManager.h"
#include "midi/MidiService.h"

#include <juce_events/juce_events.h>

extern "C"
{
#include <alsa/asoundlib.h>
}

#include <iostream>
#include <mutex>
#include <optional>

namespace
{
    constexpr unsigned blockSize = 256;

    juce::MidiMessage identityRequest()
    {
        return juce::MidiMessage (identityRequestMessage.data(), (int) identityRequestMessage.size());
    }

    void pumpFor (int milliseconds)
    {
        const auto end = juce::Time::getMillisecondCounterHiRes() + milliseconds;

        while (juce::Time::getMillisecondCounterHiRes() < end)
            juce::MessageManager::getInstance()->runDispatchLoopUntil (1);
    }

    std::ostream& say (const char* command) { return std::cout << command << ": "; }

    juce::String toHex (const void* data, size_t size)
    {
        return juce::String::toHexString (data, (int) size, 0).toUpperCase();
    }

    /** The name of the listed output that PORT designates, or empty. */
    juce::String findOutput (MidiService& service, const juce::String& port)
    {
        for (const auto& info : service.getOutputDevices())
            if (port.endsWithChar ('*') ? info.name.startsWith (port.dropLastCharacters (1)) : info.name == port)
                return info.name;

        return {};
    }

    int list()
    {
        const auto service = MidiService::createPlatformService();

        for (const auto& info : service->getInputDevices())
            say ("list") << "input  " << info.identifier << " \"" << info.name << "\"" << std::endl;

        for (const auto& info : service->getOutputDevices())
            say ("list") << "output " << info.identifier << " \"" << info.name << "\"" << std::endl;

        return 0;
    }

    int appear (const juce::String& port, int timeoutMs)
    {
        const auto service = MidiService::createPlatformService();
        const auto start = juce::Time::getMillisecondCounterHiRes();
        bool saidWaiting = false;

        for (int listings = 1;; ++listings)
        {
            if (findOutput (*service, port).isNotEmpty())
            {
                say ("appear") << "\"" << port << "\" listed after " << juce::roundToInt (juce::Time::getMillisecondCounterHiRes() - start)
                               << " ms, at listing " << listings << std::endl;
                return 0;
            }

            if (! saidWaiting)
            {
                say ("appear") << "waiting, " << service->getOutputDevices().size() << " outputs listed" << std::endl;
                saidWaiting = true;
            }

            if (juce::Time::getMillisecondCounterHiRes() - start > timeoutMs)
            {
                say ("appear") << "\"" << port << "\" not listed within " << timeoutMs << " ms" << std::endl;
                return 1;
            }

            juce::Thread::sleep (MidiManager::pollIntervalMs);
        }
    }

    /** Remembers the sender's last status. */
    class StatusRecorder final : public FirmwareSysexSender::Listener
    {
    public:
        void sysexProgressChanged (FirmwareSysexSender*, double) override {}
        void sysexStatusChanged (FirmwareSysexSender*, juce::String s) override { status = s; }

        juce::String status;
    };

    /** The sender's way, on MidiManager over the platform's service. Returns the
        number of blocks sent and sets the final status. */
    unsigned sendThroughManager (FirmwareUpdate& update, juce::String& status)
    {
        MidiManager::Ptr manager (new MidiManager());
        StatusRecorder recorder;
        FirmwareSysexSender::Ptr sender (new FirmwareSysexSender (&update, manager, &recorder));

        sender->startSending();

        // Ample time for the whole stream; the status ends it.
        const auto deadline = juce::Time::getMillisecondCounterHiRes() + 5000.0
                              + 4.0 * update.getBlockInterval() * (update.getNumBlocks() + 1);

        while (recorder.status.isEmpty() && juce::Time::getMillisecondCounterHiRes() < deadline)
            pumpFor (5);

        status = recorder.status.isEmpty() ? juce::String ("no status") : recorder.status;
        return sender->getCurrentBlock();
    }

    /** The same blocks at the same pace, through the framework's own output. */
    unsigned sendThroughFramework (const FirmwareUpdate& update, juce::String& status)
    {
        std::unique_ptr<juce::MidiOutput> output;

        for (const auto& info : juce::MidiOutput::getAvailableDevices())
            if (info.name == update.getDeviceName() && output == nullptr)
                output = juce::MidiOutput::openDevice (info.identifier);

        if (output == nullptr)
        {
            status = "cannot open the port";
            return 0;
        }

        for (int block = 0; block < (int) update.getNumBlocks(); ++block)
        {
            pumpFor (update.getBlockInterval());

            const auto bytes = update.getBlock (block);
            output->sendMessageNow (juce::MidiMessage (bytes.getRawDataPointer(), bytes.size()));
        }

        status = FirmwareSysexSender::statusCompleted;
        return update.getNumBlocks();
    }

    int image (const juce::File& file)
    {
        if (! file.replaceWithData (firmwareImage, (size_t) firmwareImageSize))
        {
            say ("image") << "cannot write " << file.getFullPathName() << std::endl;
            return 1;
        }

        std::cout << firmwareImageSize << std::endl;
        return 0;
    }

    int send (const juce::String& port, int intervalMs, bool throughFramework)
    {
        const auto name = findOutput (*MidiService::createPlatformService(), port);

        if (name.isEmpty())
        {
            say ("send") << "\"" << port << "\" is not listed" << std::endl;
            return 1;
        }

        // An emergency update: no erase request, the stream starts at once.
        FirmwareUpdate update (firmwareImage, firmwareImageSize, blockSize, intervalMs, name);
        juce::String status;
        const auto start = juce::Time::getMillisecondCounterHiRes();

        const auto blocks = throughFramework ? sendThroughFramework (update, status)
                                             : sendThroughManager (update, status);

        const auto seconds = (juce::Time::getMillisecondCounterHiRes() - start) / 1000.0;
        say ("send") << (throughFramework ? "juce::MidiOutput" : "FirmwareSysexSender on MidiManager") << " to \"" << name
                     << "\": " << blocks << " of " << update.getNumBlocks() << " blocks of " << firmwareImageSize
                     << " bytes, \"" << status << "\", " << juce::String (seconds, 2) << " s" << std::endl;

        return status == FirmwareSysexSender::statusCompleted && blocks == update.getNumBlocks() ? 0 : 1;
    }

    int reply (int major, int minor, int patch)
    {
        juce::MemoryBlock bytes (identityReplyPrefix.data(), identityReplyPrefix.size());
        bytes.setSize ((size_t) identityReplyLength, true);
        bytes[12] = (char) major;
        bytes[13] = (char) minor;
        bytes[14] = (char) patch;
        bytes[(size_t) identityReplyLength - 1] = (char) 0xf7;

        std::cout << toHex (bytes.getData(), bytes.getSize()) << std::endl;
        return 0;
    }

    /** Keeps the System Exclusive messages arriving on the manager's inputs. */
    /** Collects System Exclusive messages, from the manager or from a framework input. */
    class SysexCollector final : public MidiManager::Listener
        , public juce::MidiInputCallback
    {
    public:
        void handleIncomingMidiMessage (juce::MidiInput*, const juce::MidiMessage& message) override
        {
            if (! message.isSysEx())
                return;

            const std::lock_guard<std::mutex> sl (lock);
            messages.push_back (message);
        }

        void midiInputDeviceDisconnected (juce::StringArray) override {}
        void midiOutputDeviceDisconnected (juce::StringArray) override {}

        std::vector<juce::MidiMessage> get()
        {
            const std::lock_guard<std::mutex> sl (lock);
            return messages;
        }

    private:
        std::mutex lock;
        std::vector<juce::MidiMessage> messages;
    };

    int identity (const juce::String& port, const juce::String& replyHex, int timeoutMs)
    {
        juce::MemoryBlock expected;
        expected.loadFromHexString (replyHex);

        MidiManager::Ptr manager (new MidiManager());
        SysexCollector collector;
        manager->addListener (&collector);

        manager->openInputDevice (port);
        manager->openOutputDevice (port);

        const auto opened = manager->isInputDeviceOpen (port) && manager->isOutputDeviceOpen (port);
        const auto sent = opened && manager->sendMessage (port, identityRequest());
        const auto start = juce::Time::getMillisecondCounterHiRes();

        while (sent && collector.get().empty() && juce::Time::getMillisecondCounterHiRes() - start < timeoutMs)
            pumpFor (5);

        const auto received = collector.get();
        manager->removeListener (&collector);

        if (! sent)
        {
            say ("identity") << (opened ? "the request was refused" : "cannot open \"" + port + "\"") << std::endl;
            return 1;
        }

        if (received.empty())
        {
            say ("identity") << "no reply within " << timeoutMs << " ms" << std::endl;
            return 1;
        }

        const auto& answer = received.front();
        const auto matches = juce::MemoryBlock (answer.getRawData(), (size_t) answer.getRawDataSize()) == expected;
        const auto version = parseIdentityReply (answer);

        say ("identity") << "reply of " << answer.getRawDataSize() << " bytes after "
                         << juce::roundToInt (juce::Time::getMillisecondCounterHiRes() - start) << " ms: "
                         << toHex (answer.getRawData(), (size_t) answer.getRawDataSize())
                         << (matches ? " (as sent)" : " (differs from what the device sent)")
                         << ", firmware version " << (version.has_value() ? juce::String (*version, 2) : juce::String ("unreadable"))
                         << std::endl;

        return matches && version.has_value() ? 0 : 1;
    }

    int forged (const juce::String& port, const juce::String& replyHex)
    {
        juce::MemoryBlock reply;
        reply.loadFromHexString (replyHex);

        MidiManager::Ptr manager (new MidiManager());
        SysexCollector updater, control;
        manager->addListener (&updater);
        manager->openInputDevice (port);

        std::unique_ptr<juce::MidiInput> juceInput;
        int controllerClient = -1;
        for (const auto& info : juce::MidiInput::getAvailableDevices())
            if (info.name == port && (juceInput = juce::MidiInput::openDevice (info.identifier, &control)) != nullptr)
                controllerClient = info.identifier.upToFirstOccurrenceOf ("-", false, false).getIntValue();

        snd_seq_t* seq = nullptr;
        if (! manager->isInputDeviceOpen (port) || juceInput == nullptr || snd_seq_open (&seq, "default", SND_SEQ_OPEN_OUTPUT, 0) < 0)
        {
            say ("forged") << "cannot open \"" << port << "\" both ways, or a client of its own" << std::endl;
            return 1;
        }

        // Every port of every client but the controller's and this one's.
        juceInput->start();
        snd_seq_event_t event;
        snd_seq_ev_clear (&event);
        snd_seq_ev_set_source (&event, (unsigned char) snd_seq_create_simple_port (seq, "out", SND_SEQ_PORT_CAP_READ, SND_SEQ_PORT_TYPE_APPLICATION));
        snd_seq_ev_set_direct (&event);
        JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wsign-conversion") // the macro's flag arithmetic is alsa-lib's own
        snd_seq_ev_set_sysex (&event, (unsigned int) reply.getSize(), reply.getData());
        JUCE_END_IGNORE_WARNINGS_GCC_LIKE
        snd_seq_client_info_t* clientInfo = nullptr;
        snd_seq_port_info_t* portInfo = nullptr;
        snd_seq_client_info_alloca (&clientInfo);
        snd_seq_port_info_alloca (&portInfo);
        int delivered = 0;

        for (snd_seq_client_info_set_client (clientInfo, -1); snd_seq_query_next_client (seq, clientInfo) >= 0;)
        {
            const auto client = snd_seq_client_info_get_client (clientInfo);
            snd_seq_port_info_set_client (portInfo, client);
            snd_seq_port_info_set_port (portInfo, -1);

            while (client != controllerClient && client != snd_seq_client_id (seq) && snd_seq_query_next_port (seq, portInfo) >= 0)
            {
                snd_seq_ev_set_dest (&event, (unsigned char) client, (unsigned char) snd_seq_port_info_get_port (portInfo));
                delivered += snd_seq_event_output_direct (seq, &event) >= 0 ? 1 : 0;
            }
        }

        pumpFor (1000);
        juceInput->stop();
        manager->removeListener (&updater);
        snd_seq_close (seq);

        // Nothing asked the controller anything: whatever arrived is forged.
        const auto tookControl = control.get().size(), tookUpdater = updater.get().size();
        say ("forged") << "sent to " << delivered << " ports; the framework's input took " << tookControl << ", the updater's " << tookUpdater << std::endl;
        return tookControl > 0 && tookUpdater == 0 ? 0 : 1;
    }

    int ping (const juce::String& port, int timeoutMs)
    {
        MidiManager::Ptr manager (new MidiManager());
        SysexCollector collector;
        manager->addListener (&collector);
        manager->openInputDevice (port);
        manager->openOutputDevice (port);

        const auto start = juce::Time::getMillisecondCounterHiRes();
        std::optional<double> version;
        int requests = 0;

        while (! version.has_value() && juce::Time::getMillisecondCounterHiRes() - start < timeoutMs)
        {
            if (manager->sendMessage (port, identityRequest()))
                ++requests;

            pumpFor (250);

            for (const auto& message : collector.get())
                if (! version.has_value())
                    version = parseIdentityReply (message);
        }

        manager->removeListener (&collector);
        say ("ping") << "\"" << port << "\": " << requests << " requests, "
                     << (version.has_value() ? "version " + juce::String (*version, 2) : juce::String ("no identity reply"))
                     << " after " << juce::roundToInt (juce::Time::getMillisecondCounterHiRes() - start) << " ms" << std::endl;
        return version.has_value() ? 0 : 1;
    }

    int probe (const juce::String& port)
    {
        const auto service = MidiService::createPlatformService();
        std::unique_ptr<MidiService::Input> input;
        std::unique_ptr<MidiService::Output> output;
        struct : juce::MidiInputCallback
        {
            void handleIncomingMidiMessage (juce::MidiInput*, const juce::MidiMessage&) override {}
        } ignore;

        for (const auto& info : service->getInputDevices())
            if (info.name == port && input == nullptr)
                input = service->openInput (info.identifier, ignore);

        if (input != nullptr)
            input->start();

        for (const auto& info : service->getOutputDevices())
            if (info.name == port && output == nullptr)
                output = service->openOutput (info.identifier);

        say ("probe") << "\"" << port << "\": input " << (input != nullptr ? "opens" : "does NOT open") << ", output "
                      << (output != nullptr ? "opens" : "does NOT open") << std::endl;
        return input != nullptr && output != nullptr ? 0 : 1;
    }

    /** Waits until PORT is listed, or not; false at the deadline. */
    bool waitForListing (MidiService& service, const juce::String& port, bool listed, double deadline)
    {
        while (findOutput (service, port).isNotEmpty() != listed)
        {
            if (juce::Time::getMillisecondCounterHiRes() > deadline)
                return false;

            juce::Thread::sleep (MidiManager::pollIntervalMs);
        }

        return true;
    }

    int vanish (const juce::String& port, int timeoutMs)
    {
        const auto service = MidiService::createPlatformService();
        const auto deadline = juce::Time::getMillisecondCounterHiRes() + timeoutMs;

        std::unique_ptr<MidiService::Output> output;

        // Opened as the manager opens a port: tried again at each poll, here for up
        // to two seconds. Just after another program closed the port, the kernel
        // may still be releasing the USB device's side for it.
        for (const auto openDeadline = juce::Time::getMillisecondCounterHiRes() + 2000.0;
             output == nullptr && juce::Time::getMillisecondCounterHiRes() < openDeadline;)
        {
            for (const auto& info : service->getOutputDevices())
                if (info.name == port && output == nullptr)
                    output = service->openOutput (info.identifier);

            if (output == nullptr)
                juce::Thread::sleep (MidiManager::pollIntervalMs);
        }

        if (output == nullptr)
        {
            say ("vanish") << "cannot open \"" << port << "\" within 2 s" << std::endl;
            return 1;
        }

        if (! output->sendBytes (identityRequestMessage.data(), identityRequestMessage.size()))
        {
            say ("vanish") << "\"" << port << "\" opens but refused the first send" << std::endl;
            return 1;
        }

        say ("vanish") << "sent to " << output->getDeviceInfo().identifier << ", unplug now" << std::endl;

        if (! waitForListing (*service, port, false, deadline))
        {
            say ("vanish") << "the port was not unplugged" << std::endl;
            return 1;
        }

        const auto refusedWhileGone = ! output->sendBytes (identityRequestMessage.data(), identityRequestMessage.size());
        say ("vanish") << "port gone, send " << (refusedWhileGone ? "refused" : "ACCEPTED") << ", plug in now" << std::endl;

        if (! waitForListing (*service, port, true, deadline))
        {
            say ("vanish") << "the port did not come back" << std::endl;
            return 1;
        }

        juce::String identifierNow;
        for (const auto& info : service->getOutputDevices())
            if (info.name == port)
                identifierNow = info.identifier;

        // The new port may well have the old one's address.
        const auto refusedOnceBack = ! output->sendBytes (identityRequestMessage.data(), identityRequestMessage.size());
        say ("vanish") << "port back as " << identifierNow << ", send on the old output "
                       << (refusedOnceBack ? "refused" : "ACCEPTED") << std::endl;

        return refusedWhileGone && refusedOnceBack ? 0 : 1;
    }

    int usage()
    {
        std::cerr << "usage: qb4ii_vm_host list | appear PORT TIMEOUT_MS | image FILE | send PORT INTERVAL_MS [--juce]"
                     " | reply MAJOR MINOR PATCH"
                     " | identity PORT REPLY_HEX TIMEOUT_MS | forged PORT REPLY_HEX | ping PORT TIMEOUT_MS | probe PORT"
                     " | vanish PORT TIMEOUT_MS"
                  << std::endl;
        return 2;
    }
} // namespace

int main (int argc, char** argv)
{
    const juce::ScopedJuceInitialiser_GUI juce;

    juce::StringArray args;
    for (int i = 1; i < argc; ++i)
        args.add (juce::CharPointer_UTF8 (argv[i]));

    const auto command = args[0];

    if (command == "list" && args.size() == 1)
        return list();

    if (command == "appear" && args.size() == 3)
        return appear (args[1], args[2].getIntValue());

    if (command == "image" && args.size() == 2)
        return image (juce::File (args[1]));

    if (command == "send" && (args.size() == 3 || (args.size() == 4 && args[3] == "--juce")))
        return send (args[1], args[2].getIntValue(), args.size() == 4);

    if (command == "reply" && args.size() == 4)
        return reply (args[1].getIntValue(), args[2].getIntValue(), args[3].getIntValue());

    if (command == "identity" && args.size() == 4)
        return identity (args[1], args[2], args[3].getIntValue());

    if (command == "forged" && args.size() == 3)
        return forged (args[1], args[2]);

    if (command == "ping" && args.size() == 3)
        return ping (args[1], args[2].getIntValue());

    if (command == "probe" && args.size() == 2)
        return probe (args[1]);

    if (command == "vanish" && args.size() == 3)
        return vanish (args[1], args[2].getIntValue());

    return usage();
}
