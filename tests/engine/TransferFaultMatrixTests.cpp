// The transfer's fault matrix: the whole chain (engine, detection, sender, MIDI
// manager, in-process MIDI system, controller emulator) at shortened timing, one
// row per fault, update form and moment. Every row checks its own ending and the
// promises that hold for all of them:
//   - "Completed" only when the controller verified the whole image;
//   - no "Update Error" once every block reached the controller;
//   - between the update's start and its last block the controller's port carries
//     the erase request and the image's slices, in order, and nothing else;
//   - the machine is kept awake from the start until the ending, and no longer;
//   - a completed update gets the row's result once the controller is back (or
//     the wait is over), and "confirmed" only for a verified image;
//   - an update refused at the start sends nothing and claims nothing.

#include "app/QuitGuard.h"
#include "engine/QuitSignals.h"
#include "firmware/DeviceMessages.h"
#include "firmware/DevicePortNames.h"
#include "support/RecordingEngineListener.h"
#include "support/TestHelpers.h"
#include "support/UpdaterRig.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <thread>

using testing_support::pumpFor;
using testing_support::pumpUntil;
using testing_support::RecordingEngineListener;

namespace
{
    enum class Form
    {
        normal,
        emergency
    };

    enum class Fault
    {
        none,
        unplugDuringEraseWait,     ///< the ports vanish at the erase request; back after awayMs (negative: never)
        unplugAfterBursts,         ///< the ports vanish once `bursts` slices arrived; back after awayMs (negative: never)
        backUnderAlternateName,    ///< as unplugAfterBursts, returning under the other accepted name
        unplugAfterCompletion,     ///< the controller is unplugged once "Completed" was reported
        resetAtLastByte,           ///< the controller resets the moment the last byte arrives
        portNeverListed,           ///< the controller is gone before the update starts
        refuseEraseRequest,        ///< the system refuses the erase request
        refuseSlice,               ///< the system refuses slice number `bursts`, every time
        refuseSliceTwice,          ///< the system refuses slice number `bursts` twice (a full buffer), then takes it
        unrelatedMidi,             ///< the controller sends clock and notes with every slice
        identityReplyStorm,        ///< identity replies arrive throughout the stream
        secondSameNamed,           ///< a second controller of the same name is plugged in: no port to choose
        programPortSameName,       ///< a program's port carries the controller's name too: only the device's is used
        otherControllerUnplugged,  ///< a controller under the other accepted name, open too, is unplugged mid-stream
        secondInstanceStarts,      ///< another updater on the same system tries to start mid-stream
        quitRequested,             ///< the user asks to quit mid-stream and cancels
        sigterm,                   ///< SIGTERM mid-stream; the user cancels the question
        sigint,                    ///< SIGINT mid-stream; the user cancels the question
        sighup,                    ///< SIGHUP (the terminal closed) mid-stream; the user cancels the question
        emergencyFlagClearedFirst, ///< the engine's emergency flag is cleared before the user's start
        writerBeforeStart,         ///< another program writes to the controller before the start
        heldPortUnlisted,          ///< the platform cannot list writers, and another program holds the port
        writerJoinsMidStream,      ///< another program connects at `bursts` and its note lands in the image
        backWithOldVersion,        ///< the controller comes back from its reset still running 1.00
        silentAfterReset,          ///< from slice `bursts` on, the controller answers no identity request
        damagedImage,              ///< the image's bytes no longer match the recorded digest
        wallClockJumps             ///< the wall clock jumps an hour on while the port is away past the erase wait, two back at slice `bursts` (libfaketime)
    };

    struct Row
    {
        const char* name;
        Form form;
        Fault fault;
        int bursts = 0;  ///< the moment: slices arrived (574 in all)
        int awayMs = -1; ///< how long the ports stay away; negative: never back
        bool completes = false;
        int verdict = ApplicationEngine::UpdateResult::confirmed; ///< the result of a completed update
        int refusal = -1;                                         ///< the start's StartRefusal; negative: it starts
    };

    std::ostream& operator<< (std::ostream& os, const Row& row) { return os << row.name; }

