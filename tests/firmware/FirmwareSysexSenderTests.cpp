#include "firmware/DeviceMessages.h"
#include "firmware/FirmwareSysexSender.h"
#include "emulator/VirtualMidiService.h"
#include "support/TestHelpers.h"

#include <gtest/gtest.h>

using testing_support::pumpFor;
using testing_support::pumpUntil;

namespace
{
    const juce::String port ("Korvan QB4 II MIDI");

    struct RecordingSenderListener final : FirmwareSysexSender::Listener
    {
        void sysexProgressChanged (FirmwareSysexSender*, double p) override
        {
            progress.push_back (p);
            events.push_back ("progress");
        }

        void sysexStatusChanged (FirmwareSysexSender* sender, juce::String status) override
        {
            statuses.add (status);
            events.push_back (status.toStdString());

            if (onStatus)
                onStatus (sender, status);
        }

        int count (const juce::String& status) const
        {
            int n = 0;
            for (const auto& s : statuses)
                n += s == status ? 1 : 0;
            return n;
        }

        std::vector<double> progress;
        juce::StringArray statuses;
        std::vector<std::string> events;
        std::function<void (FirmwareSysexSender*, const juce::String&)> onStatus;
    };

    juce::Array<char> bytesOf (const void* data, size_t size)
    {
        return juce::Array<char> (static_cast<const char*> (data), (int) size);
    }

    juce::Array<char> eraseRequest() { return bytesOf (eraseRequestMessage.data(), eraseRequestMessage.size()); }

    /** A small image: F0, data bytes, F7, cut into 20 blocks of 16. */
    constexpr size_t smallImageBlocks = 20;

    juce::Array<char> smallImage()
    {
        juce::Array<char> image;
        image.add ((char) 0xf0);
        for (size_t i = 0; i < smallImageBlocks * 16 - 2; ++i)
            image.add ((char) ('0' + i % 10));
        image.add ((char) 0xf7);
        return image;
    }

    struct FirmwareSysexSenderTest : ::testing::Test
    {
        static constexpr int interval = 2;
        static constexpr int eraseWait = 30;
        int reconnectTimeout = 5000;

        std::shared_ptr<VirtualMidiService> service = std::make_shared<VirtualMidiService>();
        MidiManager::Ptr manager = new MidiManager (service);
        RecordingSenderListener listener;
        std::vector<juce::MemoryBlock> received;

        FirmwareUpdate::Ptr update;
        FirmwareSysexSender::Ptr sender;

        void SetUp() override
        {
            service->plugDevice (port);
            service->setDeviceReceiver (port, [this] (const juce::MemoryBlock& b) {
                received.push_back (b);
                if (onReceive)
                    onReceive();
            });
        }

        void TearDown() override
        {
            sender = nullptr;
            service->setDeviceReceiver (port, {});
        }

        void start (FirmwareUpdate* u)
        {
            update = u;
            sender = new FirmwareSysexSender (update.get(), manager, &listener, eraseWait, reconnectTimeout);
            sender->startSending();
        }

        void startNormal (int blockInterval = interval) { start (new FirmwareUpdate (eraseRequest(), smallImage(), 16, blockInterval, port)); }
        void startEmergency (int blockInterval = interval)
        {
            const auto image = smallImage();
            start (new FirmwareUpdate (image.getRawDataPointer(), image.size(), 16, blockInterval, port));
        }

        bool completed() const { return listener.count (FirmwareSysexSender::statusCompleted) > 0; }

        std::function<void()> onReceive;
    };
} // namespace

