#include "emulator/ControllerEmulator.h"
#include "emulator/EmulatorTestSupport.h"
#include "firmware/DeviceMessages.h"
#include "firmware/DevicePortNames.h"
#include "support/TestHelpers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using testing_support::EmulatorProbe;
using testing_support::pumpFor;
using testing_support::pumpUntil;

namespace
{
    using Bytes = std::vector<juce::uint8>;

    const Bytes identityRequest { 0xf0, 0x7e, 0x7f, 0x06, 0x01, 0xf7 };
    const Bytes eraseRequest { 0xf0, 0x00, 0x7f, 0x7f, 0x7f, 0x2c, 0x75, 0x00,
                               0x01, 0x49, 0x01, 0x01, 0x00, 0x00, 0x00, 0xf7 };

    constexpr int resetDelayMs = 20;
    constexpr int resetDurationMs = 50;

    const juce::MemoryBlock& testImage()
    {
        static const auto image = testing_support::makeImageContainer (1);
        return image;
    }

    ControllerEmulator::Config testConfig()
    {
        ControllerEmulator::Config config;
        config.expectedImage = testImage();
        config.resetDelayMs = resetDelayMs;
        config.resetDurationMs = resetDurationMs;
        return config;
    }

    juce::MemoryBlock block (const Bytes& bytes) { return { bytes.data(), bytes.size() }; }

    /** An emulator on test times, powered up, with a probe on its callbacks. */
    struct Rig
    {
        explicit Rig (ControllerEmulator::Config config = testConfig())
            : emulator (std::move (config))
            , probe (emulator)
        {
            emulator.powerUp();
            probe.clear();
        }

        void feed (const Bytes& bytes) { emulator.receive (bytes.data(), bytes.size()); }
        void feed (const juce::MemoryBlock& bytes) { emulator.receive (bytes.getData(), bytes.getSize()); }

        void feedInSlices (const juce::MemoryBlock& image, size_t sliceSize = 256)
        {
            for (size_t pos = 0; pos < image.getSize(); pos += sliceSize)
                emulator.receive (static_cast<const char*> (image.getData()) + pos,
                                  juce::jmin (sliceSize, image.getSize() - pos));
        }

        int repliesOfLength (size_t length)
        {
            int n = 0;
            for (const auto& m : probe.getSent())
                n += (m.getSize() == length && m[0] == (char) 0xf0) ? 1 : 0;
            return n;
        }

        ControllerEmulator emulator;
        EmulatorProbe probe;
    };

    juce::MemoryBlock withByteFlipped (juce::MemoryBlock image, size_t index)
    {
        image[index] = (char) (image[index] == '0' ? '1' : '0');
        return image;
    }
} // namespace

//==============================================================================
TEST (ControllerEmulator, AnswersAnIdentityRequestWithThePinnedThirtySevenByteReply)
{
    Rig rig;
    rig.feed (identityRequest);

    const Bytes expected { 0xf0, 0x7e, 0x00, 0x06, 0x02, 0x00, 0x7f, 0x7f, 0x2c, 0x00, 0x19, // prefix
                           0x00,                                                             // model number, high byte
                           0x01, 0x00, 0x00,                                                 // version 1.00
                           'K', 'O', 'R', 'V', 'A', 'N', ' ', 'Q', 'B', '4', 'I', 'I', ' ',
                           'S', 'N', '0', '0', '0', '0', '0', '1',
                           0xf7 };

    const auto sent = rig.probe.getSent();
    ASSERT_EQ (sent.size(), 1u);
    EXPECT_EQ (sent[0], block (expected));

    // A request addressed to device 00 is answered too; other sysex is not.
    rig.feed (Bytes { 0xf0, 0x7e, 0x00, 0x06, 0x01, 0xf7 });
    rig.feed (Bytes { 0xf0, 0x7e, 0x7f, 0x06, 0x02, 0xf7 });
    EXPECT_EQ (rig.probe.getSent().size(), 2u);
    EXPECT_EQ (rig.emulator.getCounts().identityRequests, 2);
    EXPECT_EQ (rig.emulator.getCounts().identityReplies, 2);
}

