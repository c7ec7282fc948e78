// The standalone controller emulator's own parts: its command line, its loop's
// scheduler and the exit status a scripted run relies on. Its ALSA transports
// are exercised in the VM checks (tests/vm).

#if QB4II_HAVE_CONTROLLER_EMULATOR_TOOL

#include "EmulatorOptions.h"
#include "EmulatorSession.h"
#include "emulator/TaskScheduler.h"
#include "firmware/DeviceMessages.h"

#include <gtest/gtest.h>

#include <deque>

namespace
{
    std::optional<EmulatorOptions> parse (const juce::String& commandLine, juce::String& error)
    {
        return EmulatorOptions::parse (juce::StringArray::fromTokens (commandLine, false), error);
    }

    /** The application's side, scripted: hands the session one byte string per
        service() while the controller is present, and asks for the version again
        whenever the controller comes back. */
    class ScriptedTransport final : public EmulatorTransport
    {
    public:
        explicit ScriptedTransport (std::deque<juce::MemoryBlock> s)
            : script (std::move (s))
        {
        }

        juce::String open() override { return {}; }
        std::vector<pollfd> getPollDescriptors() override { return {}; }

        void service (Listener& listener) override
        {
            if (! present || script.empty())
                return;

            const auto next = script.front();
            script.pop_front();
            listener.bytesReceived (next.getData(), next.getSize());
        }

        void send (const juce::MemoryBlock& message) override { sent.push_back (message); }

        void setPresent (bool p, const juce::String&) override
        {
            if (p && appearances++ > 0)
                script.push_back (identityRequest());

            present = p;
        }

        static juce::MemoryBlock identityRequest()
        {
            return { identityRequestMessage.data(), identityRequestMessage.size() };
        }

        std::deque<juce::MemoryBlock> script;
        std::vector<juce::MemoryBlock> sent;
        bool present = false;
        int appearances = 0;
    };

    /** What a session left behind: its exit status (-1 when it did not end
        within 10 s) and what its transport saw, copied before the session and
        the transport it owns are gone. */
    struct SessionResult
    {
        int status = -1;
        std::vector<juce::MemoryBlock> sent;
        int appearances = 0;
    };

    /** Runs a session without --keep-running on an update carrying this image. */
    SessionResult runUpdate (const juce::MemoryBlock& image)
    {
        EmulatorOptions options;
        options.config.resetDelayMs = 5;
        options.config.resetDurationMs = 5;
        options.logEveryNthBurst = 0;

        std::deque<juce::MemoryBlock> script { ScriptedTransport::identityRequest(),
                                               { eraseRequestMessage.data(), eraseRequestMessage.size() },
                                               image };
        auto owned = std::make_unique<ScriptedTransport> (std::move (script));
        auto* transport = owned.get();

        EmulatorSession session (options, std::move (owned));
        const auto deadline = juce::Time::getMillisecondCounter() + 10000;
        bool timedOut = false;

        const auto status = session.run ([&] {
            timedOut = juce::Time::getMillisecondCounter() > deadline;
            return timedOut;
        });
        return { timedOut ? -1 : status, transport->sent, transport->appearances };
    }
} // namespace