TEST_F (FirmwareSysexSenderTest, NormalUpdateSendsTheEraseRequestThenTheImageSlicedExactly)
{
    const auto image = bytesOf (firmwareImage, (size_t) firmwareImageSize);
    start (new FirmwareUpdate (eraseRequest(), image, 256, 1, port));

    bool leftManagerBeforeCompleted = false;
    listener.onStatus = [&] (FirmwareSysexSender* s, const juce::String& status) {
        if (status == FirmwareSysexSender::statusCompleted)
            leftManagerBeforeCompleted = ! manager->hasListener (s);
    };

    ASSERT_TRUE (pumpUntil ([&] { return completed(); }, 20000)) << "the transfer did not complete";

    ASSERT_EQ (received.size(), 1u + 574u);
    EXPECT_EQ (received[0], juce::MemoryBlock (eraseRequestMessage.data(), eraseRequestMessage.size()));

    juce::MemoryBlock reassembled;
    for (size_t k = 1; k < received.size(); ++k)
    {
        const auto& slice = received[k];
        const size_t offset = (k - 1) * 256;
        const size_t expectedSize = std::min<size_t> (256, (size_t) firmwareImageSize - offset);
        ASSERT_EQ (slice.getSize(), expectedSize) << "slice " << (k - 1);
        ASSERT_EQ (std::memcmp (slice.getData(), firmwareImage + offset, expectedSize), 0) << "slice " << (k - 1);
        reassembled.append (slice.getData(), slice.getSize());
    }
    EXPECT_EQ (reassembled, juce::MemoryBlock (firmwareImage, (size_t) firmwareImageSize));

    // "Started", then one progress report per block from 0 to 573/574, then 1.0 and "Completed".
    ASSERT_EQ (listener.events.size(), 1u + 574u + 1u + 1u);
    EXPECT_EQ (listener.events.front(), "Started");
    EXPECT_EQ (listener.events.back(), "Completed");
    ASSERT_EQ (listener.progress.size(), 575u);
    for (size_t k = 0; k < 574; ++k)
        ASSERT_DOUBLE_EQ (listener.progress[k], (double) k / 574.0) << "progress report " << k;
    EXPECT_DOUBLE_EQ (listener.progress.back(), 1.0);
    EXPECT_TRUE (leftManagerBeforeCompleted) << "the sender was still a manager listener when it reported completion";
}

TEST_F (FirmwareSysexSenderTest, UnplugAfterBlockTenReportsDeviceOfflineOnEveryTickUntilStopped)
{
    onReceive = [this] {
        if (received.size() == 1 + 11) // the erase request and blocks 0 to 10
            service->unplugDevice (port);
    };
    startNormal();

    ASSERT_TRUE (pumpUntil ([&] { return listener.count (FirmwareSysexSender::statusDeviceOffline) >= 3; }))
        << "received " << received.size() << ", reports " << listener.events.size() << ", block " << sender->getCurrentBlock();
    EXPECT_EQ (sender->getCurrentBlock(), 11u);
    EXPECT_EQ (received.size(), 12u);
    EXPECT_EQ (listener.progress.size(), 11u);
    EXPECT_FALSE (completed());

    sender->stopSending();
    const int reports = listener.count (FirmwareSysexSender::statusDeviceOffline);
    pumpFor (10 * interval);
    EXPECT_EQ (listener.count (FirmwareSysexSender::statusDeviceOffline), reports) << "reports went on after stopSending";
}

TEST_F (FirmwareSysexSenderTest, MissingPortBeforeTheFirstBlockIsAwaitedSilently)
{
    startEmergency (10);
    service->unplugDevice (port);

    pumpFor (100);
    EXPECT_TRUE (listener.events.empty());
    EXPECT_TRUE (received.empty());

    service->plugDevice (port);
    ASSERT_TRUE (pumpUntil ([&] { return completed(); }));
    EXPECT_EQ (received.size(), smallImageBlocks);
    EXPECT_EQ (listener.count (FirmwareSysexSender::statusDeviceOffline), 0);
}

TEST_F (FirmwareSysexSenderTest, UnplugAndReplugInsideTheEraseWaitHasNoEffect)
{
    startNormal();
    service->unplugDevice (port);
    pumpFor (eraseWait / 3);
    service->plugDevice (port);

    ASSERT_TRUE (pumpUntil ([&] { return completed(); }));
    EXPECT_EQ (listener.events.front(), "Started");
    EXPECT_EQ (listener.count (FirmwareSysexSender::statusDeviceOffline), 0);
    EXPECT_EQ (received.size(), 1u + smallImageBlocks);
}

TEST_F (FirmwareSysexSenderTest, StopDuringTheEraseWaitMeansNoStartedEver)
{
    startNormal();
    sender->stopSending();

    pumpFor (3 * eraseWait);
    EXPECT_TRUE (listener.events.empty());
    EXPECT_EQ (received.size(), 1u) << "only the erase request should have gone out";
}