TEST (ControllerEmulator, AgreesWithTheApplicationsMessageConstants)
{
    Rig rig;
    rig.feed (juce::MemoryBlock (identityRequestMessage.data(), identityRequestMessage.size()));

    const auto sent = rig.probe.getSent();
    ASSERT_EQ (sent.size(), 1u);
    EXPECT_EQ (parseIdentityReply (sent[0].getData(), sent[0].getSize()), std::optional<double> (1.0));

    // The application's erase request and embedded image are what the controller takes.
    ControllerEmulator::Config config;
    config.resetDelayMs = resetDelayMs;
    config.resetDurationMs = resetDurationMs;
    Rig embedded (config);
    embedded.feed (juce::MemoryBlock (eraseRequestMessage.data(), eraseRequestMessage.size()));
    EXPECT_EQ (embedded.emulator.getState(), ControllerEmulator::State::receiving);

    embedded.feedInSlices (juce::MemoryBlock (firmwareImage, (size_t) firmwareImageSize));
    EXPECT_EQ (embedded.emulator.getCounts().imagesAccepted, 1);
    EXPECT_EQ (ControllerEmulator::checkImageContainer (firmwareImage, (size_t) firmwareImageSize), juce::String());

    // Detection finds the controller under either of its names.
    EXPECT_TRUE (isControllerPortName (config.portName));
    EXPECT_TRUE (isControllerPortName (config.alternatePortName));
}

TEST (ControllerEmulator, ReassemblesARequestFromSlicesAndIgnoresRealTimeBytesInside)
{
    Rig rig;
    rig.feed (Bytes { 0x90, 0x3c, 0x64, 0xf0, 0x7e });
    rig.feed (Bytes { 0x7f, 0xf8, 0x06 });
    rig.feed (Bytes { 0xfe, 0x01, 0xf7, 0x80, 0x3c, 0x00 });
    EXPECT_EQ (rig.repliesOfLength (37), 1);

    // Any other status byte cuts the request off.
    rig.feed (Bytes { 0xf0, 0x7e, 0x7f, 0x90, 0x06, 0x01, 0xf7 });
    EXPECT_EQ (rig.repliesOfLength (37), 1);
}

TEST (ControllerEmulator, AnswersNothingWithoutFirmwareOrInItsBootloader)
{
    Rig rig;
    rig.feed (eraseRequest);
    EXPECT_EQ (rig.emulator.getState(), ControllerEmulator::State::receiving);
    rig.feed (identityRequest);

    rig.feed (Bytes { 0xf0, 0x00, 0x7f, 0x7f, 0x00, 0x2c, 0x70, 0x3a, 0xf7 });
    EXPECT_EQ (rig.emulator.getState(), ControllerEmulator::State::noFirmware);
    rig.feed (identityRequest);
    rig.feed (eraseRequest);
    EXPECT_EQ (rig.emulator.getState(), ControllerEmulator::State::noFirmware);

    // Plugging it in again does not bring the firmware back.
    rig.emulator.powerDown();
    rig.emulator.powerUp();
    EXPECT_EQ (rig.emulator.getState(), ControllerEmulator::State::noFirmware);
    rig.feed (identityRequest);

    rig.emulator.powerUpInBootloader();
    EXPECT_EQ (rig.emulator.getState(), ControllerEmulator::State::bootloader);
    rig.feed (identityRequest);

    EXPECT_TRUE (rig.probe.getSent().empty());
    EXPECT_EQ (rig.emulator.getCounts().identityRequests, 4);
    EXPECT_EQ (rig.emulator.getCounts().identityReplies, 0);
}