    /** Stands in for the platform's inhibitor; its record outlives the engine. */
    struct InhibitorRecord
    {
        int acquisitions = 0;
        bool held = false;
    };

    class RecordingSleepInhibitor final : public SleepInhibitor
    {
    public:
        explicit RecordingSleepInhibitor (InhibitorRecord& r)
            : record (r)
        {
        }
        ~RecordingSleepInhibitor() override { release(); }

        bool acquire() override
        {
            record.acquisitions += record.held ? 0 : 1;
            return record.held = true;
        }

        void release() override { record.held = false; }
        bool isHeld() const override { return record.held; }

    private:
        InhibitorRecord& record;
    };

    constexpr int numBlocks = 574;

    struct TransferFaultMatrix : ::testing::TestWithParam<Row>
    {
        // An erase wait long enough for the unplug-during-erase rows to land in it,
        // and a reconnect timeout the never-back rows wait out.
        // Results waited for briefly: 6 s, 9 s in the emergency form.
        static FirmwareTiming timing() { return { 256, 1, 40, 400, 6000, 9000, 100, 3000 }; }

        static constexpr int endDeadlineMs = 60000; // only catches a hang

        static ControllerEmulator::Config emulatorConfig (const Row& row)
        {
            auto config = EmulatedController::quickResets();
            if (row.fault == Fault::resetAtLastByte)
                config.resetDelayMs = 0;
            config.faults.mixUnrelatedMidi = row.fault == Fault::unrelatedMidi;
            if (row.fault == Fault::backWithOldVersion)
                config.versionAfterUpdate = config.version;

            if (row.fault == Fault::unplugDuringEraseWait || row.fault == Fault::wallClockJumps)
                config.faults.unplugDuringEraseWaitMs = row.awayMs < 0 ? 600000 : row.awayMs;

            if (row.fault == Fault::unplugAfterBursts || row.fault == Fault::backUnderAlternateName)
            {
                config.faults.unplugAfterBursts = row.bursts;
                config.faults.unplugAfterBurstsForMs = row.awayMs;
                config.faults.comeBackUnderAlternateName = row.fault == Fault::backUnderAlternateName;
            }

            return config;
        }

        static FirmwareImage image (const Row& row)
        {
            static const std::string damaged = std::string (firmwareImage, (size_t) firmwareImageSize).replace (1000, 1, "!");
            return row.fault != Fault::damagedImage ? FirmwareImage::embedded()
                                                    : FirmwareImage (damaged.data(), (int) damaged.size(), firmwareImageVersion, firmwareImageSha256);
        }

        const Row& row = GetParam();
        testing_support::UpdaterRig rig { timing(), emulatorConfig (row), image (row) };
        std::shared_ptr<VirtualMidiService>& service = rig.service;
        ControllerEmulator& emulator = rig.emulator;
        ApplicationEngine::Ptr& engine = rig.engine;
        RecordingEngineListener listener;
        InhibitorRecord inhibitor;

        size_t logAtStart = 0;
        size_t burstsAtStart = 0;

        void SetUp() override
        {
            engine->addListener (&listener);
            engine->setSleepInhibitor (std::make_unique<RecordingSleepInhibitor> (inhibitor));
        }

        void TearDown() override
        {
            engine->removeListener (&listener);
            engine = nullptr;
        }

        const juce::String port = deviceMidiPortName;

        bool hasState (int s) const { return std::find (listener.states.begin(), listener.states.end(), s) != listener.states.end(); }
        bool ended() const { return hasState (ApplicationEngine::complete) || ! listener.errors.empty(); }
        int slicesArrived() const { return (int) (emulator.getBursts().size() - burstsAtStart); }

        static juce::MemoryBlock block (int k)
        {
            const auto offset = (size_t) k * 256;
            return { firmwareImage + offset, std::min<size_t> (256, (size_t) firmwareImageSize - offset) };
        }