TEST_F (FirmwareSysexSenderTest, EmergencyUpdateSendsItsFirstBlockOneIntervalAfterStarting)
{
    const int slowInterval = 40;
    const double startedAt = juce::Time::getMillisecondCounterHiRes();
    startEmergency (slowInterval);
    EXPECT_TRUE (received.empty()) << "a block went out at once";

    ASSERT_TRUE (pumpUntil ([&] { return ! received.empty(); }));
    const auto log = service->getSentLog (port);
    EXPECT_GE (log.front().timeMs - startedAt, slowInterval);
    EXPECT_EQ (listener.count (FirmwareSysexSender::statusStarted), 0);
}

TEST_F (FirmwareSysexSenderTest, NothingFollowsTheEraseRequestOrABlockSoonerThanItsInterval)
{
    // A hard floor, by the high-resolution clock: the timer's early ticks are
    // waited out, never rounded away.
    const int blockInterval = 3;
    startNormal (blockInterval);
    ASSERT_TRUE (pumpUntil ([&] { return completed(); }));

    const auto log = service->getSentLog (port);
    ASSERT_EQ (log.size(), 1u + smallImageBlocks);
    EXPECT_GE (log[1].timeMs - log[0].timeMs, (double) eraseWait) << "the stream began inside the erase wait";

    for (size_t k = 2; k < log.size(); ++k)
        EXPECT_GE (log[k].timeMs - log[k - 1].timeMs, (double) blockInterval) << "block " << k - 1;
}

TEST_F (FirmwareSysexSenderTest, UpdateWithoutDataCompletesOnTheFirstTick)
{
    start (new FirmwareUpdate (nullptr, 0, 256, interval, port));

    ASSERT_TRUE (pumpUntil ([&] { return completed(); }));
    EXPECT_EQ (listener.events, (std::vector<std::string> { "progress", "Completed" }));
    EXPECT_DOUBLE_EQ (listener.progress[0], 1.0);
    EXPECT_TRUE (received.empty());
}

TEST_F (FirmwareSysexSenderTest, BlocksThatReachNoPortAreNeitherCountedNorReportedAsCompleted)
{
    // The port is gone when the erase wait ends, so nothing is open; when it is
    // listed again the sender must open it rather than count blocks into the void.
    startNormal();
    service->unplugDevice (port);
    ASSERT_TRUE (pumpUntil ([&] { return listener.count (FirmwareSysexSender::statusStarted) == 1; }));
    pumpFor (10 * interval);
    EXPECT_EQ (listener.progress.size(), 0u);

    // Listed but refusing to open: still nothing counted and nothing reported.
    service->setOpenFails (port, true);
    service->plugDevice (port);
    pumpFor (10 * interval);
    EXPECT_EQ (listener.progress.size(), 0u);
    EXPECT_EQ (listener.events, (std::vector<std::string> { "Started" }));

    service->setOpenFails (port, false);
    ASSERT_TRUE (pumpUntil ([&] { return completed(); }));
    EXPECT_EQ (received.size(), 1u + smallImageBlocks) << "every counted block must have reached the device";
    EXPECT_EQ (listener.progress.size(), smallImageBlocks + 1);
}

TEST_F (FirmwareSysexSenderTest, ListenerMayReleaseTheSenderFromTheFinalReports)
{
    // Run under ASan: any touch of the sender after these reports is a use after free.
    listener.onStatus = [this] (FirmwareSysexSender* s, const juce::String& status) {
        if (status == FirmwareSysexSender::statusDeviceOffline)
            s->stopSending();

        if (status != FirmwareSysexSender::statusStarted)
            sender = nullptr;
    };

    startNormal();
    ASSERT_TRUE (pumpUntil ([&] { return sender == nullptr; }));
    EXPECT_TRUE (completed());
    EXPECT_EQ (received.size(), 1u + smallImageBlocks);

    received.clear();
    onReceive = [this] {
        if (received.size() == 3)
            service->unplugDevice (port);
    };
    startNormal();
    ASSERT_TRUE (pumpUntil ([&] { return sender == nullptr; }));
    EXPECT_EQ (listener.count (FirmwareSysexSender::statusDeviceOffline), 1);

    // The manager must not know the released senders any more.
    service->plugDevice (port);
    manager->openInputDevice (port);
    service->sendFromDevice (port, juce::MidiMessage::midiClock());
    ASSERT_TRUE (service->waitUntilDelivered());
    pumpFor (5 * MidiManager::pollIntervalMs);
}

