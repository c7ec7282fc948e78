/*
    The application side of the MIDI checks run in the test VM (tests/vm/run.sh):
    a headless program that reaches the system's MIDI ports exactly as the updater
    does, through MidiManager on the platform's MIDI service.

    qb4ii_vm_host list
        Prints every input and output port the service lists.
    qb4ii_vm_host appear PORT TIMEOUT_MS
        Lists the outputs every 50 ms until PORT is listed, after saying "waiting"
        once the first listing came back empty. For a sequencer that appears late.
    qb4ii_vm_host send PORT INTERVAL_MS IMAGE_FILE [--juce]
        Writes the firmware image message to IMAGE_FILE, then sends it to PORT in
        256-byte slices, one every INTERVAL_MS, through MidiManager; with --juce
        through the framework's own juce::MidiOutput instead (a control).
    qb4ii_vm_host identity PORT REPLY_HEX TIMEOUT_MS
        Opens PORT's input and output, sends the identity request and waits for a
        System Exclusive message, which must equal REPLY_HEX.
    qb4ii_vm_host vanish PORT TIMEOUT_MS
        Opens PORT's output on the service, sends, says "unplug now" and waits for
        PORT to vanish, then says "plug in now" and waits for it to come back:
        sends on the old output must fail in both states.

    A PORT ending in '*' names the first output whose name starts with the rest.
    Every line of output starts with the command's name; the exit status is 0 on
    success.
*/

#include "midi/MidiManager.h"
#include "midi/MidiService.h"

#include <juce_events/juce_events.h>

#include <iostream>
#include <mutex>

namespace
{
    constexpr int sliceSize = 256;
    constexpr int imageMessageSize = 146777;

    /** The firmware image message: F0, the maker's header, Intel HEX text, F7.
        A stand-in of the real message's size and shape, its text varying line by
        line so that a lost, repeated or reordered slice shows. Once the embedded
        image is built into the core library, this returns it instead. */
    juce::MemoryBlock makeImageMessage()
    {
        juce::MemoryOutputStream out;

        for (auto b : { 0xf0, 0x00, 0x7f, 0x7f, 0x00, 0x2c, 0x70 })
            out.writeByte ((char) b);

        const auto textSize = imageMessageSize - 8;
        juce::String text;
        text.preallocateBytes ((size_t) textSize + 64);

        for (int line = 0; text.length() < textSize; ++line)
        {
            const auto address = (line * 16) & 0xffff;
            juce::String record = ":10" + juce::String::toHexString (address).paddedLeft ('0', 4) + "00";
            int sum = 0x10 + (address >> 8) + (address & 0xff);

            for (int i = 0; i < 16; ++i)
            {
                const auto value = (line * 31 + i * 7) & 0xff;
                record << juce::String::toHexString (value).paddedLeft ('0', 2);
                sum += value;
            }

            text << record.toUpperCase() << juce::String::toHexString ((0x100 - (sum & 0xff)) & 0xff).paddedLeft ('0', 2).toUpperCase() << "\r\n";
        }

        out.write (text.toRawUTF8(), (size_t) textSize);
        out.writeByte ((char) 0xf7);

        jassert ((int) out.getDataSize() == imageMessageSize);
        return out.getMemoryBlock();
    }

    const juce::uint8 identityRequest[] = { 0xf0, 0x7e, 0x7f, 0x06, 0x01, 0xf7 };

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