        /** The controller is found, and read unless it is in its bootloader. */
        void plugIn()
        {
            // Listed before this controller, so that detection keeps to this one.
            if (row.fault == Fault::otherControllerUnplugged)
                service->plugDevice (usbAudioDeviceMidiPortName);

            if (row.form == Form::emergency)
                emulator.powerUpInBootloader();
            else
                emulator.powerUp();

            ASSERT_TRUE (pumpUntil ([&] { return engine->getState().deviceName.isNotEmpty(); }));

            if (row.form == Form::normal)
            {
                ASSERT_TRUE (pumpUntil ([&] { return ! listener.versions.empty() && listener.versions.back() == 1.0; }));
            }
        }

        void start()
        {
            logAtStart = service->getSentLog (port).size();
            burstsAtStart = emulator.getBursts().size();
            listener.states.clear();
            ASSERT_EQ (engine->startUpdate (row.form == Form::emergency), row.refusal < 0);
            // A refused erase request ends the update inside startUpdate().
            EXPECT_EQ (inhibitor.held, engine->isUpdating()) << "the machine may sleep while the controller is erased";
        }

        bool waitForSlices (int n)
        {
            const bool reached = pumpUntil ([&] { return slicesArrived() >= n || ended(); }, endDeadlineMs);
            EXPECT_EQ (inhibitor.held, engine->isUpdating()) << "kept awake only while the update runs";
            return reached;
        }

        /** From the update's start to its last slice, the port carried the erase
            request (normal form only, first) and the image's slices in order; a
            slice may repeat where two same-named outputs each took it. After the
            update only detection speaks, with identity requests. */
        void expectOnlyTheUpdateOnThePort()
        {
            const auto log = service->getSentLog (port);
            const juce::MemoryBlock erase (eraseRequestMessage.data(), eraseRequestMessage.size());
            const juce::MemoryBlock identityRequest (identityRequestMessage.data(), identityRequestMessage.size());

            auto last = log.size();
            while (last > logAtStart && log[last - 1].bytes == identityRequest)
                --last;

            int next = 0;
            for (size_t i = logAtStart; i < last; ++i)
            {
                const auto& bytes = log[i].bytes;

                if (i == logAtStart && row.form == Form::normal)
                {
                    ASSERT_EQ (bytes, erase) << "the update did not begin with the erase request";
                    continue;
                }

                if (next > 0 && bytes == block (next - 1))
                    continue;

                ASSERT_LT (next, numBlocks) << "message " << i - logAtStart << " follows the last slice";
                ASSERT_EQ (bytes, block (next)) << "message " << i - logAtStart << " of the update is not slice " << next;
                ++next;
            }
        }
    };
} // namespace