TEST (ControllerEmulator, RejectsACorruptedImageAndStaysWithoutFirmware)
{
    const auto& image = testImage();
    auto truncated = image;
    truncated.setSize (image.getSize() - 300);
    truncated[truncated.getSize() - 1] = (char) 0xf7;
    auto wrongHeader = image;
    wrongHeader[6] = 0x71;

    const std::vector<std::pair<const char*, juce::MemoryBlock>> cases {
        { "one byte flipped", withByteFlipped (image, 70000) },
        { "truncated", truncated },
        { "wrong header", wrongHeader },
    };

    for (const auto& [what, corrupted] : cases)
    {
        Rig rig;
        rig.feed (eraseRequest);
        rig.feedInSlices (corrupted);

        EXPECT_EQ (rig.emulator.getState(), ControllerEmulator::State::noFirmware) << what;
        EXPECT_EQ (rig.emulator.getCounts().imagesRejected, 1) << what;
        EXPECT_EQ (rig.emulator.getCounts().imagesAccepted, 0) << what;
        EXPECT_EQ (rig.emulator.getLastImage(), corrupted) << what;

        pumpFor (resetDelayMs + resetDurationMs + 30);
        EXPECT_TRUE (rig.probe.getPresence().empty()) << what << ": a rejected image made the controller reset";
        rig.feed (identityRequest);
        EXPECT_TRUE (rig.probe.getSent().empty()) << what;
    }
}

TEST (ControllerEmulator, LosesAnImageCutOffBeforeItsEnd)
{
    Rig rig;
    rig.feed (eraseRequest);

    juce::MemoryBlock firstHalf (testImage().getData(), testImage().getSize() / 2);
    rig.feedInSlices (firstHalf);
    rig.feed (identityRequest); // its F0 ends the open image

    EXPECT_EQ (rig.emulator.getState(), ControllerEmulator::State::noFirmware);
    EXPECT_EQ (rig.emulator.getCounts().imagesRejected, 1);
    EXPECT_EQ (rig.emulator.getLastImage(), firstHalf);
    EXPECT_TRUE (rig.probe.getSent().empty());
}

TEST (ControllerEmulator, AcceptsTheImageIn574SlicesThenResetsAndReportsTheNewVersion)
{
    Rig rig;
    rig.feed (eraseRequest);
    rig.feedInSlices (testImage(), 256);

    EXPECT_EQ (rig.emulator.getCounts().imagesAccepted, 1);
    EXPECT_EQ (rig.emulator.getLastImage(), testImage());

    const auto bursts = rig.emulator.getBursts();
    ASSERT_EQ (bursts.size(), 574u);
    for (size_t i = 0; i < 573; ++i)
        ASSERT_EQ (bursts[i].size, 256u) << "burst " << i;
    EXPECT_EQ (bursts[573].size, 89u);
    EXPECT_LE (bursts.front().timeMs, bursts.back().timeMs);

    // Nothing is answered while it programs itself.
    rig.feed (identityRequest);
    EXPECT_TRUE (rig.probe.getSent().empty());

    ASSERT_TRUE (pumpUntil ([&] { return ! rig.emulator.isPresent(); }, 2000));
    ASSERT_TRUE (pumpUntil ([&] { return rig.emulator.isPresent(); }, 2000));

    const auto presence = rig.probe.getPresence();
    ASSERT_EQ (presence.size(), 2u);
    EXPECT_EQ (presence[0], std::make_pair (false, deviceMidiPortName));
    EXPECT_EQ (presence[1], std::make_pair (true, deviceMidiPortName));
    const auto times = rig.probe.getPresenceTimes();
    EXPECT_GE (times[1] - times[0], resetDurationMs - 1.0) << "the ports came back too early";

    EXPECT_EQ (rig.emulator.getState(), ControllerEmulator::State::normal);
    EXPECT_EQ (rig.emulator.getVersion(), (ControllerEmulator::Version { { 1, 0, 5 } }));

    rig.feed (identityRequest);
    const auto sent = rig.probe.getSent();
    ASSERT_EQ (sent.size(), 1u);
    EXPECT_EQ (parseIdentityReply (sent[0].getData(), sent[0].getSize()), std::optional<double> (1.05));

    const auto phases = rig.emulator.getPhaseLog();
    for (const auto* phase : { "erase", "burst 1", "burst 574", "image verified", "reset" })
        EXPECT_TRUE (phases.contains (phase)) << phase;
    EXPECT_LT (phases.indexOf ("image verified"), phases.indexOf ("reset"));
}