    int send (const juce::String& port, int intervalMs, const juce::File& imageFile, bool throughFramework)
    {
        const auto image = makeImageMessage();

        if (! imageFile.replaceWithData (image.getData(), image.getSize()))
        {
            say ("send") << "cannot write " << imageFile.getFullPathName() << std::endl;
            return 1;
        }

        const auto service = MidiService::createPlatformService();
        MidiManager::Ptr manager (new MidiManager (service));
        const auto name = findOutput (*service, port);
        std::unique_ptr<juce::MidiOutput> frameworkOutput;

        if (throughFramework)
        {
            for (const auto& info : juce::MidiOutput::getAvailableDevices())
                if (info.name == name && frameworkOutput == nullptr)
                    frameworkOutput = juce::MidiOutput::openDevice (info.identifier);
        }
        else if (name.isNotEmpty())
        {
            manager->openOutputDevice (name);
        }

        if (name.isEmpty() || (throughFramework ? frameworkOutput == nullptr : ! manager->isOutputDeviceOpen (name)))
        {
            say ("send") << "cannot open \"" << port << "\"" << std::endl;
            return 1;
        }

        const auto* bytes = static_cast<const juce::uint8*> (image.getData());
        const auto total = (int) image.getSize();
        int slices = 0, refused = 0;
        const auto start = juce::Time::getMillisecondCounterHiRes();

        for (int offset = 0; offset < total; offset += sliceSize)
        {
            if (offset > 0)
                pumpFor (intervalMs);

            const juce::MidiMessage slice (bytes + offset, juce::jmin (sliceSize, total - offset), 0.0);
            ++slices;

            if (throughFramework)
                frameworkOutput->sendMessageNow (slice);
            else if (! manager->sendMessage (name, slice))
                ++refused;
        }

        const auto seconds = (juce::Time::getMillisecondCounterHiRes() - start) / 1000.0;
        say ("send") << (throughFramework ? "juce::MidiOutput" : "MidiManager") << " to \"" << name << "\": "
                     << slices << " slices, " << total << " bytes, " << refused << " refused, "
                     << juce::String (seconds, 2) << " s" << std::endl;

        return refused == 0 ? 0 : 1;
    }

    /** Keeps the System Exclusive messages arriving on the manager's inputs. */
    class SysexCollector final : public MidiManager::Listener
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
        const auto sent = opened && manager->sendMessage (port, juce::MidiMessage (identityRequest, sizeof (identityRequest)));
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

        const auto& reply = received.front();
        const auto matches = juce::MemoryBlock (reply.getRawData(), (size_t) reply.getRawDataSize()) == expected;

        say ("identity") << "reply of " << reply.getRawDataSize() << " bytes after "
                         << juce::roundToInt (juce::Time::getMillisecondCounterHiRes() - start) << " ms: "
                         << toHex (reply.getRawData(), (size_t) reply.getRawDataSize())
                         << (matches ? " (as sent)" : " (differs from what the device sent)") << std::endl;

        return matches ? 0 : 1;
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

        for (const auto& info : service->getOutputDevices())
            if (info.name == port && output == nullptr)
                output = service->openOutput (info.identifier);

        if (output == nullptr || ! output->sendBytes (identityRequest, sizeof (identityRequest)))
        {
            say ("vanish") << "cannot open and send to \"" << port << "\"" << std::endl;
            return 1;
        }

        say ("vanish") << "sent to " << output->getDeviceInfo().identifier << ", unplug now" << std::endl;

        if (! waitForListing (*service, port, false, deadline))
        {
            say ("vanish") << "the port was not unplugged" << std::endl;
            return 1;
        }

        const auto refusedWhileGone = ! output->sendBytes (identityRequest, sizeof (identityRequest));
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
        const auto refusedOnceBack = ! output->sendBytes (identityRequest, sizeof (identityRequest));
        say ("vanish") << "port back as " << identifierNow << ", send on the old output "
                       << (refusedOnceBack ? "refused" : "ACCEPTED") << std::endl;

        return refusedWhileGone && refusedOnceBack ? 0 : 1;
    }

    int usage()
    {
        std::cerr << "usage: qb4ii_vm_host list | appear PORT TIMEOUT_MS | send PORT INTERVAL_MS IMAGE_FILE [--juce]"
                     " | identity PORT REPLY_HEX TIMEOUT_MS | vanish PORT TIMEOUT_MS" << std::endl;
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

    if (command == "send" && (args.size() == 4 || (args.size() == 5 && args[4] == "--juce")))
        return send (args[1], args[2].getIntValue(), juce::File (args[3]), args.size() == 5);

    if (command == "identity" && args.size() == 4)
        return identity (args[1], args[2], args[3].getIntValue());

    if (command == "vanish" && args.size() == 3)
        return vanish (args[1], args[2].getIntValue());

    return usage();
}