TEST_P (TransferFaultMatrix, EndsAsExpectedAndKeepsItsPromises)
{
    ASSERT_NO_FATAL_FAILURE (plugIn());

    // Set up what must be in place before the start.
    ApplicationEngine::Ptr otherEngine;
    std::atomic<int> sentToTheOtherPort { 0 };

    const auto fault = row.fault;

    if (fault == Fault::portNeverListed)
    {
        emulator.powerDown();
    }
    else if (fault == Fault::refuseEraseRequest)
    {
        service->setSendRefusal (port, [] (const juce::MemoryBlock& b) {
            return b == juce::MemoryBlock (eraseRequestMessage.data(), eraseRequestMessage.size());
        });
    }
    else if (fault == Fault::refuseSlice || fault == Fault::refuseSliceTwice)
    {
        const auto refusals = std::make_shared<std::atomic<int>> (0);
        service->setSendRefusal (port, [&, refusals] (const juce::MemoryBlock& b) {
            return b == block (row.bursts) && (fault == Fault::refuseSlice || refusals->fetch_add (1) < 2);
        });
    }
    else if (fault == Fault::secondSameNamed || fault == Fault::programPortSameName)
    {
        // Another port of the same name, after the controller's, that counts what it gets.
        service->plugDevice (port);
        const auto other = service->getOutputIdentifiers (port)[1];
        service->setPortReceiver (other, [&] (const juce::MemoryBlock&) { ++sentToTheOtherPort; });

        if (fault == Fault::programPortSameName)
        {
            service->setPortRank (other, 0);
            service->setPortRank (service->getInputDevices().getLast().identifier, 0);
        }
    }
    else if (fault == Fault::otherControllerUnplugged)
    {
        // As found by an earlier detection pass.
        rig.manager->openOutputDevice (usbAudioDeviceMidiPortName);
        ASSERT_TRUE (rig.manager->isOutputDeviceOpen (usbAudioDeviceMidiPortName));
    }
    else if (fault == Fault::secondInstanceStarts)
    {
        otherEngine = new ApplicationEngine (new MidiManager (service), timing());
        ASSERT_TRUE (pumpUntil ([&] { return otherEngine->getState().firmwareVersion.load() == 1.0; }));
    }
    else if (fault == Fault::emergencyFlagClearedFirst)
    {
        // The user chose the emergency form and powered the controller up in its
        // bootloader; the loss of its port cleared the engine's selection.
        engine->setEmergencyMode (true);
        emulator.powerUpInBootloader();
        ASSERT_TRUE (pumpUntil ([&] { return ! engine->getState().emergencyMode && engine->getState().deviceName.isNotEmpty(); }));
    }

    else if (fault == Fault::writerBeforeStart)
        service->setOtherWriters (port, juce::StringArray ("Mixxx"));
    else if (fault == Fault::heldPortUnlisted)
    {
        service->setOtherWriters (port, std::nullopt);
        rig.manager->closeOutputDevice (port);
        service->setOpenFails (port, true);
    }

    // libfaketime reads the wall clock's offset from this file at every call,
    // and leaves the monotonic clock alone.
    const juce::File wallClock (juce::SystemStats::getEnvironmentVariable ("FAKETIME_TIMESTAMP_FILE", {}));
    const auto setWallClock = [&] (const char* offset) {
        const auto before = juce::Time::currentTimeMillis();
        wallClock.replaceWithText (offset);
        return (juce::Time::currentTimeMillis() - before) / 1000;
    };
    if (fault == Fault::wallClockJumps && ! wallClock.replaceWithText ("+0"))
        GTEST_SKIP() << "runs under libfaketime only: ctest -R WallClock";

    // The window hands the engine the form it shows.
    ASSERT_NO_FATAL_FAILURE (start());

    if (fault == Fault::wallClockJumps)
    {
        EXPECT_NEAR (setWallClock ("+1h"), 3600, 5) << "the wall clock did not jump";
    }

    if (row.refusal >= 0)
    {
        EXPECT_EQ (engine->getLastStartRefusal(), row.refusal);
        EXPECT_EQ (engine->getOtherWriters(), fault == Fault::writerBeforeStart ? juce::StringArray ("Mixxx") : juce::StringArray());
        pumpFor (100);
        const auto log = service->getSentLog (port);
        for (auto i = logAtStart; i < log.size(); ++i)
            EXPECT_EQ (log[i].bytes, juce::MemoryBlock (identityRequestMessage.data(), identityRequestMessage.size()));
        EXPECT_FALSE (PortUpdateLock::isClaimed (port));
        EXPECT_EQ (inhibitor.acquisitions, 0);
        return;
    }

    // Act at the row's moment.
    // The user answers Cancel, later: the guard must not wait for it.
    int questions = 0;
    bool quitAllowed = false;
    std::function<void (bool)> pendingAnswer;
    QuitGuard guard (engine, [&] (const juce::String&, const juce::String&, std::function<void (bool)> answer) {
        ++questions;
        pendingAnswer = std::move (answer);
    });
    const auto requestQuit = [&] {
        guard.requestQuit ([&] { quitAllowed = true; });
        EXPECT_TRUE (pendingAnswer != nullptr) << "the question was not left open";
        pendingAnswer (false);
    };
    std::unique_ptr<QuitSignals> signals;
    std::atomic<bool> storming { false };
    std::thread storm;

    if (fault == Fault::unplugAfterCompletion)
    {
        ASSERT_TRUE (pumpUntil ([&] { return ended(); }, endDeadlineMs));
        emulator.powerDown();
    }
    else if (fault == Fault::writerJoinsMidStream || fault == Fault::silentAfterReset)
    {
        ASSERT_TRUE (waitForSlices (row.bursts));

        if (fault == Fault::silentAfterReset)
            emulator.setFaults ({ /* neverAnswer */ true });
        else
        {
            service->setOtherWriters (port, juce::StringArray ("Mixxx"));
            const juce::uint8 noteOn[] = { 0x90, 0x40, 0x7f };
            emulator.receive (noteOn, sizeof (noteOn));
        }
    }
    else if (fault == Fault::identityReplyStorm)
    {
        storming = true;
        storm = std::thread ([&] {
            const auto reply = ControllerEmulator::buildIdentityReply ({ { 1, 0, 0 } });
            while (storming)
            {
                service->sendFromDevice (port, juce::MidiMessage (reply.getData(), (int) reply.getSize()));
                std::this_thread::sleep_for (std::chrono::milliseconds (1));
            }
        });
    }
    else if (fault == Fault::wallClockJumps)
    {
        ASSERT_TRUE (waitForSlices (row.bursts));
        EXPECT_NEAR (setWallClock ("-1h"), -7200, 5);
    }
    else if (fault == Fault::programPortSameName)
    {
        // Its going takes nothing from the controller's stream.
        ASSERT_TRUE (waitForSlices (row.bursts));
        service->unplugPorts (service->getInputDevices().getLast().identifier, service->getOutputIdentifiers (port)[1]);
    }
    else if (fault == Fault::otherControllerUnplugged)
    {
        // Its loss re-arms detection in the middle of this stream.
        ASSERT_TRUE (waitForSlices (row.bursts));
        service->unplugDevice (usbAudioDeviceMidiPortName);
    }
    else if (fault == Fault::secondInstanceStarts)
    {
        ASSERT_TRUE (waitForSlices (row.bursts));
        EXPECT_FALSE (otherEngine->startUpdate (false)) << "a second updater started on a port being written";
        EXPECT_EQ (otherEngine->getLastStartRefusal(), ApplicationEngine::controllerBusy);
    }
    else if (fault == Fault::quitRequested)
    {
        ASSERT_TRUE (waitForSlices (row.bursts));
        requestQuit();
    }
    else if (fault == Fault::sigterm || fault == Fault::sigint || fault == Fault::sighup)
    {
        signals = std::make_unique<QuitSignals> ([&] { requestQuit(); });
        ASSERT_TRUE (waitForSlices (row.bursts));
#if QB4II_QUIT_SIGNALS
        std::raise (fault == Fault::sigterm ? SIGTERM : (fault == Fault::sigint ? SIGINT : SIGHUP));
#endif
        ASSERT_TRUE (pumpUntil ([&] { return questions > 0; })) << "the signal did not reach the quit guard";
    }

    const bool endedInTime = pumpUntil ([&] { return ended(); }, endDeadlineMs);
    storming = false;
    if (storm.joinable())
        storm.join();
    ASSERT_TRUE (endedInTime) << "the update never ended; " << slicesArrived() << " slices arrived";

    // Whatever follows the ending (re-detection) has had time to run.
    pumpFor (50);

    const bool completed = hasState (ApplicationEngine::complete);
    EXPECT_EQ (completed, row.completes) << "errors " << listener.errors.size() << ", slices " << slicesArrived();
    EXPECT_EQ (listener.errors, row.completes ? std::vector<int> {} : std::vector<int> { ApplicationEngine::deviceOfflineError });
    EXPECT_FALSE (engine->isUpdating());

    // The promises.
    if (completed && fault != Fault::writerJoinsMidStream)
    {
        EXPECT_GE (emulator.getCounts().imagesAccepted, 1) << "\"Completed\" without a verified image";
    }
    if (completed)
    {
        const auto completedAtMs = juce::Time::getMillisecondCounterHiRes();
        ASSERT_TRUE (pumpUntil ([&] { return ! listener.results.empty(); }, endDeadlineMs)) << "no result";
        const auto& result = listener.results.front();
        const auto waitedMs = juce::Time::getMillisecondCounterHiRes() - completedAtMs;
        EXPECT_EQ (listener.results.size(), 1u);
        EXPECT_EQ (result.verdict, row.verdict);
        EXPECT_EQ (result.waitedSeconds, row.form == Form::emergency ? 9 : 6);
        EXPECT_EQ (result.company, fault == Fault::writerJoinsMidStream ? juce::StringArray ("Mixxx") : juce::StringArray());
        EXPECT_TRUE (result.verdict != ApplicationEngine::UpdateResult::confirmed || emulator.getCounts().imagesAccepted >= 1)
            << "confirmed without a verified image";
        EXPECT_TRUE (result.verdict != ApplicationEngine::UpdateResult::otherVersion || result.seenVersion == 1.0);
        EXPECT_TRUE (result.verdict != ApplicationEngine::UpdateResult::notBack || row.form == Form::normal || waitedMs > timing().confirmWaitMs)
            << "the emergency form's controller was not given its longer wait";
    }
    if (slicesArrived() >= numBlocks)
    {
        EXPECT_TRUE (listener.errors.empty()) << "\"Update Error\" after every block reached the controller";
    }
    expectOnlyTheUpdateOnThePort();

    if (fault == Fault::quitRequested || fault == Fault::sigterm || fault == Fault::sigint || fault == Fault::sighup)
    {
        EXPECT_EQ (questions, 1);
        EXPECT_FALSE (quitAllowed);
    }

    EXPECT_EQ (sentToTheOtherPort, 0) << "a second port of the controller's name was written to";

    // The floor between slices held across the wall clock's jumps.
    const auto log = service->getSentLog (port);
    for (size_t i = logAtStart + 2; fault == Fault::wallClockJumps && i < log.size(); ++i)
        EXPECT_TRUE (log[i].bytes.getSize() != timing().blockSize || log[i - 1].bytes.getSize() != timing().blockSize
                     || log[i].timeMs - log[i - 1].timeMs >= timing().blockIntervalMs)
            << i;

    // However it ended, the update gave its claim on the port up and let the
    // machine sleep again; another updater's start took no lock of its own here.
    EXPECT_FALSE (PortUpdateLock::isClaimed (port));
    EXPECT_FALSE (inhibitor.held);
    EXPECT_EQ (inhibitor.acquisitions, 1);
}

