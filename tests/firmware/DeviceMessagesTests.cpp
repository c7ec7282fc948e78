#include "firmware/DeviceMessages.h"

#include <gtest/gtest.h>

#include <vector>

namespace
{
    using Bytes = std::vector<juce::uint8>;

    template <typename Container>
    Bytes bytesOf (const Container& c)
    {
        return Bytes (c.begin(), c.end());
    }

    Bytes imageBytes()
    {
        const auto* begin = reinterpret_cast<const juce::uint8*> (firmwareImage);
        return Bytes (begin, begin + firmwareImageSize);
    }

    /** A well-formed identity reply with these version bytes; every byte the
        parser must not examine is set to something unusual. */
    Bytes makeReply (juce::uint8 v1, juce::uint8 v2, juce::uint8 v3)
    {
        Bytes reply (identityReplyPrefix.begin(), identityReplyPrefix.end());
        reply.push_back (0x55); // model number, high byte
        reply.insert (reply.end(), { v1, v2, v3 });

        while (reply.size() < 36)
            reply.push_back ((juce::uint8) (reply.size() * 3 % 0x80));

        reply.push_back (0xf7);
        return reply;
    }

    std::optional<double> parse (const Bytes& bytes)
    {
        return parseIdentityReply (bytes.data(), bytes.size());
    }

    void expectOneSysexWith7BitBody (const Bytes& message)
    {
        ASSERT_GE (message.size(), 2u);
        EXPECT_EQ (message.front(), 0xf0);
        EXPECT_EQ (message.back(), 0xf7);

        for (size_t i = 1; i + 1 < message.size(); ++i)
            ASSERT_LT (message[i], 0x80) << "at offset " << i;
    }
} // namespace

TEST (DeviceMessages, WireBytesArePinned)
{
    EXPECT_EQ (Bytes (std::begin (device_codes::manufacturerId), std::end (device_codes::manufacturerId)), (Bytes { 0x00, 0x7f, 0x7f }));
    EXPECT_EQ (bytesOf (identityRequestMessage), (Bytes { 0xf0, 0x7e, 0x7f, 0x06, 0x01, 0xf7 }));
    EXPECT_EQ (bytesOf (identityReplyPrefix),
               (Bytes { 0xf0, 0x7e, 0x00, 0x06, 0x02, 0x00, 0x7f, 0x7f, 0x2c, 0x00, 0x19 }));
    EXPECT_EQ (bytesOf (eraseRequestMessage),
               (Bytes { 0xf0, 0x00, 0x7f, 0x7f, 0x7f, 0x2c, 0x75, 0x00, 0x01, 0x49, 0x01, 0x01, 0x00, 0x00, 0x00, 0xf7 }));

    ASSERT_EQ (firmwareImageSize, 146777);
    const auto image = imageBytes();
    EXPECT_EQ (Bytes (image.begin(), image.begin() + 7), (Bytes { 0xf0, 0x00, 0x7f, 0x7f, 0x00, 0x2c, 0x70 }));
}

TEST (DeviceMessages, EveryMessageSentIsOneSysexWithA7BitBody)
{
    expectOneSysexWith7BitBody (bytesOf (identityRequestMessage));
    expectOneSysexWith7BitBody (bytesOf (eraseRequestMessage));
    expectOneSysexWith7BitBody (imageBytes());
}

TEST (IdentityReply, VersionPartsAreJoinedAsDigits)
{
    struct Case
    {
        juce::uint8 v1, v2, v3;
        double expected;
    };

    const Case cases[] = {
        { 0x01, 0x00, 0x05, 1.05 },
        { 0x01, 0x0a, 0x00, 1.1 },  // "1.100"
        { 0x01, 0x02, 0x0a, 1.21 }, // "1.210", not 1.12
        { 0x00, 0x00, 0x00, 0.0 },
        { 0x02, 0x00, 0x00, 2.0 }, // "2.00"
        { 0x7f, 0x7f, 0x7f, 127.127127 },
    };

    for (const auto& c : cases)
    {
        const auto version = parse (makeReply (c.v1, c.v2, c.v3));
        ASSERT_TRUE (version.has_value()) << int (c.v1) << " " << int (c.v2) << " " << int (c.v3);
        EXPECT_DOUBLE_EQ (*version, c.expected) << int (c.v1) << " " << int (c.v2) << " " << int (c.v3);
    }
}

TEST (IdentityReply, OnlyLengthAndPrefixAreExamined)
{
    auto reply = makeReply (1, 0, 5);

    for (size_t i = 15; i < reply.size(); ++i)
        reply[i] = 0x7f;

    reply[11] = 0x00;

    const auto version = parse (reply);
    ASSERT_TRUE (version.has_value());
    EXPECT_DOUBLE_EQ (*version, 1.05);
}

TEST (IdentityReply, WrongLengthsAreIgnored)
{
    auto shorter = makeReply (1, 0, 5);
    shorter.erase (shorter.begin() + 20);
    EXPECT_EQ (shorter.size(), 36u);
    EXPECT_FALSE (parse (shorter).has_value());

    auto longer = makeReply (1, 0, 5);
    longer.insert (longer.begin() + 20, 0x00);
    EXPECT_EQ (longer.size(), 38u);
    EXPECT_FALSE (parse (longer).has_value());

    EXPECT_FALSE (parse (bytesOf (identityReplyPrefix)).has_value());
    EXPECT_FALSE (parseIdentityReply (nullptr, 37).has_value());
    EXPECT_FALSE (parseIdentityReply (nullptr, 0).has_value());
}

TEST (IdentityReply, AnyDifferenceInTheFirstElevenBytesIsIgnored)
{
    // Offset 2 = 7F is a reply addressed to "all devices"; offsets 5 to 7 are
    // another maker; 8 to 10 another family or model.
    for (size_t offset = 0; offset < identityReplyPrefix.size(); ++offset)
    {
        auto reply = makeReply (1, 0, 5);
        reply[offset] = offset == 2 ? 0x7f : (juce::uint8) (reply[offset] ^ 0x01);
        EXPECT_FALSE (parse (reply).has_value()) << "byte " << offset << " changed";
    }

    auto otherMaker = makeReply (1, 0, 5);
    otherMaker[5] = 0x00;
    otherMaker[6] = 0x20;
    otherMaker[7] = 0x6b;
    EXPECT_FALSE (parse (otherMaker).has_value());
}

TEST (IdentityReply, ParsesAMidiMessageAsDeliveredByTheInput)
{
    const auto reply = makeReply (1, 0, 5);
    const juce::MidiMessage message (reply.data(), (int) reply.size(), 0.0);
    ASSERT_TRUE (message.isSysEx());

    const auto version = parseIdentityReply (message);
    ASSERT_TRUE (version.has_value());
    EXPECT_DOUBLE_EQ (*version, 1.05);

    EXPECT_FALSE (parseIdentityReply (juce::MidiMessage::noteOn (1, 60, (juce::uint8) 100)).has_value());
    EXPECT_FALSE (parseIdentityReply (juce::MidiMessage (identityRequestMessage.data(), 6, 0.0)).has_value());
}