namespace
{
    /** What happens to the controller's port once the device has received a given
        number of sends (the erase request counts as one). */
    enum class PortEvent
    {
        dropAndReturn,   ///< vanishes and is listed again at once, under a new identifier
        reset,           ///< vanishes for good
        refuseNextSend,  ///< takes nothing more
        refuseEverything ///< refuses every send from the start
    };

    struct StreamEnding
    {
        const char* name;
        bool emergency;
        PortEvent event;
        size_t afterSends;       ///< ignored for refuseEverything
        const char* finalStatus; ///< the one final status reported
        size_t sendsReceived;    ///< by the device, in all
    };

    std::ostream& operator<< (std::ostream& os, const StreamEnding& e) { return os << e.name; }

    struct FirmwareSysexSenderEnding : FirmwareSysexSenderTest
        , ::testing::WithParamInterface<StreamEnding>
    {
    };
} // namespace

TEST_P (FirmwareSysexSenderEnding, EndsWithTheRightStatusAndNothingSentAfterIt)
{
    const auto& row = GetParam();
    reconnectTimeout = 100;

    if (row.event == PortEvent::refuseEverything)
        service->setSendRefusal (port, [] (const juce::MemoryBlock&) { return true; });

    onReceive = [&] {
        if (row.event == PortEvent::refuseEverything || received.size() != row.afterSends)
            return;

        if (row.event == PortEvent::refuseNextSend)
        {
            service->setSendRefusal (port, [] (const juce::MemoryBlock&) { return true; });
            return;
        }

        service->unplugDevice (port);
        if (row.event == PortEvent::dropAndReturn)
            service->plugDevice (port);
    };

    row.emergency ? startEmergency() : startNormal();

    const auto ended = [&] {
        return completed() || listener.count (FirmwareSysexSender::statusDeviceOffline) > 0;
    };
    ASSERT_TRUE (pumpUntil (ended)) << "received " << received.size();

    // Whatever ended the transfer, no block follows the report.
    pumpFor (5 * interval);
    sender->stopSending();
    const juce::String finalStatus (row.finalStatus);
    EXPECT_EQ (listener.statuses[listener.statuses.size() - 1], finalStatus);
    EXPECT_EQ (listener.count (finalStatus == FirmwareSysexSender::statusCompleted ? FirmwareSysexSender::statusDeviceOffline
                                                                                   : FirmwareSysexSender::statusCompleted),
               0);
    EXPECT_EQ (received.size(), row.sendsReceived);
}

// An erase request, then 20 blocks; an emergency update has no erase request.
INSTANTIATE_TEST_SUITE_P (
    Rows,
    FirmwareSysexSenderEnding,
    ::testing::Values (
        StreamEnding { "DropAndReturnAfterBlockThree", false, PortEvent::dropAndReturn, 1 + 4, "Device Offline", 1 + 4 },
        StreamEnding { "EmergencyDropAndReturnAfterBlockThree", true, PortEvent::dropAndReturn, 4, "Device Offline", 4 },
        StreamEnding { "ResetAtTheLastByte", false, PortEvent::reset, 1 + smallImageBlocks, "Completed", 1 + smallImageBlocks },
        StreamEnding { "EmergencyResetAtTheLastByte", true, PortEvent::reset, smallImageBlocks, "Completed", smallImageBlocks },
        StreamEnding { "RefusedEraseRequest", false, PortEvent::refuseEverything, 0, "Device Offline", 0 },
        StreamEnding { "RefusedBlockFive", false, PortEvent::refuseNextSend, 1 + 5, "Device Offline", 1 + 5 },
        StreamEnding { "NeverBackAfterTheEraseWait", false, PortEvent::reset, 1, "Device Offline", 1 },
        StreamEnding { "EmergencyNeverAnyBlock", true, PortEvent::refuseEverything, 0, "Device Offline", 0 }),
    [] (const ::testing::TestParamInfo<StreamEnding>& p) { return std::string (p.param.name); });