TEST (ControllerEmulator, AcceptsTheImageInOnePieceAndInItsBootloaderWithoutErase)
{
    {
        Rig rig;
        rig.feed (eraseRequest);
        rig.feed (testImage());
        EXPECT_EQ (rig.emulator.getCounts().imagesAccepted, 1);
        ASSERT_EQ (rig.emulator.getBursts().size(), 1u);
        EXPECT_EQ (rig.emulator.getBursts()[0].size, testImage().getSize());
    }

    Rig rig;
    rig.feed (testImage()); // running firmware takes no image without the erase request
    EXPECT_EQ (rig.emulator.getCounts().imagesAccepted, 0);
    EXPECT_EQ (rig.emulator.getState(), ControllerEmulator::State::normal);

    rig.emulator.powerUpInBootloader();
    rig.feed (withByteFlipped (testImage(), 500));
    EXPECT_EQ (rig.emulator.getState(), ControllerEmulator::State::bootloader) << "the bootloader stays to be tried again";

    rig.feedInSlices (testImage());
    EXPECT_EQ (rig.emulator.getCounts().imagesAccepted, 1);
    ASSERT_TRUE (pumpUntil ([&] { return rig.emulator.isPresent() && rig.emulator.getState() == ControllerEmulator::State::normal; }, 2000));
    rig.feed (identityRequest);
    EXPECT_EQ (rig.repliesOfLength (37), 1);
}

TEST (ControllerEmulator, ChecksHeaderAndRecordChecksumsInsteadOfAnExactImage)
{
    auto config = testConfig();
    config.imageCheck = ControllerEmulator::ImageCheck::headerAndChecksums;

    const auto other = testing_support::makeImageContainer (2);
    ASSERT_NE (other, testImage());
    EXPECT_EQ (other.getSize(), 146777u);

    {
        Rig rig (config);
        rig.feed (eraseRequest);
        rig.feedInSlices (other);
        EXPECT_EQ (rig.emulator.getCounts().imagesAccepted, 1) << rig.emulator.getPhaseLog().joinIntoString ("\n");
    }

    const auto check = [] (const juce::MemoryBlock& m) { return ControllerEmulator::checkImageContainer (m.getData(), m.getSize()); };
    const auto fromText = [] (const char* text) {
        const juce::uint8 header[] = { 0xf0, 0x00, 0x7f, 0x7f, 0x00, 0x2c, 0x70 };
        juce::MemoryBlock m (header, sizeof (header));
        m.append (text, std::strlen (text));
        m.append ("\xf7", 1);
        return m;
    };

    EXPECT_EQ (check (fromText (":020000040800F2\r\n:00000001FF\r\n")), juce::String());
    EXPECT_EQ (check (fromText (":020000040800F3\r\n:00000001FF\r\n")), "record 0 has a wrong checksum");
    EXPECT_EQ (check (fromText (":030000040800F2\r\n:00000001FF\r\n")), "record 0 has a wrong byte count");
    EXPECT_EQ (check (fromText (":020000040800F2\n:00000001FF\r\n")), "record 0 does not end with CR LF");
    EXPECT_EQ (check (fromText (":020000040800F2\r\n")), "no end-of-file record");
    EXPECT_EQ (check (fromText (":00000001FF\r\n:00000001FF\r\n")), "text after the end-of-file record");
    EXPECT_EQ (check (fromText (":0200000G0800F2\r\n:00000001FF\r\n")), "record 0 has a character that is not a hex digit");
    EXPECT_EQ (check (fromText (":00000001FF\r\n020000040800F2\r\n")), "text after the end-of-file record");
    EXPECT_EQ (check (fromText (":020000040800F2\r\n00000001FF\r\n")), "record 1 does not start with a colon");
    EXPECT_EQ (check (fromText (":020000040800F\r\n:00000001FF\r\n")), "record 0 has an odd number of hex digits");

    auto wrongHeader = other;
    wrongHeader[1] = 0x01;
    EXPECT_EQ (check (wrongHeader), "wrong header");

    Rig rig (config);
    rig.feed (eraseRequest);
    rig.feed (withByteFlipped (other, 1000));
    EXPECT_EQ (rig.emulator.getState(), ControllerEmulator::State::noFirmware);
}

