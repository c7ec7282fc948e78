#include "emulator/ControllerEmulator.h"
#include "emulator/VirtualControllerAdapter.h"
#include "engine/DetectDeviceInfo.h"
#include "firmware/DeviceMessages.h"
#include "firmware/DevicePortNames.h"
#include "emulator/VirtualMidiService.h"
#include "support/RecordingEngineListener.h"
#include "support/TestHelpers.h"

#include <gtest/gtest.h>

using testing_support::pumpFor;
using testing_support::pumpUntil;
using testing_support::RecordingEngineListener;

namespace
{
    using Bytes = std::vector<juce::uint8>;

    Bytes reply (juce::uint8 v1, juce::uint8 v2, juce::uint8 v3)
    {
        Bytes r (identityReplyPrefix.begin(), identityReplyPrefix.end());
        r.resize (37, 0x00);
        r[12] = v1;
        r[13] = v2;
        r[14] = v3;
        r[36] = 0xf7;
        return r;
    }

    struct DetectDeviceInfoTest : ::testing::Test
    {
        std::shared_ptr<VirtualMidiService> service = std::make_shared<VirtualMidiService>();
        MidiManager::Ptr manager = new MidiManager (service);
        ApplicationEngine::EngineState state;
        ApplicationEngine::Updater updater { &state };
        RecordingEngineListener listener;
        std::unique_ptr<ApplicationEngine::DetectDeviceInfo> detection;

        void SetUp() override
        {
            updater.addListener (&listener);
            detection = std::make_unique<ApplicationEngine::DetectDeviceInfo> (manager, &updater, &state);
        }

        void TearDown() override { detection.reset(); }

        size_t requestsSentTo (const juce::String& name)
        {
            size_t n = 0;
            for (const auto& sent : service->getSentLog (name))
                n += sent.bytes == juce::MemoryBlock (identityRequestMessage.data(), identityRequestMessage.size()) ? 1u : 0u;
            return n;
        }

        void answer (const juce::String& name, const Bytes& bytes)
        {
            service->sendFromDevice (name, juce::MidiMessage (bytes.data(), (int) bytes.size(), 0.0));
            ASSERT_TRUE (service->waitUntilDelivered());
        }

        size_t passes() const { return listener.hardware.size(); }
    };
} // namespace

TEST_F (DetectDeviceInfoTest, TheLaterOfTwoControllerPortsWinsAndLetterCaseMatters)
{
    service->plugDevice ("korvan qb4 ii midi");
    ASSERT_TRUE (pumpUntil ([&] { return passes() >= 2; }));
    EXPECT_FALSE (state.hardwareDetected);
    EXPECT_TRUE (state.deviceName.isEmpty());
    EXPECT_FALSE (listener.hardware.back());

    service->plugDevice (usbAudioDeviceMidiPortName);
    service->plugDevice (deviceMidiPortName);
    const auto before = passes();
    ASSERT_TRUE (pumpUntil ([&] { return passes() > before + 1; }));
    EXPECT_TRUE (state.hardwareDetected);
    EXPECT_EQ (state.deviceName, deviceMidiPortName);
    EXPECT_TRUE (listener.hardware.back());

    // Its ports are opened under the name found, and the request goes out.
    EXPECT_TRUE (manager->isInputDeviceOpen (deviceMidiPortName));
    EXPECT_TRUE (manager->isOutputDeviceOpen (deviceMidiPortName));
    EXPECT_GT (requestsSentTo (deviceMidiPortName), 0u);
    EXPECT_FALSE (manager->isOutputDeviceOpen ("korvan qb4 ii midi"));
}

