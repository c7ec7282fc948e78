#include <juce_core/juce_core.h>

#if JUCE_LINUX

#include "midi/AlsaMidiService.h"
#include "midi/MidiManager.h"
#include "support/TestHelpers.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

// The service on a real sequencer is exercised in the VM suite (tests/vm); these
// cases cover a machine without one, like a build server.

namespace
{
    /** Everything written to the process's stderr while it lives. */
    class StderrCapture
    {
    public:
        StderrCapture()
        {
            std::fflush (stderr);
            saved = ::dup (STDERR_FILENO);

            const auto fd = ::open (file.getFile().getFullPathName().toRawUTF8(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2 (fd, STDERR_FILENO);
            ::close (fd);
        }

        ~StderrCapture() { restore(); }

        juce::String finish()
        {
            restore();
            return file.getFile().loadFileAsString();
        }

    private:
        void restore()
        {
            if (saved < 0)
                return;

            std::fflush (stderr);
            ::dup2 (saved, STDERR_FILENO);
            ::close (saved);
            saved = -1;
        }

        juce::TemporaryFile file;
        int saved = -1;
    };

    struct IgnoringCallback final : juce::MidiInputCallback
    {
        void handleIncomingMidiMessage (juce::MidiInput*, const juce::MidiMessage&) override {}
    };

    struct CountingListener final : MidiManager::Listener
    {
        void handleIncomingMidiMessage (juce::MidiInput*, const juce::MidiMessage&) override { ++calls; }
        void midiInputDeviceDisconnected (juce::StringArray) override { ++calls; }
        void midiOutputDeviceDisconnected (juce::StringArray) override { ++calls; }
        void midiInputDeviceReconnected (juce::StringArray) override { ++calls; }
        void midiOutputDeviceReconnected (juce::StringArray) override { ++calls; }

        std::atomic<int> calls { 0 };
    };

    bool systemHasSequencer() { return juce::File ("/dev/snd/seq").exists(); }

    const juce::File absentDevice ("/nonexistent/qb4ii/snd/seq");

    /** Lists, and tries to open an input and an output by every kind of
        identifier; nothing may come of it. */
    void expectNothingFrom (AlsaMidiService& service)
    {
        IgnoringCallback callback;

        for (int i = 0; i < 20; ++i)
        {
            EXPECT_TRUE (service.getInputDevices().isEmpty());
            EXPECT_TRUE (service.getOutputDevices().isEmpty());
        }

        for (const auto* identifier : { "0-0", "14-0", "24-0", "", "garbage" })
        {
            EXPECT_EQ (service.openOutput (identifier), nullptr) << identifier;
            EXPECT_EQ (service.openInput (identifier, callback), nullptr) << identifier;
        }
    }
} // namespace

TEST (AlsaMidiService, IsThePlatformServiceOnLinux)
{
    const auto service = MidiService::createPlatformService();
    EXPECT_NE (dynamic_cast<AlsaMidiService*> (service.get()), nullptr);
}

TEST (AlsaMidiService, WithoutSequencerListsAndOpensNothingAndPrintsNothing)
{
    AlsaMidiService service (absentDevice);

    StderrCapture capture;
    expectNothingFrom (service);
    EXPECT_EQ (capture.finish(), juce::String());
    EXPECT_EQ (service.getUnavailableReason(), "there is no ALSA sequencer (" + absentDevice.getFullPathName() + ")");
}

TEST (AlsaMidiService, SequencerDeviceThatCannotBeOpenedIsTriedSilently)
{
    if (systemHasSequencer())
        GTEST_SKIP() << "this system has an ALSA sequencer";

    // The device "exists", so every listing tries alsa-lib, whose open fails:
    // the failure must not reach stderr.
    juce::TemporaryFile device;
    ASSERT_TRUE (device.getFile().create().wasOk());
    AlsaMidiService service (device.getFile());

    StderrCapture capture;
    expectNothingFrom (service);
    EXPECT_EQ (capture.finish(), juce::String());
    EXPECT_TRUE (service.getUnavailableReason().startsWith ("the ALSA sequencer cannot be opened: ")) << service.getUnavailableReason();
}

TEST (AlsaMidiService, ManagerWithoutSequencerPollsQuietlyAndReportsNothing)
{
    auto service = std::make_shared<AlsaMidiService> (absentDevice);
    CountingListener listener;

    StderrCapture capture;

    {
        MidiManager::Ptr manager (new MidiManager (service));
        manager->addListener (&listener);

        manager->openInputDevice ("Korvan QB4 II MIDI 1");
        manager->openOutputDevice ("Korvan QB4 II MIDI 1");

        const juce::uint8 request[] = { 0xf0, 0x7e, 0x7f, 0x06, 0x01, 0xf7 };
        EXPECT_FALSE (manager->sendMessage ("Korvan QB4 II MIDI 1", juce::MidiMessage (request, sizeof (request))));
        EXPECT_FALSE (manager->sendMessageToAllOutputs (juce::MidiMessage (request, sizeof (request))));
        EXPECT_TRUE (manager->getOutputDeviceNames().isEmpty());

        // Several polls.
        testing_support::pumpFor (6 * MidiManager::pollIntervalMs);

        EXPECT_FALSE (manager->isInputDeviceOpen ("Korvan QB4 II MIDI 1"));
        EXPECT_FALSE (manager->isOutputDeviceOpen ("Korvan QB4 II MIDI 1"));
        manager->removeListener (&listener);
    }

    EXPECT_EQ (capture.finish(), juce::String());
    EXPECT_EQ (listener.calls.load(), 0);
}

TEST (AlsaMidiService, PortIdentifiersAreTheFrameworksClientDashPort)
{
    const auto parsed = [] (const char* text) { return AlsaMidiService::parsePortIdentifier (text); };

    ASSERT_TRUE (parsed ("24-0").has_value());
    EXPECT_EQ (parsed ("24-0")->client, 24);
    EXPECT_EQ (parsed ("24-0")->port, 0);
    EXPECT_EQ (parsed ("0-0")->client, 0);
    EXPECT_EQ (parsed ("129-255")->client, 129);
    EXPECT_EQ (parsed ("129-255")->port, 255);

    for (const auto* bad : { "", "24", "24-", "-0", "24-0-1", "a-0", "24-x", " 24-0", "24-0 ",
                             "+1-0", "256-0", "24-256", "1000-0", "virtual-out-1" })
        EXPECT_FALSE (parsed (bad).has_value()) << '"' << bad << '"';
}

#endif