TEST (StandaloneEmulatorOptions, ReadsTheFlagsAndRejectsMistakes)
{
    juce::String error;
    const auto raw = EmulatorOptions::parse ({ "--rawmidi", "hw:QB4Gadget,0", "--version", "1.00", "--version-after-update", "1.0.7",
                                               "--image-check", "checksums", "--reset-ms", "700", "--unplug-command", "echo > UDC",
                                               "--keep-running" },
                                             error);
    ASSERT_TRUE (raw.has_value()) << error;
    EXPECT_EQ (raw->transport, EmulatorOptions::Transport::rawMidi);
    EXPECT_EQ (raw->rawMidiDevice, "hw:QB4Gadget,0");
    EXPECT_EQ (raw->config.version, (ControllerEmulator::Version { { 1, 0, 0 } }));
    EXPECT_EQ (raw->config.versionAfterUpdate, (ControllerEmulator::Version { { 1, 0, 7 } }));
    EXPECT_EQ (raw->config.imageCheck, ControllerEmulator::ImageCheck::headerAndChecksums);
    EXPECT_EQ (raw->config.resetDelayMs, 700);
    EXPECT_EQ (raw->unplugCommand, "echo > UDC");
    EXPECT_TRUE (raw->keepRunning);

    // "1.05" is the version the updater shows for the reply's bytes 01 00 05.
    EXPECT_EQ (EmulatorOptions::parseVersion ("1.05"), (ControllerEmulator::Version { { 1, 0, 5 } }));
    EXPECT_FALSE (EmulatorOptions::parseVersion ("1.5").has_value());
    EXPECT_FALSE (EmulatorOptions::parseVersion ("1.0.200").has_value());

    for (const auto* wrong : { "", "--seq --rawmidi hw:1,0", "--seq --plug-command true", "--seq --version",
                               "--seq --image-check loose", "--seq --reset-ms -5", "--seq --fast" })
    {
        EXPECT_FALSE (parse (wrong, error).has_value()) << wrong;
        EXPECT_TRUE (error.isNotEmpty()) << wrong;
        error.clear();
    }
}

TEST (StandaloneEmulatorLoop, RunsDueTasksInOrderAndKeepsLaterOnes)
{
    TaskScheduler scheduler (TaskScheduler::steadyClockMs);
    juce::StringArray ran;

    EXPECT_EQ (scheduler.getMsUntilNextTask(), -1);

    scheduler.schedule (60000, [&] { ran.add ("later"); });
    scheduler.schedule (0, [&] { ran.add ("first"); scheduler.schedule (0, [&] { ran.add ("scheduled by first"); }); });
    scheduler.schedule (0, [&] { ran.add ("second"); });

    EXPECT_EQ (scheduler.getMsUntilNextTask(), 0);
    EXPECT_EQ (scheduler.runDueTasks(), 3);
    EXPECT_EQ (ran, juce::StringArray ({ "first", "second", "scheduled by first" }));
    EXPECT_GT (scheduler.getMsUntilNextTask(), 59000);

    scheduler.cancelAll();
    EXPECT_EQ (scheduler.getMsUntilNextTask(), -1);
    EXPECT_EQ (scheduler.runDueTasks(), 0);
}

TEST (StandaloneEmulatorSession, ExitStatusFollowsTheFirstImage)
{
    // A verified image: the run ends once the controller is back and has told its new version.
    const auto verified = runUpdate ({ firmwareImage, (size_t) firmwareImageSize });
    EXPECT_EQ (verified.status, 0);
    ASSERT_EQ (verified.sent.size(), 2u);
    EXPECT_EQ (verified.sent.back()[14], (char) 5) << "the reply after the reset carries 1.05";
    EXPECT_EQ (verified.appearances, 2);

    // One byte changed on the way: the run ends at once, with status 1.
    juce::MemoryBlock corrupted (firmwareImage, (size_t) firmwareImageSize);
    corrupted[1000] = (char) (corrupted[1000] ^ 0x01);
    const auto rejected = runUpdate (corrupted);
    EXPECT_EQ (rejected.status, 1);
    EXPECT_EQ (rejected.appearances, 1) << "no reset after a rejected image";

    // The image line's gap figures, min/median/max in milliseconds.
    using Burst = ControllerEmulator::Burst;
    EXPECT_EQ (EmulatorSession::describeGaps ({ Burst { 0.0, 256 }, Burst { 10.0, 256 }, Burst { 30.0, 256 }, Burst { 100.0, 1 } }),
               "10.0/20.0/70.0");
    EXPECT_EQ (EmulatorSession::describeGaps ({ Burst { 0.0, 256 } }), "-/-/-");
}

#endif