TEST_F (DetectDeviceInfoTest, OnlyAnExactIdentityReplySetsTheVersion)
{
    service->plugDevice (deviceMidiPortName);
    ASSERT_TRUE (pumpUntil ([&] { return requestsSentTo (deviceMidiPortName) > 0; }));

    auto shortReply = reply (1, 0, 5);
    shortReply.erase (shortReply.begin() + 20);
    auto longReply = reply (1, 0, 5);
    longReply.insert (longReply.begin() + 20, 0x00);
    auto wrongDevice = reply (1, 0, 5);
    wrongDevice[2] = 0x7f;
    auto otherMaker = reply (1, 0, 5);
    otherMaker[6] = 0x11;

    for (const auto& bad : { shortReply, longReply, wrongDevice, otherMaker })
        answer (deviceMidiPortName, bad);

    const auto requests = requestsSentTo (deviceMidiPortName);
    ASSERT_TRUE (pumpUntil ([&] { return requestsSentTo (deviceMidiPortName) > requests; }))
        << "an invalid reply stopped the requests";
    EXPECT_EQ (state.firmwareVersion.load(), 0.0);
    EXPECT_TRUE (listener.versions.empty());

    answer (deviceMidiPortName, reply (0x01, 0x0a, 0x00));
    ASSERT_TRUE (pumpUntil ([&] { return ! listener.versions.empty(); }));
    EXPECT_DOUBLE_EQ (listener.versions.back(), 1.1);
    EXPECT_DOUBLE_EQ (state.firmwareVersion.load(), 1.1);
}

TEST_F (DetectDeviceInfoTest, AValidReplyEndsPolling)
{
    ControllerEmulator emulator;
    VirtualControllerAdapter adapter (*service, emulator);
    emulator.powerUp();

    ASSERT_TRUE (pumpUntil ([&] { return ! listener.versions.empty(); }));
    EXPECT_DOUBLE_EQ (listener.versions.back(), 1.0);

    const auto requests = requestsSentTo (deviceMidiPortName);
    const auto notifications = passes();
    pumpFor (5 * ApplicationEngine::DetectDeviceInfo::detectionInterval);
    EXPECT_EQ (requestsSentTo (deviceMidiPortName), requests) << "requests went on after a valid reply";
    EXPECT_EQ (passes(), notifications) << "passes went on after a valid reply";
    EXPECT_TRUE (state.hardwareDetected);
}

TEST_F (DetectDeviceInfoTest, EmergencyModeScansButNeverAsks)
{
    state.emergencyMode = true;
    service->plugDevice (deviceMidiPortName);

    ASSERT_TRUE (pumpUntil ([&] { return passes() >= 4; }));
    EXPECT_TRUE (state.hardwareDetected);
    EXPECT_TRUE (manager->isOutputDeviceOpen (deviceMidiPortName));
    EXPECT_EQ (requestsSentTo (deviceMidiPortName), 0u);
}

TEST_F (DetectDeviceInfoTest, LosingTheControllerRearmsDetectionExceptWhileErasing)
{
    ControllerEmulator emulator;
    VirtualControllerAdapter adapter (*service, emulator);
    emulator.powerUp();
    ASSERT_TRUE (pumpUntil ([&] { return ! listener.versions.empty(); }));

    // While erasing the port's loss is expected: nothing changes.
    state.updateState = ApplicationEngine::erasing;
    state.emergencyMode = true;
    emulator.powerDown();
    pumpFor (4 * MidiManager::pollIntervalMs + 2 * ApplicationEngine::DetectDeviceInfo::detectionInterval);
    EXPECT_DOUBLE_EQ (state.firmwareVersion.load(), 1.0);
    EXPECT_TRUE (state.emergencyMode);
    EXPECT_FALSE (detection->isTimerRunning());

    // In any other state it re-arms: no version, no emergency mode, no hardware.
    for (const auto s : { ApplicationEngine::idle, ApplicationEngine::sending, ApplicationEngine::complete })
    {
        SCOPED_TRACE (s);
        state.updateState = ApplicationEngine::erasing;
        emulator.powerUp();
        ASSERT_TRUE (pumpUntil ([&] { return manager->isOutputDeviceOpen (deviceMidiPortName); }));
        detection->stopTimer();
        state.firmwareVersion = 1.0;
        state.emergencyMode = true;

        state.updateState = s;
        const auto versions = listener.versions.size();
        emulator.powerDown();
        ASSERT_TRUE (pumpUntil ([&] { return listener.versions.size() > versions; }));
        EXPECT_EQ (listener.versions.back(), 0.0);
        EXPECT_FALSE (state.emergencyMode);
        EXPECT_FALSE (state.hardwareDetected);
        EXPECT_TRUE (detection->isTimerRunning());
    }

    // Back again: found and read anew.
    state.updateState = ApplicationEngine::idle;
    emulator.powerUp();
    ASSERT_TRUE (pumpUntil ([&] { return state.firmwareVersion.load() == 1.0; }));
}