//==============================================================================
TEST (ControllerEmulatorFaults, NeverAnswerWrongLengthAndWrongPrefixByte)
{
    auto config = testConfig();
    config.faults.neverAnswer = true;
    Rig silent (config);
    silent.feed (identityRequest);
    EXPECT_TRUE (silent.probe.getSent().empty());
    EXPECT_EQ (silent.emulator.getCounts().identityRequests, 1);

    const auto pinned = ControllerEmulator::buildIdentityReply ({ { 1, 0, 0 } });

    for (const int length : { 36, 38 })
    {
        config = testConfig();
        config.faults.replyLength = length;
        Rig rig (config);
        rig.feed (identityRequest);

        const auto sent = rig.probe.getSent();
        ASSERT_EQ (sent.size(), 1u);
        ASSERT_EQ (sent[0].getSize(), (size_t) length);
        EXPECT_EQ (sent[0][length - 1], (char) 0xf7);
        EXPECT_EQ (std::memcmp (sent[0].getData(), pinned.getData(), 35), 0);
        EXPECT_FALSE (parseIdentityReply (sent[0].getData(), sent[0].getSize()).has_value());
    }

    config = testConfig();
    config.faults.corruptPrefixOffset = 2;
    Rig rig (config);
    rig.feed (identityRequest);
    auto expected = pinned;
    expected[2] = 0x7f;
    ASSERT_EQ (rig.probe.getSent().size(), 1u);
    EXPECT_EQ (rig.probe.getSent()[0], expected);
}

TEST (ControllerEmulatorFaults, ReplyDelayHoldsTheAnswerBack)
{
    auto config = testConfig();
    config.faults.replyDelayMs = 40;
    Rig rig (config);

    const auto start = juce::Time::getMillisecondCounterHiRes();
    rig.feed (identityRequest);
    EXPECT_TRUE (rig.probe.getSent().empty());

    ASSERT_TRUE (pumpUntil ([&] { return ! rig.probe.getSent().empty(); }, 2000));
    EXPECT_GE (juce::Time::getMillisecondCounterHiRes() - start, 39.0);
    EXPECT_EQ (rig.probe.getSent()[0], ControllerEmulator::buildIdentityReply ({ { 1, 0, 0 } }));

    // A delayed answer dies with the ports it was meant for.
    rig.feed (identityRequest);
    rig.emulator.powerDown();
    rig.emulator.powerUp();
    pumpFor (80);
    EXPECT_EQ (rig.probe.getSent().size(), 1u);
}

TEST (ControllerEmulatorFaults, UnplugAfterBurstsLeavesItWithoutFirmware)
{
    auto config = testConfig();
    config.faults.unplugAfterBursts = 10;
    config.faults.unplugAfterBurstsForMs = 30;
    Rig rig (config);
    rig.feed (eraseRequest);

    const auto* image = static_cast<const char*> (testImage().getData());
    for (int k = 0; k < 12; ++k)
        rig.emulator.receive (image + 256 * k, 256);

    EXPECT_FALSE (rig.emulator.isPresent());
    EXPECT_EQ (rig.emulator.getBursts().size(), 10u) << "slices reached a controller that was unplugged";
    EXPECT_EQ (rig.emulator.getCounts().imagesRejected, 1);
    EXPECT_EQ (rig.emulator.getLastImage().getSize(), 2560u);

    ASSERT_TRUE (pumpUntil ([&] { return rig.emulator.isPresent(); }, 2000));
    EXPECT_EQ (rig.emulator.getState(), ControllerEmulator::State::noFirmware);
    rig.feed (identityRequest);
    EXPECT_TRUE (rig.probe.getSent().empty());
}