INSTANTIATE_TEST_SUITE_P (
    Rows,
    TransferFaultMatrix,
    ::testing::Values (
        //   name                                   form             fault                              bursts away  completes
        Row { "Normal", Form::normal, Fault::none, 0, -1, true },
        Row { "WriterConnectedBeforeTheStart", Form::normal, Fault::writerBeforeStart, 0, -1, false, 0, ApplicationEngine::controllerInUse },
        Row { "EmergencyWriterConnectedBeforeTheStart", Form::emergency, Fault::writerBeforeStart, 0, -1, false, 0, ApplicationEngine::controllerInUse },
        Row { "PortHeldWhereWritersCannotBeListed", Form::normal, Fault::heldPortUnlisted, 0, -1, false, 0, ApplicationEngine::controllerInUse },
        Row { "DamagedImage", Form::normal, Fault::damagedImage, 0, -1, false, 0, ApplicationEngine::imageDamaged },
        Row { "WriterJoinsMidStream", Form::normal, Fault::writerJoinsMidStream, 300, -1, true, ApplicationEngine::UpdateResult::silent },
        Row { "BackWithTheOldVersion", Form::normal, Fault::backWithOldVersion, 0, -1, true, ApplicationEngine::UpdateResult::otherVersion },
        Row { "BackButSilent", Form::normal, Fault::silentAfterReset, 573, -1, true, ApplicationEngine::UpdateResult::silent },
        Row { "EmergencyNeverBack", Form::emergency, Fault::unplugAfterCompletion, 0, -1, true, ApplicationEngine::UpdateResult::notBack },
        Row { "Emergency", Form::emergency, Fault::none, 0, -1, true },
        Row { "UnplugDuringEraseWaitBackInTime", Form::normal, Fault::unplugDuringEraseWait, 0, 20, true },
        Row { "UnplugDuringEraseWaitNeverBack", Form::normal, Fault::unplugDuringEraseWait, 0, -1, false },
        Row { "WallClockJumpsMidStream", Form::normal, Fault::wallClockJumps, 200, 200, true },
        Row { "UnplugAfterBlockOne", Form::normal, Fault::unplugAfterBursts, 1, 150, false },
        Row { "UnplugMidStreamNeverBack", Form::normal, Fault::unplugAfterBursts, 287, -1, false },
        Row { "UnplugBeforeTheLastBlock", Form::normal, Fault::unplugAfterBursts, 573, 150, false },
        Row { "UnplugAfterCompletion", Form::normal, Fault::unplugAfterCompletion, 0, -1, true, ApplicationEngine::UpdateResult::notBack },
        Row { "ResetAtTheLastByte", Form::normal, Fault::resetAtLastByte, 0, -1, true },
        Row { "QuickDropAndReturnMidStream", Form::normal, Fault::unplugAfterBursts, 100, 1, false },
        Row { "BackUnderTheOtherNameMidStream", Form::normal, Fault::backUnderAlternateName, 100, 20, false },
        Row { "RefusedEraseRequest", Form::normal, Fault::refuseEraseRequest, 0, -1, false },
        Row { "RefusedSliceMidStream", Form::normal, Fault::refuseSlice, 300, -1, false },
        Row { "SliceRefusedTwiceThenTaken", Form::normal, Fault::refuseSliceTwice, 300, -1, true },
        Row { "UnrelatedMidiDuringTheStream", Form::normal, Fault::unrelatedMidi, 0, -1, true },
        Row { "IdentityReplyStormDuringTheStream", Form::normal, Fault::identityReplyStorm, 0, -1, true },
        Row { "SecondSameNamedControllerIsNotGuessed", Form::normal, Fault::secondSameNamed, 0, -1, false, 0, ApplicationEngine::portAmbiguous },
        Row { "ProgramPortOfTheSameNameIsPassedOver", Form::normal, Fault::programPortSameName, 100, -1, true },
        Row { "OtherControllerUnpluggedMidStream", Form::normal, Fault::otherControllerUnplugged, 100, -1, true },
        Row { "SecondInstanceStartsMidStream", Form::normal, Fault::secondInstanceStarts, 100, -1, true },
        Row { "QuitRequestedMidStream", Form::normal, Fault::quitRequested, 100, -1, true },
        Row { "EmergencyUnplugMidStream", Form::emergency, Fault::unplugAfterBursts, 287, 150, false },
        Row { "EmergencyQuickDropAndReturn", Form::emergency, Fault::unplugAfterBursts, 100, 1, false },
        Row { "EmergencyResetAtTheLastByte", Form::emergency, Fault::resetAtLastByte, 0, -1, true },
        Row { "EmergencyPortNeverListed", Form::emergency, Fault::portNeverListed, 0, -1, false },
        Row { "EmergencyAfterTheFlagWasCleared", Form::emergency, Fault::emergencyFlagClearedFirst, 0, -1, true }),
    [] (const ::testing::TestParamInfo<Row>& p) { return std::string (p.param.name); });

#if QB4II_QUIT_SIGNALS
// Where the program turns SIGTERM, SIGINT and SIGHUP into quit requests.
INSTANTIATE_TEST_SUITE_P (
    SignalRows,
    TransferFaultMatrix,
    ::testing::Values (
        Row { "SigtermMidStream", Form::normal, Fault::sigterm, 100, -1, true },
        Row { "SigintMidStream", Form::normal, Fault::sigint, 100, -1, true },
        Row { "SighupMidStream", Form::normal, Fault::sighup, 100, -1, true },
        Row { "EmergencySigtermMidStream", Form::emergency, Fault::sigterm, 100, -1, true }),
    [] (const ::testing::TestParamInfo<Row>& p) { return std::string (p.param.name); });
#endif