TEST_F (DetectDeviceInfoTest, LosingAnyOtherPortChangesNothing)
{
    service->plugDevice ("Some Synth");
    manager->openOutputDevice ("Some Synth");
    detection->stopTimer();
    state.firmwareVersion = 1.05;

    service->unplugDevice ("Some Synth");
    ASSERT_TRUE (pumpUntil ([&] { return ! manager->isOutputDeviceOpen ("Some Synth"); }));
    pumpFor (50);
    EXPECT_FALSE (detection->isTimerRunning());
    EXPECT_DOUBLE_EQ (state.firmwareVersion.load(), 1.05);
}

TEST_F (DetectDeviceInfoTest, UnrelatedMidiFromTheControllerIsIgnored)
{
    service->plugDevice (deviceMidiPortName);
    ASSERT_TRUE (pumpUntil ([&] { return manager->isInputDeviceOpen (deviceMidiPortName); }));

    for (int i = 0; i < 500; ++i)
    {
        service->sendFromDevice (deviceMidiPortName, juce::MidiMessage::midiClock());
        service->sendFromDevice (deviceMidiPortName, juce::MidiMessage::noteOn (1, i % 128, (juce::uint8) 100));
        service->sendFromDevice (deviceMidiPortName, juce::MidiMessage::controllerEvent (1, 7, i % 128));
    }
    const juce::uint8 otherSysex[] = { 0xf0, 0x7e, 0x00, 0x06, 0x02, 0xf7 };
    service->sendFromDevice (deviceMidiPortName, juce::MidiMessage (otherSysex, sizeof (otherSysex), 0.0));
    ASSERT_TRUE (service->waitUntilDelivered());
    pumpFor (20);

    EXPECT_EQ (state.firmwareVersion.load(), 0.0);
    EXPECT_TRUE (listener.versions.empty());
    EXPECT_TRUE (detection->isTimerRunning());
}

TEST_F (DetectDeviceInfoTest, StressRepliesOnTheMidiThreadWhileDetectionRearms)
{
    // The MIDI input thread writes the version and stops the timer while the
    // message thread re-arms and runs passes.
    service->plugDevice (deviceMidiPortName);
    ASSERT_TRUE (pumpUntil ([&] { return manager->isInputDeviceOpen (deviceMidiPortName); }));

    std::atomic<bool> storming { true };
    std::thread storm ([&] {
        for (int n = 0; storming.load(); ++n)
        {
            const auto r = reply (1, 0, (juce::uint8) (n % 10));
            service->sendFromDevice (deviceMidiPortName, juce::MidiMessage (r.data(), (int) r.size(), 0.0));
            if (n % 16 == 0)
                service->waitUntilDelivered (10);
        }
    });

    for (int i = 0; i < 200; ++i)
    {
        detection->restartDetection();
        pumpFor (1);
    }

    storming = false;
    storm.join();
    ASSERT_TRUE (service->waitUntilDelivered());
    pumpFor (20);

    const double v = state.firmwareVersion.load();
    EXPECT_TRUE (v == 0.0 || (v >= 1.0 && v <= 1.09)) << v;
}
