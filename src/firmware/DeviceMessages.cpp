#include "firmware/DeviceMessages.h"

#include <algorithm>

namespace
{
    constexpr auto m1 = device_codes::manufacturerId[0];
    constexpr auto m2 = device_codes::manufacturerId[1];
    constexpr auto m3 = device_codes::manufacturerId[2];

    static_assert (m1 == 0x00, "a three-byte MIDI manufacturer identifier starts with 00");
    static_assert (m2 < 0x80 && m3 < 0x80, "System Exclusive data bytes are 7-bit");

    constexpr size_t versionOffset = 12;
} // namespace

const std::array<juce::uint8, 6> identityRequestMessage { 0xf0, 0x7e, 0x7f, 0x06, 0x01, 0xf7 };

const std::array<juce::uint8, 11> identityReplyPrefix { 0xf0, 0x7e, 0x00, 0x06, 0x02,
                                                        m1, m2, m3,
                                                        modelCode, 0x00, 0x19 };

const std::array<juce::uint8, 16> eraseRequestMessage { 0xf0,
                                                        m1, m2, m3,
                                                        device_codes::eraseDeviceByte,
                                                        modelCode,
                                                        device_codes::eraseCommand,
                                                        0x00, 0x01, 0x49, 0x01, 0x01, 0x00, 0x00, 0x00,
                                                        0xf7 };

std::optional<double> parseIdentityReply (const void* data, size_t size)
{
    if (data == nullptr || size != (size_t) identityReplyLength)
        return std::nullopt;

    const auto* bytes = static_cast<const juce::uint8*> (data);

    if (bytes[0] != 0xf0 || ! std::equal (identityReplyPrefix.begin(), identityReplyPrefix.end(), bytes))
        return std::nullopt;

    // The parts are joined as digits, not added: 01 02 0A reads "1.210", which is 1.21.
    const auto text = juce::String (bytes[versionOffset]) + "."
                      + juce::String (bytes[versionOffset + 1])
                      + juce::String (bytes[versionOffset + 2]);

    return text.getDoubleValue();
}

std::optional<double> parseIdentityReply (const juce::MidiMessage& message)
{
    return parseIdentityReply (message.getRawData(), (size_t) message.getRawDataSize());
}