TEST (ControllerEmulatorFaults, UnplugDuringTheEraseWaitThenTakeTheImage)
{
    auto config = testConfig();
    config.faults.unplugDuringEraseWaitMs = 30;
    Rig rig (config);
    rig.feed (eraseRequest);
    EXPECT_FALSE (rig.emulator.isPresent());

    ASSERT_TRUE (pumpUntil ([&] { return rig.emulator.isPresent(); }, 2000));
    EXPECT_EQ (rig.emulator.getState(), ControllerEmulator::State::receiving);

    rig.feedInSlices (testImage());
    EXPECT_EQ (rig.emulator.getCounts().imagesAccepted, 1);
    ASSERT_TRUE (pumpUntil ([&] { return rig.probe.getPresence().size() == 4; }, 2000));
}

TEST (ControllerEmulatorFaults, ComesBackUnderTheAlternateName)
{
    auto config = testConfig();
    config.faults.comeBackUnderAlternateName = true;
    Rig rig (config);
    EXPECT_EQ (rig.emulator.getPortName(), deviceMidiPortName) << "plugging in by hand keeps the name";

    rig.feed (eraseRequest);
    rig.feed (testImage());
    ASSERT_TRUE (pumpUntil ([&] { return rig.probe.getPresence().size() == 2; }, 2000));

    const auto presence = rig.probe.getPresence();
    EXPECT_EQ (presence[0], std::make_pair (false, deviceMidiPortName));
    EXPECT_EQ (presence[1], std::make_pair (true, usbAudioDeviceMidiPortName));
    EXPECT_EQ (rig.emulator.getPortName(), usbAudioDeviceMidiPortName);
}

TEST (ControllerEmulatorFaults, MixesUnrelatedMidiIntoItsOutputDuringATransfer)
{
    auto config = testConfig();
    config.faults.mixUnrelatedMidi = true;
    Rig rig (config);
    rig.feed (identityRequest);
    EXPECT_EQ (rig.probe.getSent().size(), 1u) << "nothing is mixed in outside a transfer";

    rig.feed (eraseRequest);
    const auto* image = static_cast<const char*> (testImage().getData());
    rig.emulator.receive (image, 256);
    rig.emulator.receive (image + 256, 256);

    const auto sent = rig.probe.getSent();
    ASSERT_EQ (sent.size(), 5u);
    EXPECT_EQ (sent[1], block ({ 0xf8 }));
    EXPECT_EQ (sent[2], block ({ 0x90, 0x3c, 0x64 }));
    EXPECT_EQ (sent[3], block ({ 0xf8 }));
    EXPECT_EQ (sent[4], block ({ 0x80, 0x3c, 0x00 }));
}

//==============================================================================
TEST (ControllerEmulator, StressConcurrentRequestsAreEachAnsweredOnce)
{
    Rig rig;
    constexpr int threads = 4, requestsPerThread = 500;
    std::atomic<bool> go { false };
    std::vector<std::thread> senders;

    for (int t = 0; t < threads; ++t)
        senders.emplace_back ([&] {
            while (! go)
                std::this_thread::yield();

            for (int i = 0; i < requestsPerThread; ++i)
            {
                rig.feed (identityRequest);
                juce::ignoreUnused (rig.emulator.getCounts(), rig.emulator.getState());
            }
        });

    go = true;
    for (auto& s : senders)
        s.join();

    EXPECT_EQ (rig.emulator.getCounts().identityRequests, threads * requestsPerThread);
    EXPECT_EQ (rig.repliesOfLength (37), threads * requestsPerThread);
}
